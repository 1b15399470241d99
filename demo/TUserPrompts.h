#pragma once
// The questions and messages the application puts to its user. The main window asks
// through one of these, so that a test can answer in the user's place.

#include <QMessageBox>
#include <QString>

class QIcon;
class QUrl;
class QWidget;

/// Shows the application's message boxes and standard dialogs, modally, over `AParent`.
class TUserPrompts {
public:
    virtual ~TUserPrompts() = default;

    /// The application's error report: a message box with the error's text and `AIcon`
    /// (critical for a real failure, a warning for what is not available or refused).
    virtual void ShowException(QWidget* AParent, const QString& AMessage, QMessageBox::Icon AIcon = QMessageBox::Critical);
    /// A message box with `AText`, the caption `ACaption` (empty: the application title) and `AIcon`.
    virtual void ShowMessage(QWidget* AParent, const QString& AText, const QString& ACaption = {},
                             QMessageBox::Icon AIcon = QMessageBox::NoIcon);
    /// A warning that offers Yes and No; true for Yes.
    virtual bool ConfirmWarning(QWidget* AParent, const QString& AText);
    /// A question that offers Yes and No; true for Yes.
    virtual bool AskQuestion(QWidget* AParent, const QString& AText);
    /// Asks for one line of text, starting from `AValue`; false when cancelled.
    virtual bool InputQuery(QWidget* AParent, const QString& ACaption, const QString& APrompt, QString& AValue);
    /// Asks for an existing executable file; false when cancelled.
    virtual bool SelectExecutable(QWidget* AParent, QString& AFileName);
    /// Asks for the program a task runs, starting at `AFileName` (the current choice); false when
    /// cancelled. Only an executable file is accepted.
    virtual bool SelectProgram(QWidget* AParent, QString& AFileName);
    /// Asks for a computer, typed in or picked from the hosts this user knows; false when cancelled.
    virtual bool SelectTargetComputer(QWidget* AParent, const QString& ATitle, QString& AComputer);
    /// The about box: the application's text, a notice line and its icon.
    virtual void ShowAbout(QWidget* AParent, const QString& AAppText, const QString& ANotice, const QIcon& AIcon);
    /// Opens a web address in the user's browser; false when no browser could be started.
    virtual bool OpenUrl(const QUrl& AUrl);

    /// The width a window needs so that its title shows whole beside the frame's buttons.
    static int TitleWidth(const QWidget& ABox);
};
