#pragma once
// The application's main window: the ribbon of commands, the folder tree of the 2.0
// service and the list of the tasks of the selected folder.

#include "ComBase.h"
#include "TTaskListView.h"
#include "TTaskScheduler.h"
#include "kvTaskTypes.h"

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QMainWindow>
#include <memory>
#include <optional>

class ITaskFolder;
class QTreeWidgetItem;
class QMenu;
class TTaskItem;
class TTaskScheduler;
class TUserPrompts;
class TtvFormStorage;

namespace Ui {
class TMainForm;
}

/// The main window. Its commands are the actions named "ac..." (objectNames), shown in the
/// ribbon, the application menu and the context menus `popSelected`, `popView` and
/// `TreePopupMenu`. Errors a command does not handle itself are shown by the application's
/// error report (`TUserPrompts::ShowException`) and leave the window usable.
class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    /// Builds the window, opens `Scheduler` and fills the list (and, in 2.0, the folder tree).
    /// Questions and messages go to `APrompts` (not owned; null: the standard dialogs).
    explicit TMainForm(TUserPrompts* APrompts = nullptr, QWidget* AParent = nullptr);
    ~TMainForm() override;

    /// The scheduler whose tasks the window shows; owned by the window.
    TTaskScheduler* Scheduler;

    /// The list's "Status" text of a task status.
    static QString StatusText(TTaskStatus AStatus);
    /// The list's text of a run time: date-time text, or "Never" when not greater than 1.0.
    static QString RunTimeText(TDateTime ATime);
    /// Texts typical of each list column's cells, which its default width makes room for.
    static QList<QStringList> ColumnSamples();

    // ---- window events ----------------------------------------------------------------
    /// Creation: placement storage, image sizes, list and tree, first ribbon tab.
    void FormCreate();
    /// First display: restores the placement and sets the state of "Task Service 2.0".
    void FormShow();
    /// Closing: stores the placement and frees the storage. `CanClose` stays true.
    void FormCloseQuery(bool& CanClose);

    // ---- list and tree ----------------------------------------------------------------
    /// Rebuilds the task list from the scheduler, in the scheduler's order.
    void TaskSchedulerRefresh();
    /// Rebuilds the folders below `Node` from the service and expands it.
    void TaskSchedulerFolderRefresh(QTreeWidgetItem* Node);
    /// The folder path of `Node`: "\" for the root, "\Reports\Daily" below it.
    static QString GetCurPath(const QTreeWidgetItem* Node);
    /// The tree's selection changed to `Node`: selects its folder in the scheduler and lists it.
    void TreeView1Change(QTreeWidgetItem* Node);
    /// A mouse button went down over the tree at `Pos` (viewport coordinates): selects the node there.
    void TreeView1MouseDown(Qt::MouseButton Button, QPoint Pos);
    /// A mouse button went down over the list at `GlobalPos`: the right one opens a context menu.
    void ListViewMouseDown(Qt::MouseButton Button, QPoint GlobalPos);
    /// A double click on the list opens the task's properties when that command is enabled.
    void ListViewDblClick();
    /// The scheduler's filter: with "Show only own tasks" only tasks whose program is this executable.
    void SchedulerBeforeTaskAdded(TTaskScheduler* Sender, TTaskItem* Task, bool& CanAdd);
    /// Enables and checks the commands that depend on the list's selection and view style.
    void UpdateCommandStates();
    /// Runs every update handler: the window's idle-time hook.
    void UpdateActions();
    /// The service reported a change to a task: its row is brought up to date (added,
    /// refilled or removed) as soon as no command or dialog is at work.
    void SchedulerTaskChanged(TTaskChange AChange, const QString& ATaskName, const QString& AFolderPath);

    // ---- commands -----------------------------------------------------------------------
    void acRefreshExecute();
    void acPropertiesExecute();
    void acPropertiesNewUpdate();
    void acPropertiesNewExecute();
    void acNewExecute();
    void acRunExecute();
    void acDeleteExecute();
    void acCloseExecute();
    void acNewNodeExecute();
    void acNewSubNodeUpdate();
    void acNewSubNodeExecute();
    void acDeleteNodeExecute();
    void acTargetExecute();
    void acSetTargetToLocalExecute();
    /// "Show only own tasks": the action has toggled its check mark; lists again.
    void acShowOwnExecute();
    void acShowHiddenUpdate();
    void acShowHiddenExecute();
    void acUseTaskScheduler2Update();
    /// "Task Service 2.0": the action has toggled its check mark; reconnects in that generation.
    void acUseTaskScheduler2Execute();
    /// "Run custom EXE every 10 minutes during 24 hours".
    void Createtasktorunevery10minutesfor24hours1Click();
    /// "Run notepad.exe every day at 09:00".
    void Runnotepadexeeachdayat09001Click();
    /// "Disable task".
    void Disableselected1Click();
    void acAboutExecute();
    void acHelpHomePageExecute();
    void acHelpProductsExecute();

    /// The logon name of the user running the program.
    static QString GetCurrentUserName();

protected:
    void showEvent(QShowEvent* AEvent) override;
    void closeEvent(QCloseEvent* AEvent) override;
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
    /// Runs `AHandler`, shows what it raises in the application's error report, updates the
    /// commands. False when it raised.
    template <typename F>
    bool Guarded(F AHandler);
    /// A command that needs the service: reconnects first when the service is gone (starting
    /// it), skips `AHandler` when that fails, and notes a service lost while it ran.
    template <typename F>
    void ServiceCommand(F AHandler);
    /// Opens the scheduler afresh; a service that cannot be started says why.
    void OpenService();
    /// Opens the scheduler afresh and lists again: the connection is back.
    void Reconnect();
    /// The service of this computer, whose tasks are shown, no longer runs.
    bool LocalServiceGone();
    /// Connects every action to its handler.
    void ConnectActions();
    /// Fills the ribbon's tabs, groups and application menu.
    void BuildRibbon();
    /// Builds the three context menus.
    void BuildMenus();
    /// Gives the actions their images.
    void AssignImages();
    /// The commands' keys (shown in their hints) and the keys that open the context menus.
    void AssignShortcuts();
    /// What a task's row shows, as far as it could be read.
    struct TTaskRowContents {
        bool Activated = false;
        std::optional<QIcon> Image;
        std::optional<QStringList> SubItems;
    };
    /// Reads what the row of `ATask` shows: its image, then its sub-items.
    void ReadTaskRow(TTaskItem* ATask, TTaskRowContents& AContents);
    /// Refills list row `ARow` from its task.
    void FillTaskRow(int ARow);
    /// The icon of the program file `AProgram`, looked up once per listing.
    QIcon ProgramIcon(const QFileInfo& AProgram);
    /// Applies the reported changes that wait, unless a command or a dialog is at work.
    void ApplyTaskChanges();
    /// Brings the row of one reported task up to date.
    void ApplyTaskChange(TTaskChange AChange, const QString& ATaskName, const QString& AFolderPath);
    /// The row of the task named `ATaskName`, or -1.
    int TaskRow(const QString& ATaskName) const;
    /// List, tree visibility and tree, after start or a change of generation.
    void RefreshView();
    /// Gives the list the icon sizes of the file-icon provider's small and large icons.
    void AttachSystemImageLists();
    /// Sets the list's view style and attaches the image sizes again.
    void SetViewStyle(TViewStyle AStyle);
    /// Adds the sub-folders of `AFolder` below `ANode`, recursively.
    static void AddSubFolders(QTreeWidgetItem* ANode, ITaskFolder* AFolder);
    /// The folder `GetCurPath(ANode)` below the scheduler's root folder.
    ComPtr<ITaskFolder> FolderOf(const QTreeWidgetItem* ANode) const;
    /// Selects `ANode` in the tree and runs the selection change for it.
    void SelectNode(QTreeWidgetItem* ANode);
    /// The task of row `ARow`.
    TTaskItem* RowTask(int ARow) const;
    /// Opens the project's page `AFileName` in the user's browser, or says why it cannot.
    void OpenPage(const QString& AFileName);

    std::unique_ptr<Ui::TMainForm> ui;
    std::unique_ptr<TUserPrompts> FOwnPrompts;
    TUserPrompts* FPrompts;
    std::unique_ptr<TtvFormStorage> FormStorage;
    QFileIconProvider FIconProvider;
    QHash<QString, QIcon> FProgramIcons;
    bool FShown = false;
    /// The service went away (or could not be started): commands that need it stay disabled
    /// until the next command reconnects.
    bool FServiceLost = false;
    /// A reported change that waits to be applied.
    struct TPendingChange {
        TTaskChange Change;
        QString TaskName;
        QString FolderPath;
    };
    QList<TPendingChange> FPendingChanges;
    /// Commands (and the dialogs they open) at work; reported changes wait for them.
    int FBusy = 0;

public:
    /// The icon sizes of the file-icon provider's small and large icons, given to the list.
    QSize himlSysSmall;
    QSize himlSysLarge;

    /// The bar between the folder tree and the list (the splitter's handle); shown with the tree.
    QWidget* Splitter1;
    /// The context menus.
    QMenu* popSelected;
    QMenu* popView;
    QMenu* TreePopupMenu;
    /// The ribbon's application menu ("Quick demos").
    QMenu* ApplicationMenu;
};
