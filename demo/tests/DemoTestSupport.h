#pragma once
// Shared set-up of the application's tests: a private service root and configuration
// folder, tasks made through the library beside the window, and the window's parts.

#include "OsVersion.h"
#include "TMainForm.h"
#include "TTaskListView.h"
#include "TemporaryServiceRoot.h"
#include "kvTask.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <optional>

/// One test's surroundings: its own service root, its own registry, the application title,
/// and the generation the platform offers (1.0 only when `AOnly1` is set). The service runs
/// inside the test process unless `AInProcess` is false (the service process serves the root).
class DemoTestEnvironment {
public:
    explicit DemoTestEnvironment(bool AOnly1 = false, bool AInProcess = true)
    {
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
        if (AInProcess)
            qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
        else
            qunsetenv("TASKSCHEDULER_TRANSPORT");
        QApplication::setApplicationDisplayName(QStringLiteral("Task Scheduler Demo"));
        if (AOnly1) m_version.emplace(OsVersion(5, 1));
    }
    ~DemoTestEnvironment()
    {
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("TASKSCHEDULER_TRANSPORT");
    }

    QString ConfigPath() const { return m_config.path(); }
    /// The private service root (TASKSCHEDULER_HOME).
    QString RootPath() const { return m_root.Path(); }
    bool IsValid() const { return m_root.IsValid() && m_config.isValid(); }

    /// Points TASKSCHEDULER_HOME below a plain file, where no service root can be, until the
    /// environment ends or the test points it back. False when the file cannot be made.
    bool UseImpossibleRoot()
    {
        m_notADirectory = std::make_unique<QTemporaryFile>();
        if (!m_notADirectory->open()) return false;
        qputenv("TASKSCHEDULER_HOME", (m_notADirectory->fileName() + QStringLiteral("/root")).toLocal8Bit());
        return true;
    }

private:
    TemporaryServiceRoot m_root;
    QTemporaryDir m_config;
    std::optional<OsVersion::ScopedOverride> m_version;
    std::unique_ptr<QTemporaryFile> m_notADirectory;
};

/// Another computer for one test: a second service root of this machine, reached through a
/// stand-in for ssh that runs the service program's remote end here. Whatever name is given
/// as the computer reaches it. The stand-in and the root's service end with the object.
class OtherComputer {
public:
    OtherComputer() : m_previousSsh(qgetenv("TASKSCHEDULER_SSH"))
    {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/taskschedd");
        qputenv("TASKSCHEDULER_SSH", QStringLiteral("/bin/sh -c \"TASKSCHEDULER_HOME='%1' exec '%2' --stdio\"")
                                         .arg(m_root.path(), program)
                                         .toLocal8Bit());
    }
    ~OtherComputer()
    {
        qputenv("TASKSCHEDULER_SSH", m_previousSsh);
        if (!TemporaryServiceRoot::StopServiceProcesses(m_root.path())) qWarning("the other computer's service stays");
    }
    OtherComputer(const OtherComputer&) = delete;
    OtherComputer& operator=(const OtherComputer&) = delete;

    /// Its service root.
    QString RootPath() const { return m_root.path(); }

private:
    QTemporaryDir m_root;
    QByteArray m_previousSsh;
};

/// The column "only1" of a test table and its two rows: the platform offers 2.0, or 1.0 only.
inline void AddGenerations()
{
    QTest::addColumn<bool>("only1");
    QTest::newRow("2.0") << false;
    QTest::newRow("1.0 only") << true;
}

/// Registers a task through a scheduler of its own, as another program would.
/// 2.0: in `AFolder` (created when missing); 1.0 when `AUse1` or the platform offers no 2.0.
inline void AddTask(const QString& AName, const QString& AProgram = QStringLiteral("/bin/true"),
                    const QString& AFolder = QStringLiteral("\\"), bool AUse1 = false)
{
    TTaskScheduler scheduler;
    scheduler.SetUseTaskScheduler1Only(AUse1);
    scheduler.Open();
    if (scheduler.RunningVistaOrLater()) {
        if (AFolder != QStringLiteral("\\") && !scheduler.FolderExists(AFolder)) scheduler.CreateFolder(AFolder);
        scheduler.CurrentFolderPath = AFolder;
    }
    TTaskItem* task = scheduler.CreateNewItem(AName);
    if (scheduler.RunningVistaOrLater()) {
        task->SetCurrentAction(1);
        task->InsertAction(0);
    }
    task->SetApplicationName(AProgram);
    task->SetCreator(QStringLiteral("tester"));
    task->Save();
}

/// The window's parts, found by their names.
inline QAction* Action(TMainForm& AForm, const char* AName)
{
    auto* action = AForm.findChild<QAction*>(QString::fromLatin1(AName));
    Q_ASSERT_X(action, "Action", AName);
    return action;
}
inline TTaskListView* List(TMainForm& AForm)
{
    return AForm.findChild<TTaskListView*>(QStringLiteral("ListView"));
}
inline QTreeWidget* Tree(TMainForm& AForm)
{
    return AForm.findChild<QTreeWidget*>(QStringLiteral("TreeView1"));
}

/// The captions of the list's rows, in order.
inline QStringList RowCaptions(TMainForm& AForm)
{
    QStringList captions;
    for (int row = 0; row < List(AForm)->RowCount(); ++row) captions << List(AForm)->Caption(row);
    return captions;
}

/// The row captioned `ACaption`, or -1.
inline int RowOf(TMainForm& AForm, const QString& ACaption)
{
    return static_cast<int>(RowCaptions(AForm).indexOf(ACaption));
}
