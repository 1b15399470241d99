// taskscheduler-props20-screenshots DIR: renders the five pages of the 2.0 properties form,
// for an example task of a private, temporary service, into DIR/props20-<page>.png without
// any display.

#include "NetworkProfileSource.h"
#include "ProgramStartup.h"
#include "Props_2_0.h"
#include "TUserPrompts.h"
#include "TaskDefinitionParts.h"
#include "kvTask.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

namespace {

/// Two profiles, so that the picture does not depend on the machine it is taken on.
class TExampleProfiles : public NetworkProfileSource {
public:
    std::optional<QStringList> ProfileNames() const override { return QStringList{"Wired connection 1", "Office Wi-Fi"}; }
};

void AddExample(TTaskScheduler& AScheduler)
{
    TTaskItem* task = AScheduler.CreateNewItem(QStringLiteral("Back up documents"));
    task->SetCurrentAction(1);
    task->InsertAction(0);
    task->SetApplicationName(QStringLiteral("/usr/bin/rsync"));
    task->SetParameters(QStringLiteral("-a Documents backup"));
    task->SetCreator(QStringLiteral("operator"));
    task->SetComment(QStringLiteral("Copies the documents folder to the backup disk every night."));
    ComPtr<IAction> message = task->InsertAction(TASK_ACTION_SHOW_MESSAGE);
    OleCheck(ActionAs<IShowMessageAction>(message)->put_Title(QStringLiteral("Backup finished")));
    TTrigger* trigger = task->GetTriggers()->Add(ttDaily);
    TRIGGER_TYPE_UNION details;
    std::memset(&details, 0, sizeof details);
    details.Daily.DaysInterval = 1;
    const QDate begin(2026, 1, 5);
    trigger->SetStartTime(EncodeDateTime(begin, QTime(2, 30)));
    trigger->SetBeginDate(EncodeDateTime(begin, QTime(0, 0)));
    trigger->SetDetails(details);
    task->GetTriggers()->UpdateTriggers();
    task->GetTriggers()->Add(ttAtLogon);
    const ComPtr<ITaskSettings> settings = SettingsOf(task->GetTaskDefinition().Get());
    OleCheck(settings->put_RunOnlyIfIdle(VARIANT_TRUE));
    OleCheck(settings->put_DisallowStartIfOnBatteries(VARIANT_TRUE));
    OleCheck(settings->put_ExecutionTimeLimit(QStringLiteral("PT2H")));
    OleCheck(settings->put_RestartInterval(QStringLiteral("PT5M")));
    OleCheck(settings->put_RestartCount(3));
    ComPtr<INetworkSettings> network;
    OleCheck(settings->get_NetworkSettings(network.Put()));
    OleCheck(network->put_Name(QStringLiteral("Wired connection 1")));
    task->Save();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir root;
    QTemporaryDir config;
    qputenv("TASKSCHEDULER_HOME", root.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(SApplicationTitle);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const TExampleProfiles profiles;
    const NetworkProfileSource::ScopedOverride useExamples(profiles);

    try {
        TTaskScheduler scheduler;
        scheduler.Open();
        AddExample(scheduler);
        scheduler.Refresh();
        TUserPrompts prompts;
        TfrmTask20Properties form(scheduler.ActivateTask(QStringLiteral("Back up documents")), &prompts);
        form.Open();
        form.show();
        auto* pages = form.findChild<QTabWidget*>(QStringLiteral("pcProperties"));
        const QDir dir(QString::fromLocal8Bit(argv[1]));
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            QApplication::processEvents();
            const QString file = dir.filePath(QStringLiteral("props20-%1.png").arg(pages->tabText(i).toLower()));
            if (!form.grab().save(file)) {
                std::fprintf(stderr, "could not write %s\n", qPrintable(file));
                return 1;
            }
        }
        form.reject();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
