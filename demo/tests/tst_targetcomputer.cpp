// Choosing the computer whose tasks the window shows: the dialog through its widgets, and the
// window staying with that computer when its service is lost.

#include "DemoTestSupport.h"
#include "ModalDriver.h"
#include "ScriptedPrompts.h"
#include "TTargetComputerDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QtTest>

namespace {

const QString kTitle = QStringLiteral("Select a Target Computer for the Task Scheduler.\r\nNote: You must have administartive rights on it!");

} // namespace

class TestTargetComputer : public QObject {
    Q_OBJECT

private slots:
    void dialogTakesAPickedOrTypedName();
    void keyboardReachesEveryControl();
    void promptReturnsOnlyAnAcceptedName_data();
    void promptReturnsOnlyAnAcceptedName();
    void windowStaysWithTheComputerItLost();
};

void TestTargetComputer::dialogTakesAPickedOrTypedName()
{
    TTargetComputerDialog dialog(QStringLiteral("Choose"), {QStringLiteral("alpha"), QStringLiteral("beta")});
    auto* edit = Child<QLineEdit>(&dialog, "edComputer");
    auto* list = Child<QListWidget>(&dialog, "lvHosts");
    auto* ok = Child<QPushButton>(&dialog, "btOK");
    QCOMPARE(Child<QLabel>(&dialog, "lblTitle")->text(), QStringLiteral("Choose"));
    QCOMPARE(list->count(), 2);
    // Nothing to connect to yet, and blanks are no name.
    QVERIFY(!ok->isEnabled());
    edit->setText(QStringLiteral("   "));
    QVERIFY(!ok->isEnabled());

    list->setCurrentRow(1);
    QCOMPARE(dialog.Computer(), QStringLiteral("beta"));
    QVERIFY(ok->isEnabled());
    edit->setText(QStringLiteral("  typed.example  "));
    QCOMPARE(dialog.Computer(), QStringLiteral("typed.example"));

    // Activating a listed host takes it at once.
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    emit list->itemActivated(list->item(0));
    QCOMPARE(accepted.size(), 1);
    QCOMPARE(dialog.Computer(), QStringLiteral("alpha"));
}

void TestTargetComputer::keyboardReachesEveryControl()
{
    TTargetComputerDialog dialog(QStringLiteral("Choose"), {QStringLiteral("alpha")});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* edit = Child<QLineEdit>(&dialog, "edComputer");
    auto* list = Child<QListWidget>(&dialog, "lvHosts");
    auto* ok = Child<QPushButton>(&dialog, "btOK");
    auto* cancel = Child<QPushButton>(&dialog, "btCancel");
    QTRY_COMPARE(QApplication::focusWidget(), edit);
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));

    QTest::keyClick(&dialog, Qt::Key_K, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), list);
    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), edit);
    QTest::keyClicks(edit, QStringLiteral("gamma"));
    const QList<QWidget*> order{list, ok, cancel, edit};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    // Enter in the name box is the default button's.
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Computer(), QStringLiteral("gamma"));
}

void TestTargetComputer::promptReturnsOnlyAnAcceptedName_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected");
    QTest::newRow("OK") << "ok" << "office";
    QTest::newRow("Cancel") << "cancel" << "unchanged";
    QTest::newRow("Escape") << "escape" << "unchanged";
}

void TestTargetComputer::promptReturnsOnlyAnAcceptedName()
{
    QFETCH(QString, how);
    QFETCH(QString, expected);
    // The hosts offered are those of the configuration ssh is told to read.
    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("ssh_config")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("Host office backup\n    HostName 192.0.2.1\n");
    config.close();
    qputenv("TASKSCHEDULER_SSH_CONFIG", config.fileName().toLocal8Bit());
    const auto restore = qScopeGuard([] { qunsetenv("TASKSCHEDULER_SSH_CONFIG"); });

    QStringList offered;
    QString title;
    WhenModal([&](QWidget* window) {
        title = Child<QLabel>(window, "lblTitle")->text();
        auto* list = Child<QListWidget>(window, "lvHosts");
        for (int row = 0; row < list->count(); ++row) offered << list->item(row)->text();
        // The user picks a host in every case, then leaves the way asked.
        list->setCurrentRow(int(offered.indexOf(QStringLiteral("office"))));
        if (how == QLatin1String("ok")) QTest::mouseClick(Child<QPushButton>(window, "btOK"), Qt::LeftButton);
        else if (how == QLatin1String("cancel")) QTest::mouseClick(Child<QPushButton>(window, "btCancel"), Qt::LeftButton);
        else QTest::keyClick(window, Qt::Key_Escape);
    });
    TUserPrompts prompts;
    QString computer = QStringLiteral("unchanged");
    const bool chosen = prompts.SelectTargetComputer(nullptr, kTitle, computer);
    QCOMPARE(chosen, how == QLatin1String("ok"));
    QCOMPARE(computer, expected);
    QCOMPARE(title, QString(kTitle).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QVERIFY(offered.contains(QStringLiteral("office")));
    QVERIFY(offered.contains(QStringLiteral("backup")));
}

void TestTargetComputer::windowStaysWithTheComputerItLost()
{
    DemoTestEnvironment env(false, false);
    AddTask(QStringLiteral("Local task"));
    OtherComputer other;
    const auto addRemote = [](const QString& name) {
        TTaskScheduler there;
        there.Open();
        there.SetTargetComputer(QStringLiteral("otherbox"));
        there.CurrentFolderPath = QStringLiteral("\\");
        TTaskItem* task = there.CreateNewItem(name);
        task->SetCurrentAction(1);
        task->InsertAction(0);
        task->SetApplicationName(QStringLiteral("/bin/true"));
        task->Save();
    };
    addRemote(QStringLiteral("Remote task"));

    ScriptedPrompts prompts;
    prompts.computer = QStringLiteral("otherbox");
    TMainForm form(&prompts);
    auto* strip = form.findChild<QLabel*>(QStringLiteral("pnlTarget"));
    Action(form, "acTarget")->trigger();
    QCOMPARE(RowCaptions(form), QStringList{"Remote task"});
    // The list follows the other computer's service by itself.
    addRemote(QStringLiteral("Second remote task"));
    QTRY_COMPARE_WITH_TIMEOUT(RowCaptions(form), (QStringList{"Remote task", "Second remote task"}), 10000);

    // The service stops on both computers; the next command finds the other computer's again.
    QVERIFY(TemporaryServiceRoot::StopServiceProcesses(other.RootPath()));
    QVERIFY(TemporaryServiceRoot::StopServiceProcesses(env.RootPath()));
    Action(form, "acRefresh")->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(strip->text(), QStringLiteral(" Scheduled tasks on otherbox"));
    QCOMPARE(RowCaptions(form), (QStringList{"Remote task", "Second remote task"}));
    // And reports its changes again.
    addRemote(QStringLiteral("Third remote task"));
    QTRY_COMPARE_WITH_TIMEOUT(List(form)->RowCount(), 3, 10000);
}

QTEST_MAIN(TestTargetComputer)
#include "tst_targetcomputer.moc"
