#pragma once
// The in-memory state of one client-side definition. Triggers and actions are held one by
// one, so that an object handed out for one keeps working on it while others are added or
// removed; a removed one lives on, detached, as long as someone holds it.
//
// A definition of a registered task reads its triggers from the stored document at once and
// the rest on first use: a list of thousands of tasks shows each one's schedule and never
// needs the rest, which would take most of the memory and the time.

#include "StoredText.h"
#include "gen2/TaskDocument.h"
#include "gen2/TaskDocumentCodec.h"

#include <QByteArray>
#include <QList>
#include <memory>
#include <optional>
#include <utility>

class DefinitionModel {
public:
    /// A new definition with the service's defaults.
    DefinitionModel() = default;
    /// A definition holding the whole of `full`.
    explicit DefinitionModel(const TaskDocument& full) { Assign(full); }

    /// The definition of the stored document `xml`, with its triggers read; nothing when the
    /// document does not decode (`problem` says why). The document is accepted and refused as
    /// a whole decode does, so reading the rest later cannot fail.
    static std::shared_ptr<DefinitionModel> OfStored(const StoredText& stored, ValueProblem* problem)
    {
        auto triggers = TaskDocumentCodec::DecodeParts(stored.Read(), TaskDocumentCodec::TriggersPart, problem);
        if (!triggers) return nullptr;
        auto model = std::make_shared<DefinitionModel>();
        model->TakeTriggers(&triggers->triggers);
        model->m_stored = stored;
        return model;
    }

    /// Everything but the triggers and actions (whose lists here stay empty).
    TaskDocument& Doc()
    {
        Complete();
        return *m_doc;
    }
    QList<std::shared_ptr<TriggerData>> triggers;
    QList<std::shared_ptr<ActionData>>& Actions()
    {
        Complete();
        return m_actions;
    }

    /// The whole definition as one document.
    TaskDocument ToDocument()
    {
        Complete();
        TaskDocument full = *m_doc;
        full.triggers.reserve(triggers.size());
        full.actions.reserve(m_actions.size());
        for (const auto& t : triggers) full.triggers.append(*t);
        for (const auto& a : m_actions) full.actions.append(*a);
        return full;
    }

    /// Replaces the whole definition.
    void Assign(const TaskDocument& full)
    {
        m_stored = StoredText();
        m_doc = std::make_unique<TaskDocument>(full);
        // Emptied by assignment: clear() on a list shared with `full` would allocate a new
        // buffer of the same capacity, kept for as long as the definition lives.
        m_doc->triggers = {};
        m_doc->actions = {};
        QList<TriggerData> copy = full.triggers;
        TakeTriggers(&copy);
        m_actions = {};
        m_actions.reserve(full.actions.size());
        for (const ActionData& a : full.actions) m_actions.append(std::make_shared<ActionData>(a));
    }

private:
    void TakeTriggers(QList<TriggerData>* list)
    {
        triggers = {};
        triggers.reserve(list->size());
        for (TriggerData& t : *list) triggers.append(std::make_shared<TriggerData>(std::move(t)));
    }

    /// Reads what the stored document holds besides the triggers, once; a new definition
    /// makes its defaults here.
    void Complete()
    {
        if (m_doc) return;
        m_doc = std::make_unique<TaskDocument>();
        if (m_stored.IsNull()) return;
        const StoredText stored = std::exchange(m_stored, StoredText());
        auto rest = TaskDocumentCodec::DecodeParts(stored.Read(), TaskDocumentCodec::AllParts & ~TaskDocumentCodec::TriggersPart, nullptr);
        // The same bytes were accepted when the triggers were read.
        Q_ASSERT(rest);
        if (!rest) return;
        m_actions.reserve(rest->actions.size());
        for (ActionData& a : rest->actions) m_actions.append(std::make_shared<ActionData>(std::move(a)));
        rest->actions = {};
        *m_doc = std::move(*rest);
    }

    /// Null until first used: a listed definition that only shows its schedule never needs it.
    std::unique_ptr<TaskDocument> m_doc;
    QList<std::shared_ptr<ActionData>> m_actions;
    /// The stored document whose parts but the triggers are not read yet; null once read.
    StoredText m_stored;
};
