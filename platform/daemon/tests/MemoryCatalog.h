#pragma once
// Test doubles for the daemon's loop: a store of tasks held in memory, a clock and a timer
// that the test moves by hand.

#include "schedule/Clock.h"
#include "catalog/TaskCatalog.h"

#include <QHash>
#include <QList>

/// Tasks by key, with the runtime records the daemon writes.
class MemoryCatalog : public TaskCatalog {
public:
    explicit MemoryCatalog(TaskGeneration generation = TaskGeneration::Gen2) : m_generation(generation) {}

    TaskGeneration Generation() const override { return m_generation; }
    QList<RunnableTask> LoadAll() override { return tasks.values(); }
    std::optional<RunnableTask> Load(const TaskKey& key, QString* error) override
    {
        const auto it = tasks.constFind(key);
        if (it == tasks.constEnd()) {
            if (error) *error = QStringLiteral("no such task");
            return std::nullopt;
        }
        return *it;
    }
    bool ChangeRuntime(const TaskKey& key, const std::function<void(TaskRuntime&)>& change, QString*,
                       RuntimeWrite = RuntimeWrite::Durable) override
    {
        if (!tasks.contains(key)) return true;
        change(runtime[key]);
        return true;
    }
    QList<TaskKey> Unsettled() override
    {
        QList<TaskKey> keys;
        for (auto it = runtime.cbegin(); it != runtime.cend(); ++it) {
            if (it->runState != TaskRuntime::Idle) keys.append(it.key());
        }
        return keys;
    }
    bool Delete(const TaskKey& key, QString*) override
    {
        deleted.append(key);
        tasks.remove(key);
        runtime.remove(key);
        return true;
    }

    /// A task that starts at each of `times`.
    static RunnableTask At(const QString& path, QList<QDateTime> times)
    {
        QList<ScheduledStart> starts;
        for (const QDateTime& t : times) starts.append(ScheduledStart{t, 0, {}});
        return WithStarts(path, starts);
    }
    /// A task with the scheduled starts `starts`.
    static RunnableTask WithStarts(const QString& path, QList<ScheduledStart> starts)
    {
        RunnableTask task;
        task.key = TaskKey{TaskGeneration::Gen2, path};
        task.starts = [starts](const QDateTime& after, const QDateTime& until, int maxCount) {
            QList<ScheduledStart> out;
            for (const ScheduledStart& s : starts) {
                if (s.at > after && (!until.isValid() || s.at <= until) && out.size() < maxCount) out.append(s);
            }
            return out;
        };
        return task;
    }
    void Put(const RunnableTask& task) { tasks.insert(task.key, task); }

    QHash<TaskKey, RunnableTask> tasks;
    QHash<TaskKey, TaskRuntime> runtime;
    QList<TaskKey> deleted;

private:
    TaskGeneration m_generation;
};

class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime start) : now(std::move(start)) {}
    QDateTime Now() const override { return now; }
    QDateTime now;
};

/// Random delays chosen by the test: each the given fraction of its bound.
class ChosenRandom : public RandomSource {
public:
    qint64 UpTo(qint64 bound) override
    {
        bounds.append(bound);
        return qint64(double(bound) * fraction);
    }
    double fraction = 0.5;
    QList<qint64> bounds;
};

class ManualTimer : public WakeTimer {
public:
    void ArmAt(const QDateTime& when) override { armedAt = when; ++arms; }
    void Disarm() override { armedAt = {}; }
    /// Moves `clock` to the armed time (or `to`) and wakes the owner.
    void FireAt(ManualClock& clock, const QDateTime& to)
    {
        clock.now = to;
        emit Woken();
    }
    QDateTime armedAt;
    int arms = 0;
};
