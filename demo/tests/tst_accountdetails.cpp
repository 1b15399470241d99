// The account form: its start state under the administrator test, what OK and Cancel hand
// back, and the account reaching the service through the check.

#include "AccountDetails.h"
#include "AdminCheck.h"
#include "DemoTestSupport.h"
#include "ModalDriver.h"
#include "UserAccount.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace {
QLineEdit* Edit(QWidget* AForm, const char* AName) { return Child<QLineEdit>(AForm, AName); }
QCheckBox* Box(QWidget* AForm, const char* AName) { return Child<QCheckBox>(AForm, AName); }
void Click(QWidget* AForm, const char* AName) { QTest::mouseClick(Child<QAbstractButton>(AForm, AName), Qt::LeftButton); }
} // namespace

class TestAccountDetails : public QObject {
    Q_OBJECT

private slots:
    void startState_data();
    void startState();
    void okHandsBackTheEntries_data();
    void okHandsBackTheEntries();
    void cancelKeepsTheStrings_data();
    void cancelKeepsTheStrings();
    void showPassword();
    void accountReachesTheService_data();
    void accountReachesTheService();
    void refusalKeepsTheFormOpen();
};

void TestAccountDetails::startState_data()
{
    QTest::addColumn<bool>("admin");
    QTest::addColumn<bool>("group");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("system");
    QTest::newRow("SYSTEM, admin") << true << false << QStringLiteral("SYSTEM") << QStringLiteral("pw") << true;
    QTest::newRow("system, admin") << true << false << QStringLiteral("system") << QString() << true;
    QTest::newRow("empty, admin") << true << false << QString() << QString() << true;
    QTest::newRow("password only, admin") << true << false << QString() << QStringLiteral("pw") << false;
    QTest::newRow("a user, admin") << true << false << QStringLiteral("alice") << QString() << false;
    QTest::newRow("SYSTEM, no admin") << false << false << QStringLiteral("SYSTEM") << QString() << false;
    QTest::newRow("empty, no admin") << false << false << QString() << QString() << false;
    QTest::newRow("group, admin") << true << true << QStringLiteral("users") << QString() << false;
}

void TestAccountDetails::startState()
{
    QFETCH(bool, admin);
    QFETCH(bool, group);
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(bool, system);
    AdminCheck::ScopedOverride asAdmin(admin);
    TfrmTaskAccount form;
    form.Prepare(name, password, group);
    form.show();
    QCOMPARE(form.windowTitle(), QStringLiteral("Task Account Details"));
    QCOMPARE(Child<QLabel>(&form, "labUserName")->text(), group ? QStringLiteral("Group ID:") : QStringLiteral("&User name:"));
    QCOMPARE(Edit(&form, "edUserName")->text(), name);
    QCOMPARE(Edit(&form, "edPassword")->text(), group ? QString() : password);
    for (const char* hidden : {"labPassword", "edPassword", "ckbShowPassword", "ckbUseSystem"})
        QVERIFY2(Child<QWidget>(&form, hidden)->isVisible() == !group, hidden);
    QCOMPARE(Box(&form, "ckbUseSystem")->isChecked(), system);
    if (!group) QCOMPARE(Box(&form, "ckbUseSystem")->isEnabled(), admin);
    for (const char* field : {"labUserName", "edUserName", "labPassword", "edPassword", "ckbShowPassword"})
        QVERIFY2(Child<QWidget>(&form, field)->isEnabled() == !system, field);
}

void TestAccountDetails::okHandsBackTheEntries_data()
{
    QTest::addColumn<bool>("admin");
    QTest::addColumn<bool>("group");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typedName");
    QTest::addColumn<QString>("typedPassword");
    QTest::addColumn<bool>("toggleSystem");
    QTest::addColumn<QString>("outName");
    QTest::addColumn<QString>("outPassword");
    QTest::newRow("SYSTEM as admin gives the system account")
        << true << false << QStringLiteral("SYSTEM") << QString() << QString() << false << QString() << QString();
    QTest::newRow("typed user and password")
        << false << false << QString() << QStringLiteral("bob") << QStringLiteral("s3cret") << false
        << QStringLiteral("bob") << QStringLiteral("s3cret");
    QTest::newRow("system box unchecked, then a user")
        << true << false << QString() << QStringLiteral("carol") << QStringLiteral("x") << true
        << QStringLiteral("carol") << QStringLiteral("x");
    QTest::newRow("system box checked over a typed user")
        << true << false << QStringLiteral("dave") << QString() << QStringLiteral("pw") << true << QString() << QString();
    QTest::newRow("empty name passes unchanged")
        << false << false << QString() << QString() << QString() << false << QString() << QString();
    QTest::newRow("group identifier edited")
        << true << true << QStringLiteral("users") << QStringLiteral("-staff") << QString() << false
        << QStringLiteral("users-staff") << QString();
}

void TestAccountDetails::okHandsBackTheEntries()
{
    QFETCH(bool, admin);
    QFETCH(bool, group);
    QFETCH(QString, name);
    QFETCH(QString, typedName);
    QFETCH(QString, typedPassword);
    QFETCH(bool, toggleSystem);
    QFETCH(QString, outName);
    QFETCH(QString, outPassword);
    AdminCheck::ScopedOverride asAdmin(admin);
    QString password = QStringLiteral("old");
    if (name.isEmpty() && admin && !group) password.clear();
    WhenModal([=](QWidget* form) {
        if (toggleSystem) Click(form, "ckbUseSystem");
        if (Edit(form, "edUserName")->isEnabled()) {
            Edit(form, "edUserName")->end(false);
            QTest::keyClicks(Edit(form, "edUserName"), typedName);
            Edit(form, "edPassword")->clear();
            QTest::keyClicks(Edit(form, "edPassword"), typedPassword);
        }
        Click(form, "btOK");
    });
    QVERIFY(ExecuteAccountDialog(name, password, group));
    QCOMPARE(name, outName);
    QCOMPARE(password, outPassword);
}

void TestAccountDetails::cancelKeepsTheStrings_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Escape") << true;
}

void TestAccountDetails::cancelKeepsTheStrings()
{
    QFETCH(bool, byEscape);
    AdminCheck::ScopedOverride asAdmin(true);
    QString name = QStringLiteral("SYSTEM");
    QString password = QStringLiteral("kept");
    int checks = 0;
    WhenModal([byEscape](QWidget* form) {
        Click(form, "ckbUseSystem");
        QTest::keyClicks(Edit(form, "edUserName"), QStringLiteral("x"));
        if (byEscape)
            QTest::keyClick(form, Qt::Key_Escape);
        else
            Click(form, "btCancel");
    });
    QVERIFY(!ExecuteAccountDialog(name, password, false, [&checks](const QString&, const QString&) { ++checks; }));
    QCOMPARE(name, QStringLiteral("SYSTEM"));
    QCOMPARE(password, QStringLiteral("kept"));
    QCOMPARE(checks, 0);
}

void TestAccountDetails::showPassword()
{
    AdminCheck::ScopedOverride asAdmin(false);
    TfrmTaskAccount form;
    form.Prepare(QStringLiteral("alice"), QStringLiteral("abc"), false);
    form.show();
    QLineEdit* password = Edit(&form, "edPassword");
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    Click(&form, "ckbShowPassword");
    QCOMPARE(password->echoMode(), QLineEdit::Normal);
    Click(&form, "ckbShowPassword");
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QCOMPARE(password->text(), QStringLiteral("abc"));
}

void TestAccountDetails::accountReachesTheService_data()
{
    QTest::addColumn<bool>("group");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("logonType");
    QTest::newRow("the current user") << false << UserAccount::CurrentLogonName() << int(tltInteractiveToken);
    QTest::newRow("a group") << true << QStringLiteral("users") << int(tltGroup);
}

void TestAccountDetails::accountReachesTheService()
{
    QFETCH(bool, group);
    QFETCH(QString, typed);
    QFETCH(int, logonType);
    DemoTestEnvironment env;
    AdminCheck::ScopedOverride asAdmin(false);
    AddTask(QStringLiteral("Account"));
    {
        TTaskScheduler scheduler;
        scheduler.Open();
        scheduler.Refresh();
        TTaskItem* task = scheduler.ActivateTask(QStringLiteral("Account"));
        QVERIFY(task);
        task->Activate();
        QString name;
        QString password;
        WhenModal([typed](QWidget* form) {
            QTest::keyClicks(Edit(form, "edUserName"), typed);
            Click(form, "btOK");
        });
        QVERIFY(ExecuteAccountDialog(name, password, group, SetTaskAccount(task, group)));
        QCOMPARE(name, typed);
    }
    TTaskScheduler scheduler;
    scheduler.Open();
    scheduler.Refresh();
    TTaskItem* task = scheduler.ActivateTask(QStringLiteral("Account"));
    QVERIFY(task);
    task->Activate();
    QCOMPARE(task->GetAccountName(), typed);
    QCOMPARE(int(task->GetTaskLogonType()), logonType);
}

void TestAccountDetails::refusalKeepsTheFormOpen()
{
    AdminCheck::ScopedOverride asAdmin(false);
    QString name = QStringLiteral("before");
    QString password = QStringLiteral("before-pw");
    QStringList offered;
    const auto check = [&offered](const QString& AName, const QString& APassword) {
        offered << AName + QLatin1Char(':') + APassword;
        if (APassword != QStringLiteral("right")) throw EPlatformError(-1, QStringLiteral("The user name or password is incorrect."));
    };
    QString shown;
    WhenModal([&shown](QWidget* form) {
        Edit(form, "edUserName")->clear();
        QTest::keyClicks(Edit(form, "edUserName"), QStringLiteral("erin"));
        Edit(form, "edPassword")->clear();
        QTest::keyClicks(Edit(form, "edPassword"), QStringLiteral("wrong"));
        WhenModal([&shown](QWidget* box) {
            shown = qobject_cast<QMessageBox*>(box)->text();
            qobject_cast<QMessageBox*>(box)->accept();
        });
        Click(form, "btOK");
        QVERIFY(form->isVisible());
        QCOMPARE(Edit(form, "edUserName")->text(), QStringLiteral("erin"));
        QCOMPARE(Edit(form, "edPassword")->text(), QString());
        QTest::keyClicks(Edit(form, "edPassword"), QStringLiteral("right"));
        Click(form, "btOK");
    });
    QVERIFY(ExecuteAccountDialog(name, password, false, check));
    QCOMPARE(shown, QStringLiteral("The user name or password is incorrect."));
    QCOMPARE(offered, (QStringList{QStringLiteral("erin:wrong"), QStringLiteral("erin:right")}));
    QCOMPARE(name, QStringLiteral("erin"));
    QCOMPARE(password, QStringLiteral("right"));
}

QTEST_MAIN(TestAccountDetails)
#include "tst_accountdetails.moc"
