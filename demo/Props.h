#pragma once
// The classic properties dialog's entry point and the duration conversions of its lists,
// which the 2.0 properties form shares.

#include <QString>
#include <QStringList>

class TTaskItem;

/// Edits `ATask` in the classic properties dialog; true when the user confirmed.
bool ShowTaskProperties(TTaskItem* ATask);

/// The service's duration text of a duration list's item text: empty for empty text, "PT0S"
/// for a zero item (text not beginning with a digit, such as "Immediately"), the text unchanged
/// when it has no blank (a plain number), else "P%dD", "PT%dH" or "PT%dM" by the first letter
/// of the unit ("d", "h", anything else minutes).
QString GetTimeString(const QString& Text);

/// The index of the item of `Items` that denotes the duration `Value`, -1 when none: 0 for
/// "PT0S" when `IncludesZero`; for a day or more the item "%d day"/"%d days" of the whole days;
/// below a day the first item whose GetTimeString equals `Value` (letter case ignored).
int GetTimeIndex(const QStringList& Items, const QString& Value, bool IncludesZero);
