// taskscheduler-wizard-screenshots DIR: renders each page of the new task wizard, as a user
// fills it in, into DIR/wizard-*.png, without any display and against a private, temporary
// service root.

#include "TaskWizard.h"
#include "TUserPrompts.h"
#include "kvTask.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>

namespace {

class TSilentPrompts : public TUserPrompts {
public:
    void ShowException(QWidget*, const QString& AMessage, QMessageBox::Icon) override { std::fprintf(stderr, "%s\n", qPrintable(AMessage)); }
    void ShowMessage(QWidget*, const QString& AText, const QString&, QMessageBox::Icon) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(AText));
    }
};

template <typename T = QWidget>
T* Control(QWidget& AForm, const char* AName)
{
    return AForm.findChild<T*>(QString::fromLatin1(AName));
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir root;
    qputenv("TASKSCHEDULER_HOME", root.path().toLocal8Bit());
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Task Scheduler Demo"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));

    TTaskScheduler scheduler;
    scheduler.Open();
    scheduler.CurrentFolderPath = QStringLiteral("\\");
    scheduler.Refresh();
    TSilentPrompts prompts;
    TNewTaskWizard wizard(&prompts);
    wizard.SetTaskScheduler(&scheduler);
    wizard.show();
    int failures = 0;
    const auto shoot = [&](const char* AName) {
        const QString file = out.filePath(QStringLiteral("wizard-%1.png").arg(QLatin1String(AName)));
        if (!wizard.grab().save(file)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            ++failures;
        }
    };
    const auto next = [&] { Control<QPushButton>(wizard, "btnNext")->click(); };

    shoot("1-start");
    next();
    shoot("2-custom-data");
    Control<QAbstractButton>(wizard, "rbRunApplication")->click();
    shoot("2-custom-data-program");
    next();
    Control<QLineEdit>(wizard, "edTaskName")->setText(QStringLiteral("Weekly backup"));
    Control<QListWidget>(wizard, "lbKinds")->setCurrentRow(2);
    shoot("3-task-name");
    next();
    Control<QCheckBox>(wizard, "ckbMonday")->setChecked(true);
    Control<QCheckBox>(wizard, "ckbThursday")->setChecked(true);
    shoot("4-trigger-details");
    next();
    shoot("5-account-info");
    next();
    shoot("6-finish");
    wizard.DiscardTask();
    return failures == 0 && wizard.CurrentPage() == TNewTaskWizard::pgFinish ? 0 : 1;
}
