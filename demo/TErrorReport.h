#pragma once
// The application's error report: how grave an error looks, and showing it.

#include <QMessageBox>
#include <exception>

class QWidget;
class TUserPrompts;

/// Shows errors through the application's prompts with an icon that fits them.
class TErrorReport {
public:
    /// The icon for `AError`: a warning where something is not available (the service is not
    /// running or cannot be reached, an interface or feature is missing) or where the service
    /// or the library refuses what was asked (a name, a value, a right, a task in a state that
    /// does not allow it); the critical icon for every other, real failure.
    static QMessageBox::Icon Icon(const std::exception& AError);
    /// Shows `AError`'s message (the service's own words) with Icon(AError) over `AParent`.
    static void Show(TUserPrompts& APrompts, QWidget* AParent, const std::exception& AError);
};
