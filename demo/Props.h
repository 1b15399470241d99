#pragma once
// The classic properties dialog's entry point.

class TTaskItem;

/// Edits `ATask` in the classic properties dialog; true when the user confirmed.
bool ShowTaskProperties(TTaskItem* ATask);
