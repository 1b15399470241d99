#pragma once
// The ordered list of a task's triggers.

#include "ComBase.h"
#include "kvTaskTypes.h"

#include <QStringList>
#include <memory>
#include <vector>

class TTaskItem;
class TTrigger;
class ITask;
class ITriggerCollection;

/// The triggers of one task item, 0-based and in the service's order: after `InitTriggers`
/// item i stands for the service's trigger i (1.0 index i, 2.0 collection position i + 1).
/// The task item creates and owns the collection; the collection owns its triggers.
///
/// Which generation is in force is asked of the task item's scheduler at every call.
/// `Add`, `Delete` and `Clear` change the service's task object (1.0) or task definition
/// (2.0) at once; the task item's save stores them.
class TTriggers {
public:
    /// An empty collection of the task item `AOwner` (not owned).
    explicit TTriggers(TTaskItem* AOwner);
    /// Frees the triggers; the service is not touched.
    ~TTriggers();
    TTriggers(const TTriggers&) = delete;
    TTriggers& operator=(const TTriggers&) = delete;

    /// Creates a trigger of kind `ttype` in the service's task object and appends an item
    /// for it. 2.0: `ttUnknown` creates nothing and gives null. 1.0: a kind the 1.0 record
    /// cannot carry (`ttOnConnect` and later) raises `ETriggerError` and creates nothing.
    TTrigger* Add(TTriggerType ttype);
    /// Removes trigger `Index` from the service's task object, then the item. Raises the
    /// index error for an index out of bounds; a failed removal keeps the item.
    void Delete(int Index);
    /// Removes every trigger from the service's task object, last first, then frees all items.
    void Clear();
    /// Rebuilds the collection from the service, discarding unsent changes.
    void InitTriggers();
    /// Sends every item to its service trigger (1.0: the whole record; 2.0: the writer of
    /// the item's kind).
    void UpdateTriggers();
    /// Replaces `AStrings` with the triggers' descriptions: "<Task not scheduled>" for none,
    /// the one text for one trigger, "%d. %s" lines numbered from 1 for more.
    void GetTriggerStrings(QStringList& AStrings);

    /// Item `Index`; raises `ETriggerError` "Trigger index out of bounds (%d)" outside 0 .. count − 1.
    TTrigger* GetItem(int Index) const;
    /// The number of items (the collection's own count; no service call).
    int GetCount() const { return static_cast<int>(FItems.size()); }
    /// The same as `GetCount`.
    int Count() const { return GetCount(); }
    /// The position of `ATrigger` in this collection, or −1 when it is not one of its items.
    int IndexOf(const TTrigger* ATrigger) const;

    /// The owning task item.
    TTaskItem* GetTaskItem() const { return FTaskItem; }

private:
    friend class TTrigger;

    /// True when the task item's scheduler has the 2.0 generation in force.
    bool TasksInVista() const;
    /// The task item's 1.0 task object; the not-activated error when it has none.
    ComPtr<ITask> LegacyTask() const;
    /// The task definition's 2.0 trigger collection; the not-activated error without a definition.
    ComPtr<ITriggerCollection> VistaTriggers() const;

    TTaskItem* FTaskItem;
    std::vector<std::unique_ptr<TTrigger>> FItems;
};
