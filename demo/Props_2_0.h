#pragma once
// The 2.0 properties form's entry point.

class TTaskItem;

/// Edits the 2.0 task `ATask` in the multi-page properties form; true when the user pressed
/// OK and the changes were saved.
bool EditTask20Properties(TTaskItem* ATask);
