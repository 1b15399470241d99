#pragma once
// What the library's tests share: a scheduler over a private service root in the generation
// asked for, date-time values, and the message of an expected error.

#include "OsVersion.h"
#include "TemporaryServiceRoot.h"
#include "kvTask.h"

#include <QtTest>
#include <functional>
#include <memory>
#include <optional>

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

/// The interface generation a scheduler works with: 2.0; 1.0 because the scheduler is told
/// to; 1.0 because the platform (an older operating system version, simulated) has no other.
enum class Generation { V2, V1Forced, V1Platform };

/// An open scheduler of one generation over its own temporary service root.
class Fixture {
public:
    explicit Fixture(bool vista) : Fixture(vista ? Generation::V2 : Generation::V1Forced) {}
    explicit Fixture(Generation generation)
    {
        if (generation == Generation::V1Platform) os.emplace(OsVersion(5, 1));
        scheduler = std::make_unique<TTaskScheduler>();
        scheduler->SetUseTaskScheduler1Only(generation == Generation::V1Forced);
        scheduler->Open();
    }

    /// Whether the scheduler works with the 2.0 interfaces.
    bool Vista() const { return scheduler->RunningVistaOrLater(); }

    /// The 2.0 root folder made the scheduler's selected folder, as a window showing it has it.
    void SelectRootFolder() { scheduler->SetVistaSelectedFolder(scheduler->VistaRootFolder().Get()); }

    /// Registers (2.0) or writes (1.0) a task of that name, then forgets the scheduler's items.
    void MakeTask(const QString& name)
    {
        New(name)->Save();
        scheduler->Clear();
    }

    /// The names of the scheduler's items, in its order.
    QStringList Names() const
    {
        QStringList names;
        for (int i = 0; i < scheduler->GetCount(); ++i) names << scheduler->GetItem(i)->GetName();
        return names;
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
    std::optional<OsVersion::ScopedOverride> os;
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
