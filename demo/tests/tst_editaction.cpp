// The action records against the service's action objects, the action editor and the kind
// chooser, driven through their widgets.

#include "DemoTestSupport.h"
#include "EditTaskAction2.h"
#include "ModalDriver.h"
#include "SelectActions.h"
#include "TaskDefinitionParts.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QtTest>

namespace {

const QString kTask = QStringLiteral("Actions");

/// A 2.0 task with an e-mail action carrying every field, registered through the library.
void AddMailTask(const QStringList& AAttachments)
{
    TTaskScheduler scheduler;
    scheduler.Open();
    TTaskItem* task = scheduler.CreateNewItem(kTask);
    const ComPtr<IEmailAction> mail = ActionAs<IEmailAction>(task->InsertAction(TASK_ACTION_SEND_EMAIL));
    OleCheck(mail->put_From(QStringLiteral("me@example.org")));
    OleCheck(mail->put_To(QStringLiteral("you@example.org")));
    OleCheck(mail->put_Subject(QStringLiteral("Report")));
    OleCheck(mail->put_Body(QStringLiteral("Line 1\nLine 2")));
    OleCheck(mail->put_Server(QStringLiteral("smtp.example.org")));
    OleCheck(mail->put_Cc(QStringLiteral("cc@example.org")));
    OleCheck(mail->put_Bcc(QStringLiteral("bcc@example.org")));
    OleCheck(mail->put_ReplyTo(QStringLiteral("reply@example.org")));
    OleCheck(mail->put_Attachments(AAttachments));
    ComPtr<ITaskNamedValueCollection> headers;
    OleCheck(mail->get_HeaderFields(headers.Put()));
    OleCheck(headers->Create(QStringLiteral("X-Priority"), QStringLiteral("1"), nullptr));
    const ComPtr<IShowMessageAction> message =
        ActionAs<IShowMessageAction>(task->InsertAction(TASK_ACTION_SHOW_MESSAGE));
    OleCheck(message->put_Title(QStringLiteral("Hello")));
    OleCheck(message->put_MessageBody(QStringLiteral("World")));
    task->Save();
}

/// The stored task, loaded afresh, and its action `AIndex`.
struct StoredTask {
    TTaskScheduler scheduler;
    TTaskItem* task = nullptr;
    ComPtr<IAction> Action(LONG AIndex) { return ActionAt(ActionsOf(task->GetTaskDefinition().Get()).Get(), AIndex); }
};
std::unique_ptr<StoredTask> LoadTask()
{
    auto stored = std::make_unique<StoredTask>();
    stored->scheduler.Open();
    stored->scheduler.Refresh();
    stored->task = stored->scheduler.ActivateTask(kTask);
    if (stored->task) stored->task->Activate();
    return stored;
}

QString Text(QWidget* AForm, const char* AName) { return Child<QLineEdit>(AForm, AName)->text(); }
bool Enabled(QWidget* AForm, const char* AName) { return Child<QWidget>(AForm, AName)->isEnabled(); }
void Click(QWidget* AForm, const char* AName) { QTest::mouseClick(Child<QPushButton>(AForm, AName), Qt::LeftButton); }

} // namespace

class TestEditAction : public QObject {
    Q_OBJECT

private slots:
    void okFollowsTheProgramName_data();
    void okFollowsTheProgramName();
    void newProgramIsStoredAsTyped();
    void cancelKeepsTheRecord_data();
    void cancelKeepsTheRecord();
    void editProgramChangesOnlyItsRecord();
    void mailShownReadOnly_data();
    void mailShownReadOnly();
    void messageShownReadOnly();
    void writingMailBackKeepsTheOtherFields();
    void recordOfTheWrongKindRaises_data();
    void recordOfTheWrongKindRaises();
    void browseTakesTheChosenFile();
    void chooserResults_data();
    void chooserResults();
    void chooserCancelClearsTheChoice_data();
    void chooserCancelClearsTheChoice();
};

void TestEditAction::okFollowsTheProgramName_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("nothing") << QString() << false;
    QTest::newRow("only blanks") << QStringLiteral("   ") << false;
    QTest::newRow("a tab") << QStringLiteral("\t") << false;
    QTest::newRow("leading blanks") << QStringLiteral("  notepad.exe") << true;
    QTest::newRow("one letter") << QStringLiteral("x") << true;
}

void TestEditAction::okFollowsTheProgramName()
{
    QFETCH(QString, typed);
    QFETCH(bool, enabled);
    TfrmEditTaskAction2 form;
    form.show();
    QVERIFY(!Enabled(&form, "btOK"));
    QTest::keyClicks(Child<QLineEdit>(&form, "edExeName"), typed);
    QCOMPARE(Enabled(&form, "btOK"), enabled);
    QCOMPARE(form.findChild<QAction*>(QStringLiteral("acOKButton"))->isEnabled(), enabled);
    // Enter presses the default button, which must not close the form while OK is off.
    QTest::keyClick(Child<QLineEdit>(&form, "edExeName"), Qt::Key_Return);
    QCOMPARE(form.result() == QDialog::Accepted, enabled);
}

void TestEditAction::newProgramIsStoredAsTyped()
{
    DemoTestEnvironment env;
    TActionRecord* record = nullptr;
    WhenModal([](QWidget* form) {
        QCOMPARE(form->windowTitle(), QStringLiteral("New Action"));
        QCOMPARE(Child<QComboBox>(form, "cbActionType")->currentIndex(), 0);
        QVERIFY(!Enabled(form, "cbActionType"));
        QCOMPARE(Child<QStackedWidget>(form, "pcTaskActions")->currentWidget()->objectName(), QStringLiteral("tsExe"));
        QTest::keyClicks(Child<QLineEdit>(form, "edExeName"), QStringLiteral("  notepad.exe"));
        QTest::keyClicks(Child<QLineEdit>(form, "edExeArgs"), QStringLiteral(" a.txt "));
        QTest::keyClicks(Child<QLineEdit>(form, "edExeStartIn"), QStringLiteral("/tmp "));
        Click(form, "btOK");
    });
    QVERIFY(EditTaskAction(record, true));
    const std::unique_ptr<TActionRecord> owned(record);
    auto* exec = dynamic_cast<TExecActionRecord*>(record);
    QVERIFY(exec);
    QCOMPARE(exec->ActionIndex, -1);
    QVERIFY(!exec->OriginalAction);
    QCOMPARE(exec->Path, QStringLiteral("  notepad.exe"));

    // Written into a task, the blanks reach the service too.
    {
        TTaskScheduler scheduler;
        scheduler.Open();
        TTaskItem* task = scheduler.CreateNewItem(kTask);
        exec->WriteToAction(task->InsertAction(exec->type_).Get());
        task->Save();
    }
    const auto stored = LoadTask();
    QVERIFY(stored->task);
    TExecActionRecord read;
    read.ReadFromAction(stored->Action(1).Get());
    QCOMPARE(read.Path, QStringLiteral("  notepad.exe"));
    QCOMPARE(read.Arguments, QStringLiteral(" a.txt "));
    QCOMPARE(read.WorkingDirectory, QStringLiteral("/tmp "));
}

void TestEditAction::cancelKeepsTheRecord_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("new, Cancel") << -1 << false;
    QTest::newRow("new, Escape") << -1 << true;
    QTest::newRow("program, Cancel") << 0 << false;
    QTest::newRow("e-mail, Escape") << 6 << true;
    QTest::newRow("message, Cancel") << 7 << false;
}

void TestEditAction::cancelKeepsTheRecord()
{
    QFETCH(int, type);
    QFETCH(bool, byEscape);
    std::unique_ptr<TActionRecord> original;
    if (type == 0) {
        auto exec = std::make_unique<TExecActionRecord>();
        exec->Path = QStringLiteral("/bin/true");
        original = std::move(exec);
    } else if (type == 6) {
        original = std::make_unique<TEmailActionRecord>();
    } else if (type == 7) {
        original = std::make_unique<TShowMessageActionRecord>();
    }
    TActionRecord* record = original.get();
    WhenModal([byEscape](QWidget* form) {
        auto* name = Child<QLineEdit>(form, "edExeName");
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("changed"));
        if (byEscape)
            QTest::keyClick(form, Qt::Key_Escape);
        else
            Click(form, "btCancel");
    });
    QVERIFY(!EditTaskAction(record, type < 0));
    QCOMPARE(record, original.get());
    if (auto* exec = dynamic_cast<TExecActionRecord*>(record)) QCOMPARE(exec->Path, QStringLiteral("/bin/true"));
}

void TestEditAction::editProgramChangesOnlyItsRecord()
{
    TExecActionRecord exec;
    exec.ActionIndex = 2;
    exec.Path = QStringLiteral("/usr/bin/env");
    exec.Arguments = QStringLiteral("-i");
    exec.WorkingDirectory = QStringLiteral("/srv");
    TActionRecord* record = &exec;
    WhenModal([](QWidget* form) {
        QCOMPARE(form->windowTitle(), QStringLiteral("Edit Action"));
        QCOMPARE(Text(form, "edExeName"), QStringLiteral("/usr/bin/env"));
        QCOMPARE(Text(form, "edExeArgs"), QStringLiteral("-i"));
        QCOMPARE(Text(form, "edExeStartIn"), QStringLiteral("/srv"));
        Child<QLineEdit>(form, "edExeArgs")->clear();
        QTest::keyClicks(Child<QLineEdit>(form, "edExeArgs"), QStringLiteral("-0 date"));
        Click(form, "btOK");
    });
    QVERIFY(EditTaskAction(record, false));
    QCOMPARE(record, &exec);
    QCOMPARE(exec.ActionIndex, 2);
    QCOMPARE(exec.Path, QStringLiteral("/usr/bin/env"));
    QCOMPARE(exec.Arguments, QStringLiteral("-0 date"));
    QCOMPARE(exec.WorkingDirectory, QStringLiteral("/srv"));
}

void TestEditAction::mailShownReadOnly_data()
{
    QTest::addColumn<QStringList>("attachments");
    QTest::addColumn<QString>("shown");
    QTest::newRow("none") << QStringList() << QString();
    QTest::newRow("one") << QStringList{QStringLiteral("a.txt")} << QStringLiteral("a.txt");
    QTest::newRow("one with a blank") << QStringList{QStringLiteral("my file.txt")} << QStringLiteral("\"my file.txt\"");
    QTest::newRow("two") << QStringList{QStringLiteral("a.txt"), QStringLiteral("my file.txt")}
                         << QStringLiteral("a.txt,\"my file.txt\"");
    QTest::newRow("comma and quote") << QStringList{QStringLiteral("a,b"), QStringLiteral("say \"hi\"")}
                                     << QStringLiteral("\"a,b\",\"say \"\"hi\"\"\"");
}

void TestEditAction::mailShownReadOnly()
{
    QFETCH(QStringList, attachments);
    QFETCH(QString, shown);
    DemoTestEnvironment env;
    AddMailTask(attachments);
    const auto stored = LoadTask();
    QVERIFY(stored->task);
    TEmailActionRecord mail;
    mail.ReadFromAction(stored->Action(1).Get());
    QCOMPARE(mail.Attachments, attachments);
    QVERIFY(mail.Cc.isEmpty() && mail.Bcc.isEmpty() && mail.ReplyTo.isEmpty() && mail.HeaderFields.isEmpty());

    TActionRecord* record = &mail;
    WhenModal([shown](QWidget* form) {
        QCOMPARE(form->windowTitle(), QStringLiteral("Edit Action"));
        QCOMPARE(Child<QComboBox>(form, "cbActionType")->currentText(), QStringLiteral("Send an e-mail (deprecated)"));
        QCOMPARE(Child<QStackedWidget>(form, "pcTaskActions")->currentWidget()->objectName(), QStringLiteral("tsEmail"));
        QCOMPARE(Text(form, "edEmailFrom"), QStringLiteral("me@example.org"));
        QCOMPARE(Text(form, "edEmailTo"), QStringLiteral("you@example.org"));
        QCOMPARE(Text(form, "edEmailSubject"), QStringLiteral("Report"));
        QCOMPARE(Child<QPlainTextEdit>(form, "memEmailText")->toPlainText(), QStringLiteral("Line 1\nLine 2"));
        QCOMPARE(Text(form, "edEmailAttachment"), shown);
        QCOMPARE(Text(form, "edEmailSMTPServer"), QStringLiteral("smtp.example.org"));
        for (const char* name : {"edEmailFrom", "edEmailTo", "edEmailSubject", "memEmailText", "edEmailAttachment",
                                 "btAttachmentBrowse", "edEmailSMTPServer", "btOK"})
            QVERIFY2(!Enabled(form, name), name);
        Click(form, "btCancel");
    });
    QVERIFY(!EditTaskAction(record, false));
    QCOMPARE(mail.Subject, QStringLiteral("Report"));
}

void TestEditAction::messageShownReadOnly()
{
    DemoTestEnvironment env;
    AddMailTask({});
    const auto stored = LoadTask();
    TShowMessageActionRecord message;
    message.ReadFromAction(stored->Action(2).Get());
    TActionRecord* record = &message;
    WhenModal([](QWidget* form) {
        QCOMPARE(Child<QComboBox>(form, "cbActionType")->currentIndex(), 2);
        QCOMPARE(Child<QStackedWidget>(form, "pcTaskActions")->currentWidget()->objectName(), QStringLiteral("tsMessage"));
        QCOMPARE(Text(form, "edMessageTitle"), QStringLiteral("Hello"));
        QCOMPARE(Child<QPlainTextEdit>(form, "memMessageText")->toPlainText(), QStringLiteral("World"));
        QVERIFY(!Enabled(form, "edMessageTitle"));
        QVERIFY(!Enabled(form, "memMessageText"));
        QVERIFY(!Enabled(form, "btOK"));
        // The default button is off: Enter does not confirm a page that cannot be edited.
        QTest::keyClick(form, Qt::Key_Return);
        QVERIFY(form->isVisible());
        Click(form, "btCancel");
    });
    QVERIFY(!EditTaskAction(record, false));
}

void TestEditAction::writingMailBackKeepsTheOtherFields()
{
    DemoTestEnvironment env;
    const QStringList attachments{QStringLiteral("a.txt"), QStringLiteral("my file.txt")};
    AddMailTask(attachments);
    {
        const auto stored = LoadTask();
        TEmailActionRecord mail;
        mail.OriginalAction = stored->Action(1);
        mail.ReadFromAction(mail.OriginalAction.Get());
        mail.Subject = QStringLiteral("Changed");
        mail.Attachments.clear();
        mail.Cc = QStringLiteral("never@example.org");
        mail.HeaderFields << QStringLiteral("X-Never=1");
        mail.WriteToAction(mail.OriginalAction.Get());
        stored->task->Save();
    }
    const auto stored = LoadTask();
    const ComPtr<IEmailAction> mail = ActionAs<IEmailAction>(stored->Action(1));
    QString value;
    OleCheck(mail->get_Subject(&value));
    QCOMPARE(value, QStringLiteral("Changed"));
    OleCheck(mail->get_Cc(&value));
    QCOMPARE(value, QStringLiteral("cc@example.org"));
    OleCheck(mail->get_Bcc(&value));
    QCOMPARE(value, QStringLiteral("bcc@example.org"));
    OleCheck(mail->get_ReplyTo(&value));
    QCOMPARE(value, QStringLiteral("reply@example.org"));
    QStringList stillAttached;
    OleCheck(mail->get_Attachments(&stillAttached));
    QCOMPARE(stillAttached, attachments);
    ComPtr<ITaskNamedValueCollection> headers;
    OleCheck(mail->get_HeaderFields(headers.Put()));
    LONG count = 0;
    OleCheck(headers->get_Count(&count));
    QCOMPARE(count, 1);
    ComPtr<ITaskNamedValuePair> pair;
    OleCheck(headers->get_Item(1, pair.Put()));
    OleCheck(pair->get_Name(&value));
    QCOMPARE(value, QStringLiteral("X-Priority"));
}

void TestEditAction::recordOfTheWrongKindRaises_data()
{
    QTest::addColumn<int>("recordType");
    QTest::addColumn<int>("actionIndex");
    QTest::newRow("program record, e-mail action") << 0 << 1;
    QTest::newRow("message record, e-mail action") << 7 << 1;
    QTest::newRow("e-mail record, message action") << 6 << 2;
}

void TestEditAction::recordOfTheWrongKindRaises()
{
    QFETCH(int, recordType);
    QFETCH(int, actionIndex);
    DemoTestEnvironment env;
    AddMailTask({});
    const auto stored = LoadTask();
    std::unique_ptr<TActionRecord> record;
    if (recordType == 0) record = std::make_unique<TExecActionRecord>();
    if (recordType == 6) record = std::make_unique<TEmailActionRecord>();
    if (recordType == 7) record = std::make_unique<TShowMessageActionRecord>();
    QCOMPARE(int(record->type_), recordType);
    const ComPtr<IAction> action = stored->Action(actionIndex);
    QVERIFY_THROWS_EXCEPTION(EIntfCastError, record->ReadFromAction(action.Get()));
    QVERIFY_THROWS_EXCEPTION(EIntfCastError, record->WriteToAction(action.Get()));
}

void TestEditAction::browseTakesTheChosenFile()
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("tool"));
    QFile file(program);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    TfrmEditTaskAction2 form;
    form.show();
    auto* name = Child<QLineEdit>(&form, "edExeName");
    name->setText(dir.filePath(QStringLiteral("typed")));
    QCOMPARE(form.odExeFileName->windowTitle(), QStringLiteral("Open"));
    QCOMPARE(form.odExeFileName->fileMode(), QFileDialog::ExistingFile);

    // Cancel keeps what was typed; a picked file replaces it.
    WhenModal([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
    Click(&form, "btExeName");
    QCOMPARE(name->text(), dir.filePath(QStringLiteral("typed")));
    QString preset;
    WhenModal([&preset, program](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        preset = files->directory().absolutePath();
        // The user types the file's name into the dialog and confirms.
        auto* typed = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(typed);
        typed->setText(program);
        static_cast<QDialog*>(files)->accept();
    });
    Click(&form, "btExeName");
    QCOMPARE(preset, QDir(dir.path()).absolutePath());
    QCOMPARE(name->text(), program);
    QVERIFY(Enabled(&form, "btOK"));
}

void TestEditAction::chooserResults_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<int>("result");
    QTest::newRow("as created") << QString() << 1;
    QTest::newRow("application") << QStringLiteral("rbtApplication") << 1;
    QTest::newRow("mail") << QStringLiteral("rbtMail") << 6;
    QTest::newRow("message") << QStringLiteral("rbtMessage") << 14;
}

void TestEditAction::chooserResults()
{
    QFETCH(QString, choice);
    QFETCH(int, result);
    TSelectActionsForm chooser;
    QCOMPARE(chooser.windowTitle(), QStringLiteral("Select Action"));
    QVERIFY(chooser.findChild<QRadioButton*>(QStringLiteral("rbtApplication"))->isChecked());
    WhenModal([choice](QWidget* form) {
        if (!choice.isEmpty()) QTest::mouseClick(form->findChild<QRadioButton*>(choice), Qt::LeftButton);
        Click(form, "BitBtn1");
    });
    QCOMPARE(chooser.exec(), result);
    // The choice stays for the next use.
    WhenModal([](QWidget* form) { QTest::keyClick(form, Qt::Key_Return); });
    QCOMPARE(chooser.exec(), result);
}

void TestEditAction::chooserCancelClearsTheChoice_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("Escape") << true;
}

void TestEditAction::chooserCancelClearsTheChoice()
{
    QFETCH(bool, byEscape);
    TSelectActionsForm chooser;
    WhenModal([byEscape](QWidget* form) {
        QTest::mouseClick(Child<QRadioButton>(form, "rbtMail"), Qt::LeftButton);
        if (byEscape)
            QTest::keyClick(form, Qt::Key_Escape);
        else
            Click(form, "BitBtn2");
    });
    QCOMPARE(chooser.exec(), int(TSelectActionsForm::mrCancel));
    WhenModal([](QWidget* form) {
        for (const char* name : {"rbtApplication", "rbtMail", "rbtMessage"})
            QVERIFY2(!Child<QRadioButton>(form, name)->isChecked(), name);
        Click(form, "BitBtn1");
    });
    QCOMPARE(chooser.exec(), int(TSelectActionsForm::mrNone));
    // A kind picked afterwards counts again.
    WhenModal([](QWidget* form) {
        QTest::mouseClick(Child<QRadioButton>(form, "rbtMessage"), Qt::LeftButton);
        Click(form, "BitBtn1");
    });
    QCOMPARE(chooser.exec(), 14);
}

QTEST_MAIN(TestEditAction)
#include "tst_editaction.moc"
