#pragma once
// What the library's tests share: a scheduler over a private service root in the generation
// asked for, date-time values, and the message of an expected error.

#include "TemporaryServiceRoot.h"
#include "kvTask.h"

#include <QtTest>
#include <functional>
#include <memory>

namespace LibraryTests {

inline const QString kProgram = QStringLiteral("/bin/true");

inline TDateTime Date(int year, int month, int day)
{
    return EncodeDateTime(QDate(year, month, day), QTime(0, 0));
}

inline TDateTime Time(int hour, int minute)
{
    return (hour * 60 + minute) / 1440.0;
}

/// An open scheduler of one generation over its own temporary service root.
class Fixture {
public:
    explicit Fixture(bool vista)
    {
        scheduler = std::make_unique<TTaskScheduler>();
        scheduler->SetUseTaskScheduler1Only(!vista);
        scheduler->Open();
    }

    /// A new task with a program, not saved yet (1.0: activated; 2.0: a fresh definition).
    TTaskItem* New(const QString& name)
    {
        TTaskItem* item = scheduler->CreateNewItem(name);
        item->SetApplicationName(kProgram);
        return item;
    }

    /// Saves `item` and loads it again from the service, with its triggers read afresh.
    TTaskItem* SaveAndReload(TTaskItem* item)
    {
        const QString name = item->GetName();
        item->Save();
        scheduler->Refresh();
        TTaskItem* reloaded = scheduler->ActivateTask(name);
        reloaded->Activate();
        return reloaded;
    }

    /// A saved task, listed again from the service: 1.0 not activated, 2.0 registered.
    TTaskItem* Listed(const QString& name)
    {
        New(name)->Save();
        scheduler->Refresh();
        return scheduler->ActivateTask(name);
    }

    /// The path of a 1.0 task file of the root.
    QString JobPath(const QString& file) const { return root.Path() + QStringLiteral("/jobs/") + file; }

    TemporaryServiceRoot root;
    std::unique_ptr<TTaskScheduler> scheduler;
};

/// The message of the error E that `f` raises; a marker text when it raises none or another.
template <typename E>
QString MessageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QStringLiteral("<other error: %1>").arg(QString::fromUtf8(e.what()));
    }
    return QStringLiteral("<no error>");
}

inline void AddBothGenerations()
{
    QTest::addColumn<bool>("vista");
    QTest::newRow("2.0") << true;
    QTest::newRow("1.0") << false;
}

} // namespace LibraryTests
