#pragma once
// The library's dialog components: the service's classic property pages of a 1.0 task,
// shown in one modal property sheet.

#include "PropSheet.h"
#include "kvErrors.h"
#include "kvTaskTypes.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class TTaskScheduler;
class TTaskItem;

/// One option of the property sheet.
enum TTaskPropDlgOption : quint8 { otNoApplyNow, otNoContextHelp, otDisplayIcon };
using TTaskPropDlgOptions = TSet<TTaskPropDlgOption>;

/// Base of the library's dialog components: the scheduler they work with.
class TTaskCommonDialog : public QObject {
    Q_OBJECT
public:
    /// A component owned by `AOwner` (the Qt parent), with no scheduler.
    explicit TTaskCommonDialog(QObject* AOwner = nullptr);

    /// The scheduler; null once the scheduler it named was destroyed.
    TTaskScheduler* GetTaskScheduler() const;
    /// Names the scheduler (not owned); its destruction empties the reference.
    void SetTaskScheduler(TTaskScheduler* Value);

protected:
    /// Called when a component this one refers to is being removed; forgets the scheduler.
    virtual void Notification(QObject* AComponent);

    TTaskScheduler* FTaskScheduler = nullptr;

private:
    QMetaObject::Connection FRemoval;
};

class TTaskPropertiesDialog;
/// Called after Apply, with the component and its task.
using TTaskApplyEvent = std::function<void(TTaskPropertiesDialog* Sender, TTaskItem* ATask)>;

/// Shows the service's own property pages of one 1.0 task in a modal sheet. In the 2.0
/// generation it shows nothing.
class TTaskPropertiesDialog : public TTaskCommonDialog {
    Q_OBJECT
public:
    /// Pages [ptSchedule, ptSettings], no options, no caption.
    explicit TTaskPropertiesDialog(QObject* AOwner = nullptr);
    ~TTaskPropertiesDialog() override;

    /// The sheet's caption; empty: the task name as a properties title.
    QString GetCaption() const { return FCaption; }
    void SetCaption(const QString& Value) { FCaption = Value; }
    /// The sheet's options.
    TTaskPropDlgOptions GetOptions() const { return FOptions; }
    void SetOptions(TTaskPropDlgOptions Value) { FOptions = Value; }
    /// The pages shown.
    TPageTypes GetPages() const { return FPages; }
    /// Raises ETaskDialogError "At least one page must be specified." for the empty set and
    /// keeps the pages it had.
    void SetPages(TPageTypes Value);
    /// The name of the task shown.
    QString GetTaskName() const { return FTaskName; }
    void SetTaskName(const QString& Value) { FTaskName = Value; }
    /// Called after each Apply, once the triggers are reloaded.
    const TTaskApplyEvent& GetOnApply() const { return FOnApply; }
    void SetOnApply(TTaskApplyEvent Value) { FOnApply = std::move(Value); }
    /// The task found by the last Execute.
    TTaskItem* GetTask() const { return FTask; }

    /// Shows the sheet modally; true when it was shown and its changes were applied. False
    /// in the 2.0 generation and for a task without pages. Raises ETaskDialogError without
    /// a scheduler or when the task cannot be activated.
    bool Execute();

private:
    /// The sheet callback: on initialisation takes over the sheet being opened.
    static int SheetCallback(HWND hwndDlg, UINT uMsg, LPARAM lParam);
    /// The procedure put in front of the sheet's own while it is shown.
    LRESULT WndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    TTaskItem* FTask = nullptr;
    TPageTypes FPages;
    QString FCaption;
    QString FTaskName;
    HWND FDialogHandle = nullptr;
    SHEETPROC FDefDlgProc;
    SHEETPROC FObjectInstance;
    TTaskApplyEvent FOnApply;
    TTaskPropDlgOptions FOptions;
};
