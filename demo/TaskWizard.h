#pragma once
// The new task wizard's entry point.

class TTaskScheduler;
class TTaskItem;

/// Walks the user through creating one task of `AScheduler`; true when a task was made,
/// which `ATask` then holds (null otherwise).
bool ExecuteNewTaskWizard(TTaskScheduler* AScheduler, TTaskItem*& ATask);
