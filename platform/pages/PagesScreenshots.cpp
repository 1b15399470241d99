// taskscheduler-pages-screenshots DIR: renders the Task, Schedule and Settings pages of an
// example 1.0 task, as its property sheet shows them, into DIR/task-pages-*.png, without a
// display and against a private, temporary service root.

#include "ObjectRuntime.h"
#include "TriggerRecords.h"
#include "tvMSTask.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

/// A weekly trigger on Monday and Thursday at 22:30, repeated hourly for three hours.
TASK_TRIGGER Weekly()
{
    TASK_TRIGGER t = TriggerRecords::Weekly(TASK_MONDAY | TASK_THURSDAY, QDate(2027, 1, 4), QTime(22, 30));
    t.MinutesInterval = 60;
    t.MinutesDuration = 180;
    return t;
}

bool Check(HRESULT hr, const char* what)
{
    if (SUCCEEDED(hr)) return true;
    std::fprintf(stderr, "%s failed: 0x%08x\n", what, unsigned(hr));
    return false;
}

/// Saves the example task and returns it loaded back, as a user opening it would have it.
ComPtr<ITask> ExampleTask(ITaskScheduler* scheduler)
{
    const QString name = QStringLiteral("Backup.job");
    ComPtr<ITask> task;
    if (!Check(scheduler->NewWorkItem(name, CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(task.Put())),
               "NewWorkItem"))
        return {};
    task->SetApplicationName(QStringLiteral("/usr/bin/rsync"));
    task->SetParameters(QStringLiteral("-a /home/alice/Documents /mnt/backup"));
    task->SetWorkingDirectory(QStringLiteral("/home/alice"));
    task->SetComment(QStringLiteral("Copies the documents to the backup disk."));
    task->SetMaxRunTime(2 * 60 * 60 * 1000);
    task->SetIdleWait(10, 60);
    task->SetFlags(TASK_FLAG_DONT_START_IF_ON_BATTERIES | TASK_FLAG_START_ONLY_IF_IDLE);
    WORD index = 0;
    ComPtr<ITaskTrigger> trigger;
    const TASK_TRIGGER weekly = Weekly();
    ComPtr<IPersistFile> file;
    if (!Check(task->CreateTrigger(&index, trigger.Put()), "CreateTrigger")
        || !Check(trigger->SetTrigger(&weekly), "SetTrigger") || !Check(task.As(file), "IPersistFile")
        || !Check(file->Save(nullptr, 1), "Save"))
        return {};
    ComPtr<ITask> loaded;
    Check(scheduler->Activate(name, IID_ITask, reinterpret_cast<IUnknown**>(loaded.Put())), "Activate");
    return loaded;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir root;
    qputenv("TASKSCHEDULER_HOME", root.path().toLocal8Bit());
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!Check(CoInitialize(nullptr), "CoInitialize")) return 1;

    int failures = 0;
    {
        ComPtr<ITaskScheduler> scheduler;
        if (!Check(CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                    scheduler.PutVoid()),
                   "CoCreateInstance"))
            return 1;
        ComPtr<ITask> task = ExampleTask(scheduler.Get());
        if (!task) return 1;

        bool shown = false;
        // The sheet is modal: photograph its tabs from inside its own event loop, then close it.
        QTimer::singleShot(0, &app, [&] {
            auto* sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            auto* tabs = sheet ? sheet->findChild<QTabWidget*>(QStringLiteral("tabPages")) : nullptr;
            if (!tabs) return;
            shown = true;
            const char* names[] = {"task", "schedule", "settings"};
            for (int i = 0; i < tabs->count() && i < 3; ++i) {
                tabs->setCurrentIndex(i);
                QApplication::processEvents();
                const QString file = out.filePath(QStringLiteral("task-pages-%1.png").arg(QLatin1String(names[i])));
                if (!sheet->grab().save(file)) {
                    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                    ++failures;
                }
            }
            sheet->reject();
        });
        if (!Check(task->EditWorkItem(nullptr, 0), "EditWorkItem")) ++failures;
        if (!shown) {
            std::fprintf(stderr, "the property sheet was not shown\n");
            ++failures;
        }
    }
    CoUninitialize();
    return failures ? 1 : 0;
}
