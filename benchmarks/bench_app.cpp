// The application's main window over a folder of many tasks, through the service process:
// from nothing to a painted window, and a refresh of the list. Prints its figures; asserts
// nothing. Usage:
//   bench_app [tasks]
// Default: 1,000 tasks, all in the root folder. The root is a fresh temporary one; its
// service process is ended afterwards. The window is drawn offscreen unless a platform is set.

#include "BestTiming.h"
#include "ServiceCalls.h"
#include "TMainForm.h"
#include "TemporaryServiceRoot.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

/// Registers `count` daily tasks in the root folder, each with one program action.
void RegisterTasks(int count)
{
    ComPtr<ITaskService> service = Connect();
    ComPtr<ITaskFolder> root;
    Check(service->GetFolder(QStringLiteral("\\"), root.Put()), "GetFolder");
    ComPtr<ITaskDefinition> def;
    Check(service->NewTask(0, def.Put()), "NewTask");
    ComPtr<ITriggerCollection> triggers;
    def->get_Triggers(triggers.Put());
    ComPtr<ITrigger> trigger;
    Check(triggers->Create(TASK_TRIGGER_DAILY, trigger.Put()), "Create trigger");
    trigger->put_StartBoundary(QStringLiteral("2025-01-01T09:00:00"));
    ComPtr<IActionCollection> actions;
    def->get_Actions(actions.Put());
    ComPtr<IAction> action;
    actions->Create(TASK_ACTION_EXEC, action.Put());
    Cast<IExecAction>(action)->put_Path(QStringLiteral("/bin/true"));
    for (int i = 0; i < count; ++i) {
        ComPtr<IRegisteredTask> task;
        Check(root->RegisterTaskDefinition(QStringLiteral("Task %1").arg(i, 5, 10, QLatin1Char('0')), def.Get(),
                                           TASK_CREATE_OR_UPDATE, VARIANT::Empty(), VARIANT::Empty(),
                                           TASK_LOGON_INTERACTIVE_TOKEN, VARIANT::Empty(), task.Put()),
              "RegisterTaskDefinition");
    }
}

/// Notes when the list's rows are painted.
class TPaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override
    {
        if (AEvent->type() == QEvent::Paint) painted = true;
        return QObject::eventFilter(AWatched, AEvent);
    }
};

/// The view that shows the list's rows.
QWidget* RowsViewport(TMainForm& AForm)
{
    auto* stack = AForm.findChild<QStackedWidget*>(QStringLiteral("ListView"));
    auto* view = stack ? qobject_cast<QAbstractItemView*>(stack->currentWidget()) : nullptr;
    if (!view) {
        std::fprintf(stderr, "the window has no task list\n");
        std::exit(1);
    }
    return view->viewport();
}

/// Processes events until the rows have been painted.
void WaitForPaint(const TPaintWatch& AWatch)
{
    QElapsedTimer timer;
    timer.start();
    while (!AWatch.painted) {
        if (timer.elapsed() > 60000) {
            std::fprintf(stderr, "the list was never painted\n");
            std::exit(1);
        }
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

/// Times the window's start until its rows are painted, and a refresh of its rows.
void Measure(const char* AThrough)
{
    // The window is timed until its rows are painted, not while it is taken down again.
    int rows = 0;
    double start = 1e300;
    for (int i = 0; i < TimingRepeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        TMainForm form;
        TPaintWatch watch;
        RowsViewport(form)->installEventFilter(&watch);
        form.show();
        WaitForPaint(watch);
        start = std::min(start, double(timer.nsecsElapsed()) / 1e9);
        rows = form.Scheduler->GetCount();
    }
    std::printf("%s: start to painted window: %.1f ms (%d rows)\n", AThrough, start * 1e3, rows);

    TMainForm form;
    TPaintWatch watch;
    RowsViewport(form)->installEventFilter(&watch);
    form.show();
    WaitForPaint(watch);
    auto* refresh = form.findChild<QAction*>(QStringLiteral("acRefresh"));
    const double refreshed = Best([&] {
        watch.painted = false;
        refresh->trigger();
        WaitForPaint(watch);
    });
    std::printf("%s: refresh of %d rows, painted: %.1f ms\n", AThrough, form.Scheduler->GetCount(), refreshed * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Task Scheduler Demo"));
    const int tasks = argc > 1 ? std::atoi(argv[1]) : 1000;
    TemporaryServiceRoot root;
    QTemporaryDir config;
    if (!root.IsValid() || !config.isValid()) return 1;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    CoInitialize(nullptr);
    std::printf("Main window benchmark, %d tasks in one folder (best of %d)\n\n", tasks, TimingRepeats);

    // Registered straight into the store, then served by the service process that the first
    // window starts; that first window is not timed (it includes the service's start).
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    RegisterTasks(tasks);
    qunsetenv("TASKSCHEDULER_TRANSPORT");
    {
        TMainForm warm;
        if (!warm.Scheduler->GetActive()) {
            std::fprintf(stderr, "the service did not start\n");
            return 1;
        }
    }

    Measure("through the service process");
    // The same in process: what is left when no request crosses to another process.
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    Measure("in process");
    return 0;
}
