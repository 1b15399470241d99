#pragma once
// The in-memory state of one client-side definition. Triggers and actions are held one by
// one, so that an object handed out for one keeps working on it while others are added or
// removed; a removed one lives on, detached, as long as someone holds it.

#include "gen2/TaskDocument.h"

#include <QList>
#include <memory>

struct DefinitionModel {
    /// Everything but the triggers and actions (whose lists here stay empty).
    TaskDocument doc;
    QList<std::shared_ptr<TriggerData>> triggers;
    QList<std::shared_ptr<ActionData>> actions;

    /// The whole definition as one document.
    TaskDocument ToDocument() const
    {
        TaskDocument full = doc;
        for (const auto& t : triggers) full.triggers.append(*t);
        for (const auto& a : actions) full.actions.append(*a);
        return full;
    }

    /// Replaces the whole definition.
    void Assign(const TaskDocument& full)
    {
        doc = full;
        // Emptied by assignment: clear() on a list shared with `full` would allocate a new
        // buffer of the same capacity, kept for as long as the definition lives.
        doc.triggers = {};
        doc.actions = {};
        triggers = {};
        actions = {};
        triggers.reserve(full.triggers.size());
        actions.reserve(full.actions.size());
        for (const TriggerData& t : full.triggers) triggers.append(std::make_shared<TriggerData>(t));
        for (const ActionData& a : full.actions) actions.append(std::make_shared<ActionData>(a));
    }
};
