// taskscheduler-demo-forms-screenshot DIR: renders the action editor, the action kind chooser,
// the account form and the target computer dialog, filled with example entries, into PNG
// images in DIR without a display.

#include "AccountDetails.h"
#include "AdminCheck.h"
#include "EditTaskAction2.h"
#include "SelectActions.h"
#include "TTargetComputerDialog.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <cstdio>

namespace {
bool Save(QWidget& AForm, const QString& AFile)
{
    AForm.show();
    QApplication::processEvents();
    if (AForm.grab().save(AFile)) return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(AFile));
    return false;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    bool ok = true;

    TfrmEditTaskAction2 editor;
    TExecActionRecord exec;
    exec.Path = QStringLiteral("/usr/bin/rsync");
    exec.Arguments = QStringLiteral("-a /home/alice/Documents /mnt/backup");
    exec.WorkingDirectory = QStringLiteral("/home/alice");
    editor.setWindowTitle(QStringLiteral("Edit Action"));
    editor.ShowRecord(exec);
    ok &= Save(editor, dir.filePath(QStringLiteral("edit-task-action.png")));

    TfrmEditTaskAction2 mailView;
    TEmailActionRecord mail;
    mail.From = QStringLiteral("scheduler@example.org");
    mail.To_ = QStringLiteral("alice@example.org");
    mail.Subject = QStringLiteral("Nightly report");
    mail.Body = QStringLiteral("The nightly backup has finished.");
    mail.Attachments = QStringList{QStringLiteral("report.txt"), QStringLiteral("backup log.txt")};
    mail.Server = QStringLiteral("smtp.example.org");
    mailView.setWindowTitle(QStringLiteral("Edit Action"));
    mailView.ShowRecord(mail);
    ok &= Save(mailView, dir.filePath(QStringLiteral("edit-task-action-email.png")));

    TSelectActionsForm chooser;
    ok &= Save(chooser, dir.filePath(QStringLiteral("select-actions.png")));

    AdminCheck::ScopedOverride asUser(false);
    TfrmTaskAccount account;
    account.Prepare(QStringLiteral("alice"), QStringLiteral("secret"), false);
    ok &= Save(account, dir.filePath(QStringLiteral("account-details.png")));

    TTargetComputerDialog target(
        QStringLiteral("Select a Target Computer for the Task Scheduler.\nNote: You must have administartive rights on it!"),
        {QStringLiteral("backup"), QStringLiteral("build-server"), QStringLiteral("files.example"),
         QStringLiteral("office")});
    target.findChild<QListWidget*>(QStringLiteral("lvHosts"))->setCurrentRow(1);
    ok &= Save(target, dir.filePath(QStringLiteral("target-computer.png")));
    return ok ? 0 : 1;
}
