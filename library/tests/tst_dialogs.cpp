// The property-pages dialog component and the task item's property pages, shown offscreen
// over a private service root and driven through the sheet's widgets.

#include "LibraryTestSupport.h"
#include "ModalScript.h"
#include "TTrigger.h"
#include "TTriggers.h"
#include "kvDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

using namespace LibraryTests;

namespace {

const QString kName = QStringLiteral("Sheet");

QStringList Tabs(QWidget* sheet)
{
    QStringList tabs;
    auto* pages = sheet->findChild<QTabWidget*>(QStringLiteral("tabPages"));
    for (int i = 0; i < pages->count(); ++i) tabs << pages->tabText(i);
    return tabs;
}

template <typename W>
W* Find(QWidget* parent, const char* name)
{
    return parent->findChild<W*>(QString::fromLatin1(name));
}

/// Makes the schedule page's one trigger a weekly one on Mondays.
void MakeWeekly(QWidget* sheet)
{
    Find<QComboBox>(sheet, "cbScheduleType")->setCurrentIndex(ttWeekly);
    Find<QCheckBox>(sheet, "ckbMonday")->setChecked(true);
}

/// Runs `script` on the sheet shown next; closes it should the script stop half-way.
void OnSheet(std::function<void(QWidget*)> script)
{
    ModalScript::OnNextModal([script = std::move(script)](QWidget* sheet) {
        if (!sheet) return;
        script(sheet);
        if (auto* dialog = qobject_cast<QDialog*>(sheet); dialog && dialog->isVisible()) dialog->done(-3);
    });
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

    /// A saved 1.0 task with one daily trigger, as the scheduler lists it.
    TTaskItem* DailyTask(Fixture& f)
    {
        TTaskItem* item = f.New(kName);
        TTrigger* trigger = item->GetTriggers()->Add(ttDaily);
        trigger->SetStartTime(Time(9, 0));
        trigger->SetBeginDate(Date(2030, 3, 15));
        TRIGGER_TYPE_UNION details{};
        details.Daily.DaysInterval = 1;
        trigger->SetDetails(details);
        item->GetTriggers()->UpdateTriggers();
        item->Save();
        f.scheduler->Refresh();
        return f.scheduler->ActivateTask(kName);
    }

    static QByteArray Bytes(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void pagesProperty()
    {
        TTaskPropertiesDialog dialog;
        QCOMPARE(dialog.GetPages(), (TPageTypes{ptSchedule, ptSettings}));
        QCOMPARE(dialog.GetPages().Bits(), 6u);
        QVERIFY(dialog.GetOptions().IsEmpty());
        QCOMPARE(MessageOf<ETaskDialogError>([&] { dialog.SetPages(TPageTypes{}); }),
                 QStringLiteral("At least one page must be specified."));
        QCOMPARE(dialog.GetPages(), (TPageTypes{ptSchedule, ptSettings}));
        dialog.SetPages(TPageTypes{ptTask});
        QCOMPARE(dialog.GetPages(), TPageTypes{ptTask});
    }

    void sheetLayout_data()
    {
        QTest::addColumn<TPageTypes>("pages");
        QTest::addColumn<TTaskPropDlgOptions>("options");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("tabs");
        QTest::addColumn<QString>("title");
        const QStringList two{QStringLiteral("Schedule"), QStringLiteral("Settings")};
        QTest::newRow("default pages, properties title")
            << TPageTypes{ptSchedule, ptSettings} << TTaskPropDlgOptions{} << QString() << two
            << QStringLiteral("Sheet Properties");
        QTest::newRow("all pages in order, caption as given")
            << TPageTypes{ptSettings, ptTask, ptSchedule} << TTaskPropDlgOptions{otDisplayIcon}
            << QStringLiteral("Edit the schedule")
            << QStringList{QStringLiteral("Task"), QStringLiteral("Schedule"), QStringLiteral("Settings")}
            << QStringLiteral("Edit the schedule");
        QTest::newRow("task and settings, no apply")
            << TPageTypes{ptTask, ptSettings} << TTaskPropDlgOptions{otNoApplyNow, otNoContextHelp} << QString()
            << QStringList{QStringLiteral("Task"), QStringLiteral("Settings")} << QStringLiteral("Sheet Properties");
    }
    void sheetLayout()
    {
        QFETCH(TPageTypes, pages);
        QFETCH(TTaskPropDlgOptions, options);
        QFETCH(QString, caption);
        QFETCH(QStringList, tabs);
        QFETCH(QString, title);
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::red);
        QApplication::setWindowIcon(QIcon(pixmap));
        Fixture f(false);
        DailyTask(f);
        const QByteArray before = Bytes(f.JobPath(kName + QStringLiteral(".job")));
        TTaskPropertiesDialog dialog;
        dialog.SetTaskScheduler(f.scheduler.get());
        dialog.SetTaskName(kName);
        dialog.SetPages(pages);
        dialog.SetOptions(options);
        dialog.SetCaption(caption);
        QStringList shownTabs;
        QString shownTitle;
        bool applyShown = false;
        bool iconShown = false;
        OnSheet([&](QWidget* sheet) {
            shownTabs = Tabs(sheet);
            shownTitle = sheet->windowTitle();
            applyShown = !Find<QPushButton>(sheet, "btnApply")->isHidden();
            iconShown = sheet->windowIcon().cacheKey() == QApplication::windowIcon().cacheKey();
            Find<QPushButton>(sheet, "btnCancel")->click();
        });
        QVERIFY(!dialog.Execute()); // cancelled
        QCOMPARE(shownTabs, tabs);
        QCOMPARE(shownTitle, title);
        QCOMPARE(applyShown, !options.Contains(otNoApplyNow));
        if (options.Contains(otDisplayIcon)) QVERIFY(iconShown);
        QCOMPARE(dialog.GetTask()->GetName(), kName);
        QCOMPARE(Bytes(f.JobPath(kName + QStringLiteral(".job"))), before);
        QApplication::setWindowIcon(QIcon());
    }

    void applyWithAndWithoutHandler_data()
    {
        QTest::addColumn<bool>("handler");
        QTest::newRow("no handler") << false;
        QTest::newRow("handler") << true;
    }
    void applyWithAndWithoutHandler()
    {
        QFETCH(bool, handler);
        Fixture f(false);
        DailyTask(f);
        TTaskPropertiesDialog dialog;
        dialog.SetTaskScheduler(f.scheduler.get());
        dialog.SetTaskName(kName);
        int applied = 0;
        TTriggerType seenByHandler = ttOnce;
        if (handler) {
            dialog.SetOnApply([&](TTaskPropertiesDialog* Sender, TTaskItem* ATask) {
                ++applied;
                QCOMPARE(Sender, &dialog);
                QCOMPARE(ATask, dialog.GetTask());
                seenByHandler = ATask->GetTriggers()->GetItem(0)->GetTriggerType();
            });
        }
        TTriggerType modelDuringSheet = ttOnce;
        OnSheet([&](QWidget* sheet) {
            MakeWeekly(sheet);
            Find<QPushButton>(sheet, "btnApply")->click();
            modelDuringSheet = dialog.GetTask()->GetTriggers()->GetItem(0)->GetTriggerType();
            Find<QPushButton>(sheet, "btnCancel")->click();
        });
        QVERIFY(dialog.Execute()); // Apply saved the change before Cancel
        QCOMPARE(applied, handler ? 1 : 0);
        QCOMPARE(modelDuringSheet, handler ? ttWeekly : ttDaily);
        if (handler) QCOMPARE(seenByHandler, ttWeekly);
        QCOMPARE(dialog.GetTask()->GetTriggers()->GetItem(0)->GetTriggerType(), ttWeekly); // reloaded after closing

        // The change is in the task file: a scheduler of its own reads it back.
        TTaskScheduler other;
        other.SetUseTaskScheduler1Only(true);
        other.Open();
        TTaskItem* reloaded = other.ActivateTask(kName);
        reloaded->Activate();
        QCOMPARE(reloaded->GetTriggers()->Count(), 1);
        QCOMPARE(reloaded->GetTriggers()->GetItem(0)->GetTriggerType(), ttWeekly);
        QCOMPARE(reloaded->GetTriggers()->GetItem(0)->GetDetails().Weekly.rgfDaysOfTheWeek, WORD(TASK_MONDAY));
    }

    void okSavesAndReloads()
    {
        Fixture f(false);
        DailyTask(f);
        TTaskPropertiesDialog dialog;
        dialog.SetTaskScheduler(f.scheduler.get());
        dialog.SetTaskName(kName);
        OnSheet([&](QWidget* sheet) {
            MakeWeekly(sheet);
            Find<QPushButton>(sheet, "btnOK")->click();
        });
        QVERIFY(dialog.Execute());
        QCOMPARE(dialog.GetTask()->GetTriggers()->GetItem(0)->GetTriggerType(), ttWeekly);
        QVERIFY(!dialog.GetTask()->GetIsDirty());
        // The hand-over of the sheet is single: the next Execute opens a sheet again.
        bool shownAgain = false;
        OnSheet([&](QWidget* sheet) {
            shownAgain = true;
            Find<QPushButton>(sheet, "btnCancel")->click();
        });
        QVERIFY(!dialog.Execute());
        QVERIFY(shownAgain);
    }

    void refusals()
    {
        TTaskPropertiesDialog dialog;
        dialog.SetTaskName(kName);
        QCOMPARE(MessageOf<ETaskDialogError>([&] { dialog.Execute(); }), QStringLiteral("Task Scheduler not found."));
        Fixture f(false);
        dialog.SetTaskScheduler(f.scheduler.get());
        dialog.SetTaskName(QStringLiteral("Missing"));
        QCOMPARE(MessageOf<ETaskDialogError>([&] { dialog.Execute(); }),
                 QStringLiteral("Could not activate the task \"Missing\"."));
    }

    void removingTheScheduler()
    {
        Fixture f(false);
        DailyTask(f);
        TTaskPropertiesDialog dialog;
        dialog.SetTaskScheduler(f.scheduler.get());
        dialog.SetTaskName(kName);
        f.scheduler.reset();
        QVERIFY(!dialog.GetTaskScheduler());
        QCOMPARE(MessageOf<ETaskDialogError>([&] { dialog.Execute(); }), QStringLiteral("Task Scheduler not found."));
    }

    void secondGenerationShowsNothing()
    {
        Fixture f(true);
        f.Listed(kName);
        TTaskPropertiesDialog dialog;
        dialog.SetTaskScheduler(f.scheduler.get());
        dialog.SetTaskName(kName);
        bool shown = false;
        ModalScript::OnNextModal([&](QWidget* modal) { shown = modal != nullptr; });
        QVERIFY(!dialog.Execute());
        QCoreApplication::processEvents();
        QVERIFY(!shown);
        QVERIFY(dialog.GetTask());
    }

    void displayTaskPages()
    {
        Fixture f(false);
        TTaskItem* item = DailyTask(f);
        item->Activate();
        QWidget parent;
        item->DisplayTaskPages(&parent, TPageTypes{}, QStringLiteral("Nothing")); // shows nothing
        QStringList tabs;
        QString title;
        QWidget* owner = nullptr;
        OnSheet([&](QWidget* sheet) {
            tabs = Tabs(sheet);
            title = sheet->windowTitle();
            owner = sheet->parentWidget();
            MakeWeekly(sheet);
            Find<QPushButton>(sheet, "btnOK")->click();
        });
        item->DisplayTaskPages(&parent, TPageTypes{ptSettings, ptSchedule}, QStringLiteral("Sheet Properties"));
        QCOMPARE(tabs, (QStringList{QStringLiteral("Schedule"), QStringLiteral("Settings")}));
        QCOMPARE(title, QStringLiteral("Sheet Properties"));
        QCOMPARE(owner, &parent);
        QCOMPARE(item->GetTriggers()->GetItem(0)->GetTriggerType(), ttWeekly); // reloaded
        QVERIFY(!item->GetIsDirty());                                         // and saved
    }

    void editWorkItem()
    {
        Fixture f(false);
        TTaskItem* item = DailyTask(f);
        item->Activate();
        QStringList tabs;
        OnSheet([&](QWidget* sheet) {
            tabs = Tabs(sheet);
            Find<QPushButton>(sheet, "btnCancel")->click();
        });
        item->EditWorkItem();
        QCOMPARE(tabs, (QStringList{QStringLiteral("Task"), QStringLiteral("Schedule"), QStringLiteral("Settings")}));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
