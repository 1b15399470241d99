#include "CrashTrial.h"

#include "DaemonHarness.h"
#include "ObjectRuntime.h"
#include "ServiceRoot.h"
#include "TaskService2.h"
#include "gen2/TaskStore.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

namespace {

constexpr int TaskCount = 12;

QString TaskName(int i) { return QStringLiteral("Crash%1").arg(i); }

// Registers (or replaces) task `i` with `description` through the daemon.
HRESULT Register(int i, const QString& description)
{
    ComPtr<ITaskService> service;
    HRESULT hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, service.PutVoid());
    if (SUCCEEDED(hr)) hr = service->Connect(VARIANT::Empty(), VARIANT::Empty(), VARIANT::Empty(), VARIANT::Empty());
    if (FAILED(hr)) return hr;
    ComPtr<ITaskFolder> root;
    if (FAILED(hr = service->GetFolder(QStringLiteral("\\"), root.Put()))) return hr;
    ComPtr<ITaskDefinition> def;
    if (FAILED(hr = service->NewTask(0, def.Put()))) return hr;
    ComPtr<IRegistrationInfo> info;
    def->get_RegistrationInfo(info.Put());
    info->put_Description(description);
    ComPtr<IActionCollection> actions;
    def->get_Actions(actions.Put());
    ComPtr<IAction> action;
    actions->Create(TASK_ACTION_EXEC, action.Put());
    ComPtr<IExecAction> exec;
    action.As(exec);
    exec->put_Path(QStringLiteral("true"));
    ComPtr<IRegisteredTask> task;
    return root->RegisterTaskDefinition(TaskName(i), def.Get(), TASK_CREATE_OR_UPDATE, VARIANT::Empty(), VARIANT::Empty(),
                                        TASK_LOGON_INTERACTIVE_TOKEN, VARIANT::Empty(), task.Put());
}

} // namespace

CrashTrial::Result CrashTrial::Run(const QString& rootPath, int trials, quint32 seed, int maxDelayMs)
{
    Result result;
    QRandomGenerator random(seed);
    QHash<int, QString> acknowledged;
    const ServiceRoot root(rootPath);
    DaemonHarness daemon(rootPath);
    for (int trial = 0; trial < trials; ++trial) {
        if (!daemon.Start()) {
            result.problems.append(QStringLiteral("trial %1: the daemon did not start after a kill").arg(trial));
            break;
        }
        const pid_t pid = daemon.Pid();
        const int delayMs = int(random.bounded(maxDelayMs + 1));
        std::atomic<bool> killed{false};
        std::thread killer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            killed = true;   // first: a call that fails from here on may have been cut off
            ::kill(pid, SIGKILL);
        });
        QHash<int, QString> cutOff;
        for (int write = 0;; ++write) {
            const int i = int(random.bounded(TaskCount));
            const QString description = QStringLiteral("trial %1 write %2").arg(trial).arg(write);
            if (SUCCEEDED(Register(i, description))) {
                acknowledged[i] = description;
                ++result.acknowledged;
                continue;
            }
            if (killed) {
                cutOff[i] = description;
                ++result.unanswered;
                break;
            }
        }
        killer.join();
        DaemonHarness::WaitForExit(pid, 10000);
        daemon.Forget();
        ++result.trials;

        // What the kill left, read straight from the store as the next daemon will find it:
        // after the replay of its journal, which may also carry out a change that was cut off
        // after it was journaled.
        TaskStore store(root);
        store.Recover();
        QList<StoredTask> tasks;
        QList<DamagedTask> damaged;
        store.ListTasks(TaskPath(), &tasks, &damaged);
        for (const DamagedTask& d : std::as_const(damaged)) {
            ++result.damaged;
            result.problems.append(QStringLiteral("trial %1: %2 is damaged: %3").arg(trial).arg(d.path.ToString(), d.error));
        }
        QFile state(rootPath + QStringLiteral("/taskschedd.state"));
        if (state.open(QIODevice::ReadOnly)) {
            QJsonParseError error;
            QJsonDocument::fromJson(state.readAll(), &error);
            if (error.error != QJsonParseError::NoError) {
                ++result.damaged;
                result.problems.append(QStringLiteral("trial %1: the daemon state is damaged: %2").arg(trial).arg(error.errorString()));
            }
        }
        QHash<QString, QString> stored;
        for (const StoredTask& t : std::as_const(tasks)) stored.insert(t.path.ToString(), t.doc.registrationInfo.description);
        for (auto it = acknowledged.begin(); it != acknowledged.end(); ++it) {
            const QString found = stored.value(QStringLiteral("\\") + TaskName(it.key()));
            if (found == it.value()) continue;
            if (cutOff.contains(it.key()) && found == cutOff.value(it.key())) {
                *it = found;   // the change that was cut off was made after all
                continue;
            }
            ++result.lost;
            result.problems.append(QStringLiteral("trial %1: %2 holds \"%3\", not \"%4\"").arg(trial).arg(TaskName(it.key()), found, it.value()));
            *it = found;
        }
        for (auto it = cutOff.cbegin(); it != cutOff.cend(); ++it) {
            if (!acknowledged.contains(it.key()) && stored.value(QStringLiteral("\\") + TaskName(it.key())) == it.value())
                acknowledged.insert(it.key(), it.value());
        }
    }
    return result;
}
