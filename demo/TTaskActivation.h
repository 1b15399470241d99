#pragma once
// Keeps a task item activated for one piece of work.

class TTaskItem;

/// Activates a task item on construction and deactivates it without saving when it goes,
/// however the work in between ends; `DeactivateSaving` ends it with the changes saved.
class TTaskActivation {
public:
    explicit TTaskActivation(TTaskItem* ATask);
    ~TTaskActivation();
    TTaskActivation(const TTaskActivation&) = delete;
    TTaskActivation& operator=(const TTaskActivation&) = delete;

    /// Deactivates the task, saving its changes; a failed save reaches the caller, and the
    /// task is then deactivated without saving.
    void DeactivateSaving();

private:
    TTaskItem* FTask;
};
