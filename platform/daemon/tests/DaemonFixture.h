#pragma once
// One test's real daemon: a temporary service root and a taskschedd for it, which this
// process's clients reach over its socket once the fixture serves. The test's thread is in
// the object runtime meanwhile. Whatever task the test left running is stopped before the
// daemon and the root go.

#include "DaemonHarness.h"
#include "ResultCodes.h"
#include "ServiceCalls.h"
#include "TemporaryServiceRoot.h"

#include <QCborArray>
#include <QCborMap>
#include <QString>
#include <QtGlobal>

class DaemonFixture {
public:
    DaemonFixture() : daemon(root.Path()), m_inRuntime(SUCCEEDED(CoInitialize(nullptr))) {}
    /// Stops the tasks still running (when the daemon that serves runs), then the daemon,
    /// then removes the root.
    ~DaemonFixture()
    {
        if (m_serving && daemon.Pid() > 0) StopEveryTask();
        if (m_inRuntime) CoUninitialize();
    }
    DaemonFixture(const DaemonFixture&) = delete;
    DaemonFixture& operator=(const DaemonFixture&) = delete;

    /// Starts the daemon, and lets this process's clients reach it over its socket instead
    /// of hosting the service in process. False when the root or the daemon is not there.
    bool Serve()
    {
        qunsetenv("TASKSCHEDULER_TRANSPORT");
        m_serving = true;
        return m_inRuntime && root.IsValid() && daemon.Start();
    }

    /// The path of `name` in the root.
    QString File(const QString& name) const { return root.Path() + QLatin1Char('/') + name; }

    /// The runs the daemon has recorded for the 2.0 task at `path`; empty when it cannot tell.
    QCborArray Runs(const QString& path) const { return History(path).value(QStringLiteral("runs")).toArray(); }

    /// How many runs the daemon has recorded for the 2.0 task at `path`; -1 when it cannot tell.
    int RunCount(const QString& path) const
    {
        const QCborMap reply = History(path);
        return reply.value(QStringLiteral("hr")).toInteger() == S_OK ? int(reply.value(QStringLiteral("runs")).toArray().size()) : -1;
    }

    /// A new definition of `service` whose one action runs `script` with sh, and which starts
    /// on batteries too, as a test machine may run on them.
    static ComPtr<ITaskDefinition> ScriptDefinition(ITaskService* service, const QString& script)
    {
        ComPtr<ITaskDefinition> def;
        service->NewTask(0, def.Put());
        ComPtr<IActionCollection> actions;
        def->get_Actions(actions.Put());
        ComPtr<IAction> action;
        actions->Create(TASK_ACTION_EXEC, action.Put());
        ServiceCalls::Cast<IExecAction>(action)->put_Path(QStringLiteral("sh"));
        ServiceCalls::Cast<IExecAction>(action)->put_Arguments(QStringLiteral("-c \"%1\"").arg(script));
        ComPtr<ITaskSettings> settings;
        def->get_Settings(settings.Put());
        settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
        return def;
    }

    /// Asks every task of the root folder, hidden ones too, to stop its runs.
    static void StopEveryTask()
    {
        const ComPtr<ITaskFolder> folder = ServiceCalls::Folder();
        if (!folder) return;
        ComPtr<IRegisteredTaskCollection> tasks;
        folder->GetTasks(TASK_ENUM_HIDDEN, tasks.Put());
        LONG count = 0;
        if (tasks) tasks->get_Count(&count);
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<IRegisteredTask> task;
            tasks->get_Item(VARIANT::I4(i), task.Put());
            if (task) task->Stop(0);
        }
    }

    TemporaryServiceRoot root;
    DaemonHarness daemon;

private:
    QCborMap History(const QString& path) const
    {
        return daemon.Call(QCborMap{{QStringLiteral("op"), QStringLiteral("daemon.history")},
                                    {QStringLiteral("task"), QStringLiteral("v2:") + path}});
    }

    bool m_serving = false;
    bool m_inRuntime = false;
};
