#include "TMainForm.h"
#include "ui_TMainForm.h"

#include "EnvironmentText.h"
#include "Props.h"
#include "Props_2_0.h"
#include "TRibbon.h"
#include "TTaskActivation.h"
#include "TDemoTasks.h"
#include "TErrorReport.h"
#include "TUserPrompts.h"
#include "TaskService2.h"
#include "TaskWizard.h"
#include "TtvFormStorage.h"
#include "UserAccount.h"
#include "kvTask.h"

#include <QAbstractEventDispatcher>
#include <QAbstractItemView>
#include <QApplication>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyle>
#include <QUrl>
#include <algorithm>
#include <exception>

namespace {

/// A folder node of the tree; nodes sort by their text in the user's locale, ignoring letter case.
class TFolderNode : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& AOther) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        return LocaleCompareText(text(column), AOther.text(column)) < 0;
    }
};

const QString kErrorCaption = QStringLiteral("Task Kelvara");
const QString kTargetTitle =
    QStringLiteral("Select a Target Computer for the Task Scheduler.\r\nNote: You must have administartive rights on it!");
const QString kAboutText = QStringLiteral("Kelvara Demo Application");
const QString kAboutNotice =
    QStringLiteral("Shows, creates, edits and runs the tasks of the scheduling service with the task library.");

/// The project's page `fileName`: the installed copy beside the program's prefix, else the
/// one in the sources this program was built from (a program run from its build tree).
QUrl DocumentPage(const QString& fileName)
{
    const QDir installed(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/taskscheduler-demo"));
    const QString path = installed.exists(fileName) ? installed.filePath(fileName)
                                                    : QDir(QStringLiteral(TS_DOCS_DIR)).filePath(fileName);
    return QUrl::fromLocalFile(QDir::cleanPath(path));
}

/// `AText` ending with a full stop, unless it already ends a sentence: the service's own
/// messages usually do, and a second stop after them reads like a typing error.
QString Sentence(const QString& AText)
{
    const QString trimmed = AText.trimmed();
    if (trimmed.endsWith(QLatin1Char('.')) || trimmed.endsWith(QLatin1Char('!')) || trimmed.endsWith(QLatin1Char('?')))
        return trimmed;
    return trimmed + QLatin1Char('.');
}

/// Runs `AStep` for the task `ATask`; an error it raises is raised again naming the task, so
/// that a failure among several selected tasks says which one failed.
template <typename F>
void ForTask(TTaskItem* ATask, F AStep)
{
    try {
        AStep();
    } catch (const Exception& e) {
        throw Exception(QStringLiteral("Task \"%1\": %2").arg(ATask->GetName(), e.Message()));
    }
}

} // namespace

TMainForm::TMainForm(TUserPrompts* APrompts, QWidget* AParent)
    : QMainWindow(AParent), Scheduler(new TTaskScheduler(this)), ui(std::make_unique<Ui::TMainForm>()),
      FOwnPrompts(APrompts ? nullptr : std::make_unique<TUserPrompts>()),
      FPrompts(APrompts ? APrompts : FOwnPrompts.get())
{
    ui->setupUi(this);
    setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    ui->ListView->SetColumns({QStringLiteral("Name"), QStringLiteral("Schedule"), QStringLiteral("Next Run Time"),
                              QStringLiteral("Last Run Time"), QStringLiteral("Status"), QStringLiteral("Creator")},
                             {});
    // The tree starts 172 pixels wide and keeps its width when the window grows; the user
    // may move the bar between tree and list.
    ui->splTreeList->setStretchFactor(0, 0);
    ui->splTreeList->setStretchFactor(1, 1);
    ui->splTreeList->setSizes({172, width() - 172 - ui->splTreeList->handleWidth()});
    Splitter1 = ui->splTreeList->handle(1);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    ui->splTreeList->setStyleSheet(QStringLiteral(
        "QSplitter::handle:horizontal { width: 2px; border-left: 1px solid palette(light);"
        " border-right: 1px solid palette(dark); }"));
    ui->TreeView1->sortByColumn(0, Qt::AscendingOrder);
    ui->TreeView1->viewport()->installEventFilter(this);
    // The panel is a sunken box (a lowered outer and a raised inner bevel) in colours of its own.
    ui->pnlTarget->setBackgroundRole(QPalette::Window);
    QPalette panel = ui->pnlTarget->palette();
    panel.setColor(QPalette::Window, panel.color(QPalette::Inactive, QPalette::Highlight).lighter(160));
    panel.setColor(QPalette::WindowText, panel.color(QPalette::Active, QPalette::WindowText));
    ui->pnlTarget->setPalette(panel);

    auto* viewStyles = new QActionGroup(this);
    for (QAction* action : {ui->acLargeIcons, ui->acSmallIcons, ui->acList, ui->acDetails}) viewStyles->addAction(action);
    viewStyles->setExclusive(true);

    AssignImages();
    AssignShortcuts();
    BuildMenus();
    BuildRibbon();
    ConnectActions();

    Scheduler->SetAutoRefresh(false);
    Scheduler->SetDuplicate(tdError);
    Scheduler->SetOnBeforeTaskAdded(
        [this](TTaskScheduler* Sender, TTaskItem* Task, bool& CanAdd) { SchedulerBeforeTaskAdded(Sender, Task, CanAdd); });
    connect(Scheduler, &TTaskScheduler::TaskChanged, this, &TMainForm::SchedulerTaskChanged);
    // The scheduler is set up active: it opens while the window is built. Without a
    // connection the window still comes up, empty, and says why.
    Guarded([this] { OpenService(); });
    Guarded([this] { FormCreate(); });

    // The commands' states follow the application's idle moments, as well as every change of selection.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TMainForm::UpdateActions);
}

TMainForm::~TMainForm() = default;

template <typename F>
bool TMainForm::Guarded(F AHandler)
{
    bool done = false;
    ++FBusy;
    try {
        AHandler();
        done = true;
    } catch (const std::exception& e) {
        TErrorReport::Show(*FPrompts, this, e);
    }
    --FBusy;
    ApplyTaskChanges();
    UpdateActions();
    return done;
}

bool TMainForm::LocalServiceGone()
{
    // Another computer's service is reached anew by the next call itself; opening this
    // computer's service again would leave that computer.
    return !Scheduler->TargetIsRemote() && !Scheduler->SchedulerServiceRunning();
}

template <typename F>
void TMainForm::ServiceCommand(F AHandler)
{
    if (FServiceLost || !Scheduler->GetActive() || LocalServiceGone()) {
        FServiceLost = true;
        if (!Guarded([this] { Reconnect(); })) return;
    }
    if (!Guarded(AHandler) && LocalServiceGone()) {
        FServiceLost = true;
        UpdateActions();
    }
}

void TMainForm::OpenService()
{
    try {
        Scheduler->SetActive(false);
        Scheduler->SetActive(true);
    } catch (const Exception& e) {
        const QString reason = Scheduler->StartError();
        if (reason.isEmpty()) throw;
        throw Exception(e.Message() + QStringLiteral("\r\n") + reason);
    }
}

void TMainForm::Reconnect()
{
    OpenService();
    FServiceLost = false;
    RefreshView();
}

void TMainForm::AssignImages()
{
    const auto icon = [this](QStyle::StandardPixmap pixmap) { return style()->standardIcon(pixmap); };
    ui->acRefresh->setIcon(icon(QStyle::SP_BrowserReload));
    ui->acProperties->setIcon(icon(QStyle::SP_FileDialogDetailedView));
    ui->acPropertiesNew->setIcon(icon(QStyle::SP_FileDialogInfoView));
    ui->acNew->setIcon(icon(QStyle::SP_FileIcon));
    ui->acRun->setIcon(icon(QStyle::SP_MediaPlay));
    ui->acDelete->setIcon(icon(QStyle::SP_TrashIcon));
    ui->acClose->setIcon(icon(QStyle::SP_DialogCloseButton));
    ui->acLargeIcons->setIcon(icon(QStyle::SP_FileDialogContentsView));
    ui->acSmallIcons->setIcon(icon(QStyle::SP_FileDialogListView));
    ui->acList->setIcon(icon(QStyle::SP_FileDialogListView));
    ui->acDetails->setIcon(icon(QStyle::SP_FileDialogDetailedView));
    ui->acUseTaskScheduler2->setIcon(icon(QStyle::SP_DriveNetIcon));
    ui->acShowHidden->setIcon(icon(QStyle::SP_TitleBarUnshadeButton));
    ui->acShowOwn->setIcon(icon(QStyle::SP_DirHomeIcon));
    ui->acTarget->setIcon(icon(QStyle::SP_ComputerIcon));
    ui->acSetTargetToLocal->setIcon(icon(QStyle::SP_DesktopIcon));
    ui->acNewNode->setIcon(icon(QStyle::SP_FileDialogNewFolder));
    ui->acNewSubNode->setIcon(icon(QStyle::SP_DirOpenIcon));
    ui->acDeleteNode->setIcon(icon(QStyle::SP_DirClosedIcon));
    ui->acQucikRunCustomEXE->setIcon(icon(QStyle::SP_MediaSeekForward));
    ui->acQuickRunNotepad->setIcon(icon(QStyle::SP_FileDialogStart));
    ui->acQuickDisable->setIcon(icon(QStyle::SP_MediaStop));
    ui->acAbout->setIcon(icon(QStyle::SP_MessageBoxInformation));
    ui->acHelpHomePage->setIcon(icon(QStyle::SP_DirHomeIcon));
    ui->acHelpProducts->setIcon(icon(QStyle::SP_FileDialogContentsView));
}

void TMainForm::AssignShortcuts()
{
    ui->acRefresh->setShortcut(QKeySequence(Qt::Key_F5));
    ui->acNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    ui->acClose->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Delete and Enter mean the list's tasks while the list has the focus, and Delete the
    // selected folder while the tree has it.
    ui->acDelete->setShortcut(QKeySequence(QKeySequence::Delete));
    ui->acProperties->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    ui->acDeleteNode->setShortcut(QKeySequence(QKeySequence::Delete));
    for (QAction* action : {ui->acDelete, ui->acProperties}) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        ui->ListView->addAction(action);
    }
    ui->acDeleteNode->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ui->TreeView1->addAction(ui->acDeleteNode);
    for (QAction* action : findChildren<QAction*>()) {
        if (!action->shortcut().isEmpty())
            action->setToolTip(QStringLiteral("%1 (%2)").arg(action->toolTip(), action->shortcut().toString(QKeySequence::NativeText)));
    }

    // The keyboard's way to a context menu, where the mouse would click.
    const auto contextKeys = [this](QWidget* AWidget, auto AOpen) {
        for (const QKeySequence& key : {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
            auto* shortcut = new QShortcut(key, AWidget, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
            connect(shortcut, &QShortcut::activated, this, AOpen);
        }
    };
    contextKeys(ui->ListView, [this] {
        QAbstractItemView* view = ui->ListView->CurrentView();
        const QRect item = view->visualRect(view->currentIndex());
        const QPoint at = item.isValid() ? item.center() : QPoint(0, 0);
        ListViewMouseDown(Qt::RightButton, view->viewport()->mapToGlobal(at));
    });
    contextKeys(ui->TreeView1, [this] {
        const QRect item = ui->TreeView1->visualItemRect(ui->TreeView1->currentItem());
        TreePopupMenu->popup(ui->TreeView1->viewport()->mapToGlobal(item.isValid() ? item.center() : QPoint(0, 0)));
    });
}

void TMainForm::BuildMenus()
{
    popSelected = new QMenu(this);
    popSelected->setObjectName(QStringLiteral("popSelected"));
    popSelected->addAction(ui->acRun);
    popSelected->addSeparator();
    popSelected->addActions({ui->acDelete, ui->acProperties, ui->acPropertiesNew});

    popView = new QMenu(this);
    popView->setObjectName(QStringLiteral("popView"));
    popView->addAction(ui->acNew);
    popView->addSeparator();
    popView->addActions({ui->acLargeIcons, ui->acSmallIcons, ui->acList, ui->acDetails});
    popView->addSeparator();
    popView->addAction(ui->acRefresh);
    popView->addSeparator();
    popView->addAction(ui->acShowHidden);

    TreePopupMenu = new QMenu(this);
    TreePopupMenu->setObjectName(QStringLiteral("TreePopupMenu"));
    TreePopupMenu->addActions({ui->acNewNode, ui->acNewSubNode});
    TreePopupMenu->addSeparator();
    TreePopupMenu->addAction(ui->acDeleteNode);

    ApplicationMenu = new QMenu(this);
    ApplicationMenu->setObjectName(QStringLiteral("ApplicationMenu"));
    QMenu* folder = ApplicationMenu->addMenu(QStringLiteral("Folder"));
    folder->setObjectName(QStringLiteral("ApplicationMenuFolder"));
    folder->addActions({ui->acNew, ui->acProperties, ui->acQuickDisable, ui->acDelete, ui->acRun});
    folder->addSeparator();
    folder->addAction(ui->acRefresh);
    folder->addSeparator();
    folder->addActions({ui->acNewNode, ui->acNewSubNode, ui->acDeleteNode});
    ApplicationMenu->addSection(QStringLiteral("Recent"));
    ApplicationMenu->addActions({ui->acQuickRunNotepad, ui->acQucikRunCustomEXE});
    ApplicationMenu->addSeparator();
    ApplicationMenu->addAction(ui->acClose);
}

void TMainForm::BuildRibbon()
{
    TRibbon* ribbon = ui->RibbonMain;
    ribbon->SetCaption(QStringLiteral("Task Scheduler Demo"));
    ribbon->SetApplicationMenu(QStringLiteral("Quick demos"), ApplicationMenu);

    // Alt and a tab's underlined letter bring that tab forward.
    const int file = ribbon->AddTab(QStringLiteral("&File"));
    TRibbonGroup* group = ribbon->AddGroup(file, QStringLiteral("New"));
    group->AddLarge(ui->acNew);
    group->AddSeparator();
    group->AddLarge(ui->acNewNode);
    group->AddSeparator();
    group->AddLarge(ui->acNewSubNode);
    group = ribbon->AddGroup(file, QStringLiteral("Selected"));
    group->AddLargeDropDown(QStringLiteral("Properties"), {ui->acProperties, ui->acPropertiesNew});
    group->AddSeparator();
    group->AddLarge(ui->acRun);
    group->AddLarge(ui->acDelete);
    group->AddSeparator();
    group->AddLarge(ui->acDeleteNode);
    group = ribbon->AddGroup(file, QStringLiteral("Quick Demos"));
    group->AddLargeDropDown(QStringLiteral("Demo tasks"), {ui->acQucikRunCustomEXE, ui->acQuickRunNotepad});
    group->AddSeparator();
    group->AddLarge(ui->acQuickDisable);

    const int view = ribbon->AddTab(QStringLiteral("&View"));
    group = ribbon->AddGroup(view, QStringLiteral("General"));
    group->AddLarge(ui->acUseTaskScheduler2);
    group->AddSeparator();
    group->AddLarge(ui->acRefresh);
    group = ribbon->AddGroup(view, QStringLiteral("Tasks List"));
    group->AddSmallRows({{ui->acLargeIcons, ui->acSmallIcons}, {ui->acList, ui->acDetails}});
    group = ribbon->AddGroup(view, QStringLiteral("Tasks"));
    group->AddLarge(ui->acShowOwn);
    group->AddLarge(ui->acShowHidden);

    const int target = ribbon->AddTab(QStringLiteral("&Target"));
    group = ribbon->AddGroup(target, QStringLiteral("Target"));
    group->AddLarge(ui->acTarget);
    group->AddSeparator();
    group->AddLarge(ui->acSetTargetToLocal);

    const int help = ribbon->AddTab(QStringLiteral("&Help"));
    group = ribbon->AddGroup(help, QStringLiteral("About"));
    group->AddLarge(ui->acAbout);
    group = ribbon->AddGroup(help, QStringLiteral("Info"));
    group->AddLarge(ui->acHelpHomePage);
    group->AddSeparator();
    group->AddLarge(ui->acHelpProducts);
}

void TMainForm::ConnectActions()
{
    const auto on = [this](QAction* action, void (TMainForm::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, handler] { ServiceCommand([this, handler] { (this->*handler)(); }); });
    };
    const auto offline = [this](QAction* action, void (TMainForm::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    on(ui->acRefresh, &TMainForm::acRefreshExecute);
    on(ui->acProperties, &TMainForm::acPropertiesExecute);
    on(ui->acPropertiesNew, &TMainForm::acPropertiesNewExecute);
    on(ui->acNew, &TMainForm::acNewExecute);
    on(ui->acRun, &TMainForm::acRunExecute);
    on(ui->acDelete, &TMainForm::acDeleteExecute);
    offline(ui->acClose, &TMainForm::acCloseExecute);
    on(ui->acNewNode, &TMainForm::acNewNodeExecute);
    on(ui->acNewSubNode, &TMainForm::acNewSubNodeExecute);
    on(ui->acDeleteNode, &TMainForm::acDeleteNodeExecute);
    on(ui->acTarget, &TMainForm::acTargetExecute);
    on(ui->acSetTargetToLocal, &TMainForm::acSetTargetToLocalExecute);
    on(ui->acShowOwn, &TMainForm::acShowOwnExecute);
    on(ui->acShowHidden, &TMainForm::acShowHiddenExecute);
    offline(ui->acUseTaskScheduler2, &TMainForm::acUseTaskScheduler2Execute);
    on(ui->acQucikRunCustomEXE, &TMainForm::Createtasktorunevery10minutesfor24hours1Click);
    on(ui->acQuickRunNotepad, &TMainForm::Runnotepadexeeachdayat09001Click);
    on(ui->acQuickDisable, &TMainForm::Disableselected1Click);
    offline(ui->acAbout, &TMainForm::acAboutExecute);
    offline(ui->acHelpHomePage, &TMainForm::acHelpHomePageExecute);
    offline(ui->acHelpProducts, &TMainForm::acHelpProductsExecute);
    connect(ui->acLargeIcons, &QAction::triggered, this, [this] { SetViewStyle(vsIcon); });
    connect(ui->acSmallIcons, &QAction::triggered, this, [this] { SetViewStyle(vsSmallIcon); });
    connect(ui->acList, &QAction::triggered, this, [this] { SetViewStyle(vsList); });
    connect(ui->acDetails, &QAction::triggered, this, [this] { SetViewStyle(vsReport); });

    connect(ui->TreeView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { Guarded([this, current] { TreeView1Change(current); }); });
    connect(ui->TreeView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { TreePopupMenu->popup(ui->TreeView1->viewport()->mapToGlobal(pos)); });
    connect(ui->ListView, &TTaskListView::SelectionChanged, this, &TMainForm::UpdateActions);
    connect(ui->ListView, &TTaskListView::DoubleClicked, this, [this] { Guarded([this] { ListViewDblClick(); }); });
    connect(ui->ListView, &TTaskListView::RightClicked, this,
            [this](QPoint globalPos) { ListViewMouseDown(Qt::RightButton, globalPos); });
}

// ---- window events ------------------------------------------------------------------------

void TMainForm::FormCreate()
{
    FormStorage = std::make_unique<TtvFormStorage>(QStringLiteral("Software\\Talvera\\Task Scheduler\\"));
    AttachSystemImageLists();
    ui->ListView->FitColumnWidths(ColumnSamples());
    ui->RibbonMain->setCurrentIndex(0);
    ui->pnlTarget->setAutoFillBackground(true);
    // Without a connection there is nothing to list; the failed opening has said why.
    if (Scheduler->GetActive()) RefreshView();
}

void TMainForm::FormShow()
{
    // The state of "Task Service 2.0" is set even when a damaged placement cannot be read,
    // so that its check mark never contradicts the generation in force.
    std::exception_ptr placementError;
    try {
        if (FormStorage) FormStorage->ReadFormPlacement(this);
    } catch (...) {
        placementError = std::current_exception();
    }
    ui->acUseTaskScheduler2->setEnabled(false);
    acUseTaskScheduler2Update();
    if (IsVistaOrLater()) ui->acUseTaskScheduler2->setChecked(true);
    if (placementError) std::rethrow_exception(placementError);
}

void TMainForm::FormCloseQuery(bool& CanClose)
{
    CanClose = true;
    if (!FormStorage) return;
    const std::unique_ptr<TtvFormStorage> storage = std::move(FormStorage);
    storage->WriteFormPlacement(this);
}

void TMainForm::showEvent(QShowEvent* AEvent)
{
    QMainWindow::showEvent(AEvent);
    if (FShown) return;
    FShown = true;
    Guarded([this] { FormShow(); });
}

void TMainForm::closeEvent(QCloseEvent* AEvent)
{
    bool canClose = true;
    Guarded([this, &canClose] { FormCloseQuery(canClose); });
    if (canClose)
        AEvent->accept();
    else
        AEvent->ignore();
}

bool TMainForm::eventFilter(QObject* AWatched, QEvent* AEvent)
{
    if (AWatched == ui->TreeView1->viewport() && AEvent->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(AEvent);
        TreeView1MouseDown(mouse->button(), mouse->position().toPoint());
    }
    return QMainWindow::eventFilter(AWatched, AEvent);
}

// ---- list and tree ------------------------------------------------------------------------

QString TMainForm::StatusText(TTaskStatus AStatus)
{
    switch (AStatus) {
    case tsReady: return QStringLiteral("Ready");
    case tsRunning: return QStringLiteral("Running");
    case tsDisabled: return QStringLiteral("Disabled");
    case tsHasNotRun: return QStringLiteral("Has not run");
    case tsNoMoreRuns: return QStringLiteral("No more runs");
    case tsNotScheduled: return QStringLiteral("Not scheduled");
    case tsTerminated: return QStringLiteral("Terminated");
    case tsNoValidTriggers: return QStringLiteral("No valid triggers");
    case ts2Unknown: return QStringLiteral("Unknown");
    case ts2Disabled: return QStringLiteral("Disabled");
    case ts2Queued: return QStringLiteral("Queued");
    case ts2Ready: return QStringLiteral("Ready");
    case ts2Running: return QStringLiteral("Running");
    }
    return {};
}

QList<QStringList> TMainForm::ColumnSamples()
{
    // Texts as wide as the cells usually get: a demo task's name, a schedule of one trigger,
    // a run time with wide digits, every status, a creator's name.
    const QString runTime = RunTimeText(EncodeDateTime(QDate(2000, 12, 28), QTime(20, 58, 58)));
    QStringList statuses;
    for (int status = tsReady; status <= ts2Running; ++status) statuses << StatusText(static_cast<TTaskStatus>(status));
    return {{QStringLiteral("New task 1000")},
            {QStringLiteral("At 12:00:00 PM every 10 days, starting 12/28/2000")},
            {runTime, RunTimeText(0)},
            {runTime, RunTimeText(0)},
            statuses,
            {GetCurrentUserName(), QStringLiteral("Administrator")}};
}

QString TMainForm::RunTimeText(TDateTime ATime)
{
    return ATime > 1.0 ? DateTimeToUserText(ATime) : QStringLiteral("Never");
}

TTaskItem* TMainForm::RowTask(int ARow) const
{
    return static_cast<TTaskItem*>(ui->ListView->Data(ARow));
}

void TMainForm::RefreshView()
{
    const bool vista = Scheduler->RunningVistaOrLater();
    // In 2.0 selecting the new root node below lists the tasks; listing them here as well
    // would ask the service for every task twice.
    if (!vista) acRefreshExecute();
    ui->TreeView1->setVisible(vista);
    Splitter1->setVisible(vista);
    ui->acNewNode->setVisible(false);
    if (!vista) {
        // Without folders the tree commands have nothing to act on.
        ui->TreeView1->clear();
        ui->acNewNode->setEnabled(false);
        ui->acDeleteNode->setEnabled(false);
        return;
    }
    {
        const QSignalBlocker blocker(ui->TreeView1);
        ui->TreeView1->clear();
    }
    auto* root = new TFolderNode(ui->TreeView1, QStringList{QStringLiteral("\\")});
    root->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    SelectNode(root);
    Scheduler->SetVistaSelectedFolder(Scheduler->VistaRootFolder().Get());
    TaskSchedulerFolderRefresh(ui->TreeView1->currentItem());
    ui->acNewNode->setVisible(true);
}

QIcon TMainForm::ProgramIcon(const QFileInfo& AProgram)
{
    // Many tasks run the same few programs, and looking an icon up reads and decodes images.
    auto found = FProgramIcons.constFind(AProgram.filePath());
    if (found == FProgramIcons.cend()) found = FProgramIcons.insert(AProgram.filePath(), FIconProvider.icon(AProgram));
    return *found;
}

void TMainForm::TaskSchedulerRefresh()
{
    // Icons are looked up afresh once per listing, for programs replaced meanwhile.
    FProgramIcons.clear();
    ui->ListView->Clear();
    Scheduler->Refresh();
    // The rows are read first and shown together. A task that cannot be read ends the
    // listing with its row shown as far as it was read, as when the rows came one by one.
    QList<TTaskListView::TRow> rows;
    rows.reserve(Scheduler->GetCount());
    for (int i = 0; i < Scheduler->GetCount(); ++i) {
        TTaskItem* item = Scheduler->GetItem(i);
        TTaskListView::TRow& row = rows.emplaceBack(TTaskListView::TRow{item->GetName(), item, {}, {}});
        TTaskRowContents contents;
        try {
            ReadTaskRow(item, contents);
        } catch (...) {
            row.Image = contents.Image.value_or(QIcon());
            ui->ListView->AddRows(rows);
            throw;
        }
        row.Image = contents.Image.value_or(QIcon());
        row.SubItems = contents.SubItems.value_or(QStringList());
    }
    ui->ListView->AddRows(rows);
    ui->pnlTarget->setText(QStringLiteral(" Scheduled tasks on %1").arg(Scheduler->GetTargetComputer()));
}

void TMainForm::ReadTaskRow(TTaskItem* ATask, TTaskRowContents& AContents)
{
    const TTaskActivation active(ATask);
    AContents.Activated = true;
    const QString path = ExpandEnvironmentText(ATask->GetApplicationName());
    const QFileInfo program(path);
    AContents.Image = !path.isEmpty() && program.isFile() ? ProgramIcon(program) : QIcon();
    AContents.SubItems = QStringList{ATask->GetTriggerString(), RunTimeText(ATask->GetNextRunTime()),
                                     RunTimeText(ATask->GetMostRecentRunTime()), StatusText(ATask->GetStatus()),
                                     ATask->GetCreator()};
}

void TMainForm::FillTaskRow(int ARow)
{
    TTaskRowContents contents;
    // Once the task is activated its old texts go, whatever happens next: a row never shows
    // texts of the task that it could not read again.
    const auto show = [&] {
        if (!contents.Activated) return;
        if (contents.Image) ui->ListView->SetImage(ARow, *contents.Image);
        ui->ListView->SetSubItems(ARow, contents.SubItems.value_or(QStringList()));
    };
    try {
        ReadTaskRow(RowTask(ARow), contents);
    } catch (...) {
        show();
        throw;
    }
    show();
}

void TMainForm::SchedulerTaskChanged(TTaskChange AChange, const QString& ATaskName, const QString& AFolderPath)
{
    if (AChange == tcMissed) {
        FPendingChanges = {TPendingChange{AChange, {}, {}}};
    } else {
        // Each change reads the task afresh, so one waiting change of a task is enough.
        const bool waits = std::any_of(FPendingChanges.cbegin(), FPendingChanges.cend(), [&](const TPendingChange& c) {
            return c.Change == tcMissed || (c.TaskName == ATaskName && c.FolderPath == AFolderPath);
        });
        if (!waits) FPendingChanges.append(TPendingChange{AChange, ATaskName, AFolderPath});
    }
    ApplyTaskChanges();
}

void TMainForm::ApplyTaskChanges()
{
    // A command may hold a task item or list afresh in a moment; a dialog may edit an item.
    if (FBusy > 0 || QApplication::activeModalWidget() || !Scheduler->GetActive()) return;
    ++FBusy;
    while (!FPendingChanges.isEmpty()) {
        const TPendingChange change = FPendingChanges.takeFirst();
        try {
            ApplyTaskChange(change.Change, change.TaskName, change.FolderPath);
        } catch (const std::exception&) {
            // Nobody asked for this: a task that cannot be read now keeps its row, and the
            // next command says what is wrong with the service.
        }
    }
    --FBusy;
    UpdateActions();
}

int TMainForm::TaskRow(const QString& ATaskName) const
{
    const QString name = RemoveJobExtension(ATaskName);
    for (int row = 0; row < ui->ListView->RowCount(); ++row) {
        if (LocaleCompareText(RemoveJobExtension(RowTask(row)->GetName()), name) == 0) return row;
    }
    return -1;
}

void TMainForm::ApplyTaskChange(TTaskChange AChange, const QString& ATaskName, const QString& AFolderPath)
{
    if (AChange == tcMissed) {
        TaskSchedulerRefresh();
        return;
    }
    if (Scheduler->RunningVistaOrLater() && AFolderPath.compare(Scheduler->CurrentFolderPath, Qt::CaseInsensitive) != 0) return;
    int row = TaskRow(ATaskName);
    TTaskItem* item = Scheduler->ReloadTask(ATaskName);
    if (!item) {
        if (row >= 0) ui->ListView->RemoveRow(row);
        return;
    }
    if (row < 0) {
        int index = 0;
        while (index < Scheduler->GetCount() && Scheduler->GetItem(index) != item) ++index;
        row = ui->ListView->InsertRow(index, item->GetName(), item);
    }
    FillTaskRow(row);
}

void TMainForm::AttachSystemImageLists()
{
    himlSysSmall = QSize(style()->pixelMetric(QStyle::PM_SmallIconSize), style()->pixelMetric(QStyle::PM_SmallIconSize));
    himlSysLarge = QSize(style()->pixelMetric(QStyle::PM_LargeIconSize), style()->pixelMetric(QStyle::PM_LargeIconSize));
    ui->ListView->SetImageSizes(himlSysSmall, himlSysLarge);
}

void TMainForm::SetViewStyle(TViewStyle AStyle)
{
    ui->ListView->SetViewStyle(AStyle);
    AttachSystemImageLists();
    UpdateActions();
}

QString TMainForm::GetCurPath(const QTreeWidgetItem* Node)
{
    QString text;
    while (Node && Node->parent()) {
        text = QLatin1Char('\\') + Node->text(0) + text;
        Node = Node->parent();
    }
    return text.isEmpty() ? QStringLiteral("\\") : text;
}

ComPtr<ITaskFolder> TMainForm::FolderOf(const QTreeWidgetItem* ANode) const
{
    const ComPtr<ITaskFolder> root = Scheduler->VistaRootFolder();
    if (!root) throw ESchedulerError(SServiceNotRunning);
    ComPtr<ITaskFolder> folder;
    OleCheck(root->GetFolder(GetCurPath(ANode), folder.Put()));
    return folder;
}

void TMainForm::TaskSchedulerFolderRefresh(QTreeWidgetItem* Node)
{
    if (!Node) return;
    qDeleteAll(Node->takeChildren());
    AddSubFolders(Node, FolderOf(Node).Get());
    Node->setExpanded(true);
}

void TMainForm::AddSubFolders(QTreeWidgetItem* ANode, ITaskFolder* AFolder)
{
    ComPtr<ITaskFolderCollection> subs;
    OleCheck(AFolder->GetFolders(0, subs.Put()));
    LONG count = 0;
    OleCheck(subs->get_Count(&count));
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<ITaskFolder> folder;
        OleCheck(subs->get_Item(VARIANT::I4(i), folder.Put()));
        if (!folder) continue;
        QString name;
        OleCheck(folder->get_Name(&name));
        auto* child = new TFolderNode(ANode, QStringList{name});
        child->setIcon(0, ANode->icon(0));
        AddSubFolders(child, folder.Get());
    }
}

void TMainForm::SelectNode(QTreeWidgetItem* ANode)
{
    if (ui->TreeView1->currentItem() == ANode) return;
    {
        const QSignalBlocker blocker(ui->TreeView1);
        ui->TreeView1->setCurrentItem(ANode);
    }
    TreeView1Change(ANode);
}

void TMainForm::TreeView1Change(QTreeWidgetItem* Node)
{
    if (!Node) return;
    const bool belowRoot = Node->parent() != nullptr;
    ui->acNewNode->setEnabled(belowRoot);
    ui->acDeleteNode->setEnabled(belowRoot);
    Scheduler->SetVistaSelectedFolder(FolderOf(Node).Get());
    TaskSchedulerRefresh();
}

void TMainForm::TreeView1MouseDown(Qt::MouseButton, QPoint Pos)
{
    if (QTreeWidgetItem* node = ui->TreeView1->itemAt(Pos)) ui->TreeView1->setCurrentItem(node);
}

void TMainForm::ListViewMouseDown(Qt::MouseButton Button, QPoint GlobalPos)
{
    if (Button != Qt::RightButton) return;
    UpdateCommandStates();
    (ui->ListView->SelCount() > 0 ? popSelected : popView)->popup(GlobalPos);
}

void TMainForm::ListViewDblClick()
{
    if (ui->acProperties->isEnabled()) ui->acProperties->trigger();
}

void TMainForm::SchedulerBeforeTaskAdded(TTaskScheduler*, TTaskItem* Task, bool& CanAdd)
{
    if (!ui->acShowOwn->isChecked()) return;
    const TTaskActivation active(Task);
    CanAdd = LocaleCompareText(Task->GetApplicationName(), QCoreApplication::applicationFilePath()) == 0;
}

void TMainForm::UpdateCommandStates()
{
    const int selected = ui->ListView->SelCount();
    ui->acProperties->setEnabled(selected == 1);
    ui->acRun->setEnabled(selected > 0);
    ui->acDelete->setEnabled(selected > 0);
    ui->acQuickDisable->setEnabled(selected > 0);
    switch (ui->ListView->GetViewStyle()) {
    case vsIcon: ui->acLargeIcons->setChecked(true); break;
    case vsSmallIcon: ui->acSmallIcons->setChecked(true); break;
    case vsList: ui->acList->setChecked(true); break;
    case vsReport: ui->acDetails->setChecked(true); break;
    }
}

void TMainForm::UpdateActions()
{
    UpdateCommandStates();
    acPropertiesNewUpdate();
    acNewSubNodeUpdate();
    acShowHiddenUpdate();
    acUseTaskScheduler2Update();
    // Without the service these could only fail; Refresh and the other switches stay, and
    // the next of them reconnects.
    const bool connected = !FServiceLost && Scheduler->GetActive();
    for (QAction* action : {ui->acNew, ui->acQucikRunCustomEXE, ui->acQuickRunNotepad}) action->setEnabled(connected);
    if (!connected) {
        for (QAction* action : {ui->acProperties, ui->acPropertiesNew, ui->acRun, ui->acDelete, ui->acQuickDisable,
                                ui->acNewNode, ui->acNewSubNode, ui->acDeleteNode})
            action->setEnabled(false);
    }
}

// ---- commands -----------------------------------------------------------------------------

void TMainForm::acRefreshExecute()
{
    TaskSchedulerRefresh();
}

void TMainForm::acPropertiesExecute()
{
    const QList<int> rows = ui->ListView->SelectedRows();
    if (rows.isEmpty() || !RowTask(rows.first())) return;
    bool saved = false;
    try {
        saved = ShowTaskProperties(RowTask(rows.first()), FPrompts);
    } catch (...) {
        // The item may hold changes the service refused; the list shows what is stored. The
        // service's error is what the user sees, even when the list cannot be read again.
        try {
            TaskSchedulerRefresh();
        } catch (...) {
        }
        throw;
    }
    if (saved)
        FillTaskRow(rows.first());
    else
        TaskSchedulerRefresh();
}

void TMainForm::acPropertiesNewUpdate()
{
    ui->acPropertiesNew->setEnabled(Scheduler->RunningVistaOrLater() && !Scheduler->GetUseTaskScheduler1Only()
                                    && ui->ListView->SelCount() > 0);
}

void TMainForm::acPropertiesNewExecute()
{
    const QList<int> rows = ui->ListView->SelectedRows();
    if (rows.isEmpty() || !RowTask(rows.first())) return;
    if (Scheduler->RunningVistaOrLater() && !Scheduler->GetUseTaskScheduler1Only())
        EditTask20Properties(RowTask(rows.first()), FPrompts);
}

void TMainForm::acNewExecute()
{
    TTaskItem* task = nullptr;
    const bool made = ExecuteNewTaskWizard(Scheduler, task, FPrompts, this);
    // A wizard that gave up on its task reloaded the scheduler's list, which frees the items
    // the rows show: the rows are rebuilt either way.
    Q_UNUSED(made);
    acRefreshExecute();
}

void TMainForm::acRunExecute()
{
    for (int row : ui->ListView->SelectedRows()) {
        TTaskItem* task = RowTask(row);
        ForTask(task, [task] {
            const TTaskActivation active(task);
            task->Run();
        });
    }
}

void TMainForm::acDeleteExecute()
{
    if (!FPrompts->ConfirmWarning(this, QStringLiteral("Are you sure you want to delete the selected task(s)?"))) return;
    QList<int> rows = ui->ListView->SelectedRows();
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        const QString name = RowTask(*it)->GetName();
        try {
            Scheduler->DeleteTask(name);
            ui->ListView->RemoveRow(*it);
        } catch (const Exception& e) {
            FPrompts->ShowMessage(this, QStringLiteral("Could not delete task \"%1\".\r\nError: %2").arg(name, Sentence(e.Message())));
        }
    }
}

void TMainForm::acCloseExecute()
{
    close();
}

void TMainForm::acNewNodeExecute()
{
    QString name = QStringLiteral("New Folder");
    if (!FPrompts->InputQuery(this, QStringLiteral("Create folder"), QStringLiteral("Please enter name for new folder:"), name))
        return;
    QTreeWidgetItem* node = ui->TreeView1->currentItem();
    if (!node || !node->parent() || !Scheduler->RunningVistaOrLater()) return;
    SelectNode(node->parent());
    QTreeWidgetItem* selected = ui->TreeView1->currentItem();
    const QString path = selected->parent() ? Scheduler->CurrentFolderPath + QLatin1Char('\\') + name
                                            : Scheduler->CurrentFolderPath + name;
    Scheduler->CreateFolder(path);
    TaskSchedulerFolderRefresh(selected);
}

void TMainForm::acNewSubNodeUpdate()
{
    ui->acNewSubNode->setEnabled(Scheduler->RunningVistaOrLater() && ui->TreeView1->currentItem() != nullptr);
}

void TMainForm::acNewSubNodeExecute()
{
    QString name = QStringLiteral("New Folder");
    if (!FPrompts->InputQuery(this, QStringLiteral("Create sub-folder"),
                              QStringLiteral("Please enter name for new sub-folder:"), name))
        return;
    QTreeWidgetItem* selected = ui->TreeView1->currentItem();
    if (!selected || !Scheduler->RunningVistaOrLater()) return;
    const QString path = selected->parent() ? Scheduler->CurrentFolderPath + QLatin1Char('\\') + name
                                            : Scheduler->CurrentFolderPath + name;
    Scheduler->CreateFolder(path);
    TaskSchedulerFolderRefresh(selected);
}

void TMainForm::acDeleteNodeExecute()
{
    if (!FPrompts->ConfirmWarning(this, QStringLiteral("This will delete selected folder! Continue?"))) return;
    QTreeWidgetItem* node = ui->TreeView1->currentItem();
    if (!node || !node->parent() || !Scheduler->RunningVistaOrLater()) return;
    try {
        Scheduler->DeleteFolder(Scheduler->CurrentFolderPath);
    } catch (const Exception& e) {
        FPrompts->ShowMessage(this, QStringLiteral("Could not delete folder!\r\nError: %1").arg(Sentence(e.Message())),
                              kErrorCaption, QMessageBox::Warning);
        return;
    }
    QTreeWidgetItem* parent = node->parent();
    SelectNode(parent);
    TaskSchedulerFolderRefresh(parent);
}

void TMainForm::acTargetExecute()
{
    QString computer;
    if (!FPrompts->SelectTargetComputer(this, kTargetTitle, computer)) return;
    const QString name = Scheduler->RunningVistaOrLater() ? computer : QStringLiteral("\\\\") + computer;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // The normal cursor comes back however the connection ends, before any message shows.
    auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    try {
        Scheduler->SetTargetComputer(name);
        acRefreshExecute();
    } catch (const Exception& e) {
        restoreCursor.dismiss();
        QGuiApplication::restoreOverrideCursor();
        FPrompts->ShowMessage(this,
                              QStringLiteral("Could not connect to remote machine \"%1\".\r\nError: %2").arg(name, Sentence(e.Message())),
                              kErrorCaption, QMessageBox::Warning);
    }
}

void TMainForm::acSetTargetToLocalExecute()
{
    Scheduler->SetTargetComputer(QString());
    acRefreshExecute();
}

void TMainForm::acShowOwnExecute()
{
    acRefreshExecute();
}

void TMainForm::acShowHiddenUpdate()
{
    ui->acShowHidden->setChecked(Scheduler->GetShowHidden());
}

void TMainForm::acShowHiddenExecute()
{
    Scheduler->SetShowHidden(!Scheduler->GetShowHidden());
    TaskSchedulerRefresh();
}

void TMainForm::acUseTaskScheduler2Update()
{
    ui->acUseTaskScheduler2->setEnabled(IsVistaOrLater());
    if (!ui->acUseTaskScheduler2->isEnabled()) ui->acUseTaskScheduler2->setChecked(false);
}

void TMainForm::acUseTaskScheduler2Execute()
{
    Scheduler->SetUseTaskScheduler1Only(!ui->acUseTaskScheduler2->isChecked());
    FServiceLost = true;
    Reconnect();
}

QString TMainForm::GetCurrentUserName()
{
    return UserAccount::CurrentLogonName();
}

void TMainForm::Createtasktorunevery10minutesfor24hours1Click()
{
    QString program;
    if (!FPrompts->SelectExecutable(this, program)) return;
    TDemoTasks(Scheduler).EveryTenMinutes(program);
    acRefreshExecute();
}

void TMainForm::Runnotepadexeeachdayat09001Click()
{
    // The list shows what was stored even when saving failed half-way.
    std::exception_ptr failure;
    try {
        TDemoTasks(Scheduler).DailyTextEditor();
    } catch (...) {
        failure = std::current_exception();
    }
    acRefreshExecute();
    if (failure) std::rethrow_exception(failure);
}

void TMainForm::Disableselected1Click()
{
    for (int row : ui->ListView->SelectedRows()) {
        TTaskItem* task = RowTask(row);
        if (!task) break;
        ForTask(task, [this, task, row] {
            {
                const TTaskActivation active(task);
                if (Scheduler->RunningVistaOrLater()) {
                    task->SetVistaFlag(tfvEnabled, false);
                } else {
                    TTaskFlags flags = task->GetFlags();
                    task->SetFlags(flags.Include(tfDisabled));
                }
                task->Save();
            }
            FillTaskRow(row);
        });
    }
}

void TMainForm::acAboutExecute()
{
    QString notice = kAboutNotice + QStringLiteral("\r\nVersion %1 (task library %2)").arg(QStringLiteral(TS_VERSION), Scheduler->GetVersion());
    const QString service = Scheduler->ServiceVersion();
    notice += service.isEmpty() ? QStringLiteral("; the scheduling service is not connected.")
                                : QStringLiteral("; scheduling service interface %1.").arg(service);
    FPrompts->ShowAbout(this, kAboutText, notice, windowIcon());
}

void TMainForm::OpenPage(const QString& AFileName)
{
    const QUrl page = DocumentPage(AFileName);
    if (!QFileInfo::exists(page.toLocalFile()))
        FPrompts->ShowMessage(this, QStringLiteral("The page %1 is not installed.").arg(page.toLocalFile()), {},
                              QMessageBox::Warning);
    else if (!FPrompts->OpenUrl(page))
        FPrompts->ShowMessage(this, QStringLiteral("No web browser could be started to show %1.").arg(page.toString()),
                              {}, QMessageBox::Warning);
}

void TMainForm::acHelpHomePageExecute()
{
    OpenPage(QStringLiteral("index.html"));
}

void TMainForm::acHelpProductsExecute()
{
    OpenPage(QStringLiteral("products.html"));
}
