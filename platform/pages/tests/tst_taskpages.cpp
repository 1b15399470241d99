// The service's property pages of a 1.0 task and the property sheet, driven through their
// widgets against a fresh service root; what they change is read back from the task file.

#include "ModalScript.h"
#include "ObjectRuntime.h"
#include "PropSheet.h"
#include "ResultCodes.h"
#include "ScheduleInput.h"
#include "TaskPage.h"
#include "TaskPropertySheet.h"
#include "TemporaryServiceRoot.h"
#include "TriggerRecords.h"
#include "tvMSTask.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimeEdit>
#include <QtTest>

namespace {

const QString kJob = QStringLiteral("Pages.job");

template <typename W>
W* Find(QWidget* parent, const char* name)
{
    W* w = parent->findChild<W*>(QString::fromLatin1(name));
    if (!w) qWarning("no widget %s", name);
    return w;
}

} // namespace

class TestTaskPages : public QObject {
    Q_OBJECT

    std::unique_ptr<TemporaryServiceRoot> m_root;
    ComPtr<ITaskScheduler> m_scheduler;

    QString JobPath() const { return m_root->Path() + QStringLiteral("/jobs/") + kJob; }

    QByteArray JobBytes() const
    {
        QFile f(JobPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    /// The task as the service has it stored.
    ComPtr<ITask> Load()
    {
        ComPtr<ITask> task;
        m_scheduler->Activate(kJob, IID_ITask, reinterpret_cast<IUnknown**>(task.Put()));
        return task;
    }

    QList<TASK_TRIGGER> StoredTriggers()
    {
        QList<TASK_TRIGGER> result;
        ComPtr<ITask> task = Load();
        WORD count = 0;
        task->GetTriggerCount(&count);
        for (WORD i = 0; i < count; ++i) {
            ComPtr<ITaskTrigger> trigger;
            TASK_TRIGGER t{};
            task->GetTrigger(i, trigger.Put());
            trigger->GetTrigger(&t);
            result.append(t);
        }
        return result;
    }

    /// Shows the pages `types` of `task` in a sheet and runs `script` on the sheet once it
    /// is shown; the script ends by closing it.
    INT_PTR Show(ITask* task, QList<TASKPAGE> types, std::function<void(TaskPropertySheet*)> script,
                 bool persist = true, DWORD flags = 0, const QString& caption = QStringLiteral("Pages"))
    {
        ComPtr<IProvideTaskPage> provider;
        if (FAILED(ComPtr<ITask>(task).As(provider))) return -2;
        PROPSHEETHEADERW header;
        header.dwFlags = flags | PSH_USECALLBACK;
        header.pszCaption = caption;
        for (TASKPAGE type : types) {
            HPROPSHEETPAGE page = nullptr;
            if (FAILED(provider->GetPage(type, persist, &page))) return -2;
            header.phpage.append(page);
        }
        header.pfnCallback = [script](HWND sheet, UINT msg, LPARAM) {
            if (msg == PSCB_INITIALIZED)
                QTimer::singleShot(0, sheet, [script, sheet] {
                    auto* propertySheet = qobject_cast<TaskPropertySheet*>(sheet);
                    script(propertySheet);
                    // A script that failed half-way leaves the sheet open: close it.
                    if (propertySheet->isVisible()) propertySheet->done(-3);
                });
            return 1;
        };
        return PropertySheetW(&header);
    }

    static QPushButton* Button(QWidget* sheet, const char* name) { return Find<QPushButton>(sheet, name); }

private slots:
    void initTestCase() { QCOMPARE(CoInitialize(nullptr), S_OK); }
    void cleanupTestCase() { CoUninitialize(); }

    void init()
    {
        m_root = std::make_unique<TemporaryServiceRoot>();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        QVERIFY(SUCCEEDED(CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                           m_scheduler.PutVoid())));
        ComPtr<ITask> task;
        QCOMPARE(m_scheduler->NewWorkItem(kJob, CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(task.Put())), S_OK);
        task->SetApplicationName(QStringLiteral("/bin/true"));
        WORD index = 0;
        ComPtr<ITaskTrigger> trigger;
        QCOMPARE(task->CreateTrigger(&index, trigger.Put()), S_OK);
        const TASK_TRIGGER daily = TriggerRecords::Daily(QDate(2030, 3, 15));
        QCOMPARE(trigger->SetTrigger(&daily), S_OK);
        ComPtr<IPersistFile> file;
        QCOMPARE(task.As(file), S_OK);
        QCOMPARE(file->Save(nullptr, 1), S_OK);
    }

    void cleanup()
    {
        TaskPage::SetProgramChooser({});
        TaskPage::SetPasswordPrompt({});
        m_scheduler = nullptr;
        m_root.reset();
    }

    void sheetTitleAndButtons_data()
    {
        QTest::addColumn<DWORD>("flags");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("apply");
        QTest::newRow("caption as given") << DWORD(0) << QStringLiteral("Pages") << true;
        QTest::newRow("properties title") << PSH_PROPTITLE << QStringLiteral("Pages Properties") << true;
        QTest::newRow("no apply") << PSH_NOAPPLYNOW << QStringLiteral("Pages") << false;
    }
    void sheetTitleAndButtons()
    {
        QFETCH(DWORD, flags);
        QFETCH(QString, title);
        QFETCH(bool, apply);
        ComPtr<ITask> task = Load();
        QString shownTitle;
        bool applyShown = false;
        const INT_PTR result = Show(task.Get(), {TASKPAGE_SETTINGS}, [&](TaskPropertySheet* sheet) {
            shownTitle = sheet->windowTitle();
            applyShown = !Button(sheet, "btnApply")->isHidden();
            Button(sheet, "btnCancel")->click();
        }, true, flags);
        QCOMPARE(result, INT_PTR(0));
        QCOMPARE(shownTitle, title);
        QCOMPARE(applyShown, apply);
    }

    void editWorkItemShowsAllPages()
    {
        ComPtr<ITask> task = Load();
        QStringList tabs;
        QString title;
        ModalScript::OnNextModal([&](QWidget* sheet) {
            auto* pages = Find<QTabWidget>(sheet, "tabPages");
            for (int i = 0; i < pages->count(); ++i) tabs << pages->tabText(i);
            title = sheet->windowTitle();
            Button(sheet, "btnCancel")->click();
        });
        const QByteArray before = JobBytes();
        QCOMPARE(task->EditWorkItem(nullptr, 0), S_OK);
        QCOMPARE(tabs, (QStringList{QStringLiteral("Task"), QStringLiteral("Schedule"), QStringLiteral("Settings")}));
        QCOMPARE(title, QStringLiteral("Pages Properties"));
        QCOMPARE(JobBytes(), before);
    }

    void pageKindsAndFailures()
    {
        ComPtr<ITask> task = Load();
        ComPtr<IProvideTaskPage> provider;
        QCOMPARE(task.As(provider), S_OK);
        HPROPSHEETPAGE page = nullptr;
        QCOMPARE(provider->GetPage(TASKPAGE(3), 1, &page), E_INVALIDARG);
        QVERIFY(!page);
        QCOMPARE(provider->GetPage(TASKPAGE_TASK, 1, nullptr), E_POINTER);
        PROPSHEETHEADERW empty;
        QCOMPARE(PropertySheetW(&empty), INT_PTR(-1));
        QCOMPARE(PropertySheetW(nullptr), INT_PTR(-1));
    }

    void scheduleChangeReachesFile()
    {
        ComPtr<ITask> task = Load();
        QString description;
        const INT_PTR result = Show(task.Get(), {TASKPAGE_SCHEDULE}, [&](TaskPropertySheet* sheet) {
            Find<QComboBox>(sheet, "cbScheduleType")->setCurrentIndex(TASK_TIME_TRIGGER_WEEKLY);
            Find<QTimeEdit>(sheet, "teStartTime")->setTime(QTime(7, 45));
            Find<QSpinBox>(sheet, "sbWeeks")->setValue(2);
            for (const char* day : {"ckbSunday", "ckbMonday", "ckbFriday"}) Find<QCheckBox>(sheet, day)->setChecked(true);
            Find<QCheckBox>(sheet, "ckbSunday")->setChecked(false);
            description = Find<QLabel>(sheet, "lblDescription")->text();
            Button(sheet, "btnOK")->click();
        });
        QCOMPARE(result, INT_PTR(1));
        QVERIFY2(description.contains(QStringLiteral("Monday")) && description.contains(QStringLiteral("07:45")),
                 qPrintable(description));
        const QList<TASK_TRIGGER> stored = StoredTriggers();
        QCOMPARE(stored.size(), 1);
        QCOMPARE(DWORD(stored[0].TriggerType), DWORD(TASK_TIME_TRIGGER_WEEKLY));
        QCOMPARE(stored[0].Type.Weekly.rgfDaysOfTheWeek, WORD(TASK_MONDAY | TASK_FRIDAY));
        QCOMPARE(stored[0].Type.Weekly.WeeksInterval, WORD(2));
        QCOMPARE(stored[0].wStartHour, WORD(7));
        QCOMPARE(stored[0].wStartMinute, WORD(45));
        QCOMPARE(stored[0].wBeginYear, WORD(2030)); // the dates were not touched
    }

    void newDeleteAndMultipleSchedules()
    {
        ComPtr<ITask> task = Load();
        bool multipleLocked = false;
        Show(task.Get(), {TASKPAGE_SCHEDULE}, [&](TaskPropertySheet* sheet) {
            auto* multiple = Find<QCheckBox>(sheet, "ckbShowMultiple");
            QVERIFY(!multiple->isChecked());
            multiple->setChecked(true);
            Button(sheet, "btnNew")->click();
            Find<QComboBox>(sheet, "cbScheduleType")->setCurrentIndex(TASK_EVENT_TRIGGER_AT_LOGON);
            Button(sheet, "btnNew")->click();
            multipleLocked = !multiple->isEnabled();
            QCOMPARE(Find<QComboBox>(sheet, "cbSchedules")->count(), 3);
            QVERIFY(Find<QComboBox>(sheet, "cbSchedules")->itemText(1).startsWith(QStringLiteral("2. ")));
            Button(sheet, "btnDelete")->click(); // the third, selected
            Button(sheet, "btnOK")->click();
        });
        QVERIFY(multipleLocked);
        const QList<TASK_TRIGGER> stored = StoredTriggers();
        QCOMPARE(stored.size(), 2);
        QCOMPARE(DWORD(stored[0].TriggerType), DWORD(TASK_TIME_TRIGGER_DAILY));
        QCOMPARE(DWORD(stored[1].TriggerType), DWORD(TASK_EVENT_TRIGGER_AT_LOGON));

        task = Load();
        Show(task.Get(), {TASKPAGE_SCHEDULE}, [&](TaskPropertySheet* sheet) {
            QVERIFY(Find<QCheckBox>(sheet, "ckbShowMultiple")->isChecked());
            auto* list = Find<QComboBox>(sheet, "cbSchedules");
            QCOMPARE(list->count(), 2);
            Button(sheet, "btnDelete")->click();
            Button(sheet, "btnDelete")->click();
            QVERIFY(!Button(sheet, "btnDelete")->isEnabled());
            Button(sheet, "btnOK")->click();
        });
        QVERIFY(StoredTriggers().isEmpty());
    }

    void badInputIsRefused_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("days");       // month days entered, or a weekday box to clear
        QTest::addColumn<QString>("field");      // what the message starts with
        QTest::newRow("day 0") << int(TASK_TIME_TRIGGER_MONTHLYDATE) << QStringLiteral("1, 0") << QStringLiteral("Day(s):");
        QTest::newRow("day 32") << int(TASK_TIME_TRIGGER_MONTHLYDATE) << QStringLiteral("32") << QStringLiteral("Day(s):");
        QTest::newRow("no day") << int(TASK_TIME_TRIGGER_MONTHLYDATE) << QString() << QStringLiteral("Day(s):");
        QTest::newRow("no weekday") << int(TASK_TIME_TRIGGER_WEEKLY) << QString() << QStringLiteral("Days of the week:");
        QTest::newRow("no month") << int(TASK_TIME_TRIGGER_MONTHLYDOW) << QStringLiteral("ckbMonday") << QStringLiteral("Months:");
        QTest::newRow("end before begin") << int(TASK_TIME_TRIGGER_DAILY) << QStringLiteral("end") << QStringLiteral("End Date:");
        QTest::newRow("repetition too long") << int(TASK_TIME_TRIGGER_DAILY) << QStringLiteral("repeat") << QStringLiteral("Repeat task:");
    }
    void badInputIsRefused()
    {
        QFETCH(int, kind);
        QFETCH(QString, days);
        QFETCH(QString, field);
        ComPtr<ITask> task = Load();
        const QByteArray before = JobBytes();
        QString message;
        bool stillOpen = false;
        const INT_PTR result = Show(task.Get(), {TASKPAGE_SCHEDULE, TASKPAGE_SETTINGS}, [&](TaskPropertySheet* sheet) {
            Find<QComboBox>(sheet, "cbScheduleType")->setCurrentIndex(kind);
            if (kind == TASK_TIME_TRIGGER_MONTHLYDATE) {
                Find<QCheckBox>(sheet, "ckbMarch")->setChecked(true);
                auto* edit = Find<QLineEdit>(sheet, "edMonthDays");
                edit->clear();
                QTest::keyClicks(edit, days);
            } else if (kind == TASK_TIME_TRIGGER_MONTHLYDOW) {
                Find<QCheckBox>(sheet, days.toLatin1().constData())->setChecked(true);
            } else if (!days.isEmpty()) {
                ModalScript::OnNextModal([&](QWidget* advanced) {
                    if (days == QLatin1String("end")) {
                        Find<QCheckBox>(advanced, "ckbEndDate")->setChecked(true);
                        Find<QDateEdit>(advanced, "deEndDate")->setDate(QDate(2030, 3, 14));
                    } else {
                        Find<QCheckBox>(advanced, "ckbRepeat")->setChecked(true);
                        Find<QSpinBox>(advanced, "sbInterval")->setValue(60);
                        Find<QSpinBox>(advanced, "sbDurationHours")->setValue(0);
                        Find<QSpinBox>(advanced, "sbDurationMinutes")->setValue(30);
                    }
                    qobject_cast<QDialog*>(advanced)->accept();
                });
                Button(sheet, "btnAdvanced")->click();
            }
            // Something on the settings page changes too: it must not be written either.
            Find<QCheckBox>(sheet, "ckbWakeToRun")->setChecked(true);
            message = ModalScript::ClickExpectingMessage(Button(sheet, "btnApply"));
            if (message.isEmpty()) message = ModalScript::ClickExpectingMessage(Button(sheet, "btnOK"));
            stillOpen = sheet->isVisible();
            Button(sheet, "btnCancel")->click();
        });
        QVERIFY2(message.startsWith(field), qPrintable(message));
        QVERIFY(stillOpen);
        QCOMPARE(result, INT_PTR(0));
        QCOMPARE(JobBytes(), before);
        DWORD flags = 0;
        task->GetFlags(&flags);
        QCOMPARE(flags & TASK_FLAG_SYSTEM_REQUIRED, DWORD(0));
    }

    void monthDays_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<DWORD>("mask");
        QTest::newRow("list") << QStringLiteral("1, 15,31") << true << DWORD(0x40004001);
        QTest::newRow("spaces") << QStringLiteral(" 2  3 ") << true << DWORD(0x6);
        QTest::newRow("repeated") << QStringLiteral("5,5") << true << DWORD(0x10);
        QTest::newRow("word") << QStringLiteral("1, last") << false << DWORD(0);
        QTest::newRow("negative") << QStringLiteral("-1") << false << DWORD(0);
        QTest::newRow("empty") << QStringLiteral(" , ") << false << DWORD(0);
    }
    void monthDays()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(DWORD, mask);
        DWORD parsed = 0;
        QString message;
        QCOMPARE(ScheduleInput::ParseMonthDays(text, &parsed, &message), ok);
        if (ok) {
            QCOMPARE(parsed, mask);
            DWORD again = 0;
            QVERIFY(ScheduleInput::ParseMonthDays(ScheduleInput::MonthDaysText(mask), &again, &message));
            QCOMPARE(again, mask);
        } else {
            QVERIFY(message.startsWith(QStringLiteral("Day(s):")));
        }
    }

    void settingsReachFile()
    {
        ComPtr<ITask> task = Load();
        Show(task.Get(), {TASKPAGE_SETTINGS}, [&](TaskPropertySheet* sheet) {
            Find<QCheckBox>(sheet, "ckbDeleteWhenDone")->setChecked(true);
            Find<QCheckBox>(sheet, "ckbStopAfter")->setChecked(true);
            Find<QSpinBox>(sheet, "sbStopHours")->setValue(1);
            Find<QSpinBox>(sheet, "sbStopMinutes")->setValue(30);
            Find<QCheckBox>(sheet, "ckbStartIdle")->setChecked(true);
            Find<QSpinBox>(sheet, "sbIdleMinutes")->setValue(5);
            Find<QSpinBox>(sheet, "sbDeadlineMinutes")->setValue(20);
            Find<QCheckBox>(sheet, "ckbStopIdle")->setChecked(true);
            Find<QCheckBox>(sheet, "ckbNoStartOnBatteries")->setChecked(true);
            Find<QCheckBox>(sheet, "ckbStopOnBatteries")->setChecked(true);
            Find<QCheckBox>(sheet, "ckbWakeToRun")->setChecked(true);
            Button(sheet, "btnOK")->click();
        });
        ComPtr<ITask> stored = Load();
        DWORD flags = 0;
        stored->GetFlags(&flags);
        QCOMPARE(flags, TASK_FLAG_DELETE_WHEN_DONE | TASK_FLAG_START_ONLY_IF_IDLE | TASK_FLAG_KILL_ON_IDLE_END
                     | TASK_FLAG_DONT_START_IF_ON_BATTERIES | TASK_FLAG_KILL_IF_GOING_ON_BATTERIES | TASK_FLAG_SYSTEM_REQUIRED);
        DWORD maxRun = 0;
        stored->GetMaxRunTime(&maxRun);
        QCOMPARE(maxRun, DWORD(90 * 60000));
        WORD idle = 0;
        WORD deadline = 0;
        stored->GetIdleWait(&idle, &deadline);
        QCOMPARE(idle, WORD(5));
        QCOMPARE(deadline, WORD(20));

        // No limit, and a zero limit refused.
        Show(stored.Get(), {TASKPAGE_SETTINGS}, [&](TaskPropertySheet* sheet) {
            Find<QSpinBox>(sheet, "sbStopHours")->setValue(0);
            Find<QSpinBox>(sheet, "sbStopMinutes")->setValue(0);
            QVERIFY(ModalScript::ClickExpectingMessage(Button(sheet, "btnOK")).startsWith(QStringLiteral("Stop the task")));
            Find<QCheckBox>(sheet, "ckbStopAfter")->setChecked(false);
            Button(sheet, "btnOK")->click();
        });
        Load()->GetMaxRunTime(&maxRun);
        QCOMPARE(maxRun, TASK_NO_MAX_RUN_TIME);
    }

    void taskPageReachesFile()
    {
        const QString program = QCoreApplication::applicationFilePath();
        TaskPage::SetProgramChooser([&](QWidget*, const QString&) { return program; });
        TaskPage::SetPasswordPrompt([](QWidget*, const QString& account) -> std::optional<QString> {
            return account == QLatin1String("backup") ? std::optional<QString>(QStringLiteral("secret")) : std::nullopt;
        });
        ComPtr<ITask> task = Load();
        Show(task.Get(), {TASKPAGE_TASK}, [&](TaskPropertySheet* sheet) {
            Button(sheet, "btnBrowse")->click();
            QCOMPARE(Find<QLineEdit>(sheet, "edProgram")->text(), program);
            Find<QLineEdit>(sheet, "edArguments")->setText(QStringLiteral("--quiet now"));
            Find<QLineEdit>(sheet, "edWorkingDirectory")->setText(QStringLiteral("/tmp"));
            Find<QPlainTextEdit>(sheet, "edComment")->setPlainText(QStringLiteral("line one\nline two"));
            Find<QLineEdit>(sheet, "edRunAs")->setText(QStringLiteral("backup"));
            Button(sheet, "btnSetPassword")->click();
            Find<QCheckBox>(sheet, "ckbEnabled")->setChecked(false);
            Button(sheet, "btnOK")->click();
        });
        ComPtr<ITask> stored = Load();
        QString text;
        stored->GetApplicationName(&text);
        QCOMPARE(text, program);
        stored->GetParameters(&text);
        QCOMPARE(text, QStringLiteral("--quiet now"));
        stored->GetWorkingDirectory(&text);
        QCOMPARE(text, QStringLiteral("/tmp"));
        stored->GetComment(&text);
        QCOMPARE(text, QStringLiteral("line one\nline two"));
        QCOMPARE(stored->GetAccountInformation(&text), S_OK);
        QCOMPARE(text, QStringLiteral("backup"));
        DWORD flags = 0;
        stored->GetFlags(&flags);
        QCOMPARE(flags & TASK_FLAG_DISABLED, TASK_FLAG_DISABLED);
        QVERIFY(!JobBytes().contains("secret"));
    }

    void taskPageRefusals()
    {
        const QString notAProgram = m_root->Path() + QStringLiteral("/notes.txt");
        QFile notes(notAProgram);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.close();
        QVERIFY(notes.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        TaskPage::SetProgramChooser([&](QWidget*, const QString&) { return notAProgram; });
        ComPtr<ITask> task = Load();
        const QByteArray before = JobBytes();
        QString browseMessage;
        QString emptyMessage;
        Show(task.Get(), {TASKPAGE_TASK}, [&](TaskPropertySheet* sheet) {
            browseMessage = ModalScript::ClickExpectingMessage(Button(sheet, "btnBrowse"));
            QCOMPARE(Find<QLineEdit>(sheet, "edProgram")->text(), QStringLiteral("/bin/true"));
            Find<QLineEdit>(sheet, "edProgram")->clear();
            emptyMessage = ModalScript::ClickExpectingMessage(Button(sheet, "btnOK"));
            Button(sheet, "btnCancel")->click();
        });
        QVERIFY2(browseMessage.startsWith(QStringLiteral("Run: \"%1\"").arg(notAProgram)), qPrintable(browseMessage));
        QVERIFY2(emptyMessage.startsWith(QStringLiteral("Run:")), qPrintable(emptyMessage));
        QCOMPARE(JobBytes(), before);
    }

    void applyThenCancelKeepsApplied()
    {
        ComPtr<ITask> task = Load();
        bool applyDisabledAfter = false;
        const INT_PTR result = Show(task.Get(), {TASKPAGE_SETTINGS}, [&](TaskPropertySheet* sheet) {
            QVERIFY(!Button(sheet, "btnApply")->isEnabled());
            Find<QCheckBox>(sheet, "ckbWakeToRun")->setChecked(true);
            QVERIFY(Button(sheet, "btnApply")->isEnabled());
            Button(sheet, "btnApply")->click();
            applyDisabledAfter = !Button(sheet, "btnApply")->isEnabled();
            Find<QCheckBox>(sheet, "ckbDeleteWhenDone")->setChecked(true);
            Button(sheet, "btnCancel")->click();
        });
        QCOMPARE(result, INT_PTR(1));
        QVERIFY(applyDisabledAfter);
        DWORD flags = 0;
        Load()->GetFlags(&flags);
        QCOMPARE(flags, TASK_FLAG_SYSTEM_REQUIRED);
    }

    void withoutPersistChangesOnlyTheObjectChanges()
    {
        ComPtr<ITask> task = Load();
        const QByteArray before = JobBytes();
        Show(task.Get(), {TASKPAGE_SETTINGS}, [&](TaskPropertySheet* sheet) {
            Find<QCheckBox>(sheet, "ckbWakeToRun")->setChecked(true);
            Button(sheet, "btnOK")->click();
        }, false);
        QCOMPARE(JobBytes(), before);
        DWORD flags = 0;
        task->GetFlags(&flags);
        QCOMPARE(flags, TASK_FLAG_SYSTEM_REQUIRED);
        ComPtr<IPersistFile> file;
        QCOMPARE(task.As(file), S_OK);
        QCOMPARE(file->IsDirty(), S_OK);
    }

    void replacedProcedureSeesCommandsAfterTheSheet()
    {
        ComPtr<ITask> task = Load();
        QList<WORD> commands;
        DWORD storedAtApply = 0;
        ComPtr<IProvideTaskPage> provider;
        QCOMPARE(task.As(provider), S_OK);
        PROPSHEETHEADERW header;
        header.dwFlags = PSH_USECALLBACK;
        HPROPSHEETPAGE page = nullptr;
        QCOMPARE(provider->GetPage(TASKPAGE_SETTINGS, 1, &page), S_OK);
        header.phpage.append(page);
        SHEETPROC previous;
        header.pfnCallback = [&](HWND sheet, UINT msg, LPARAM) {
            if (msg != PSCB_INITIALIZED) return 1;
            previous = SetSheetProc(sheet, [&](HWND h, UINT m, WPARAM w, LPARAM l) {
                const LRESULT r = previous(h, m, w, l);
                commands << LOWORD(w);
                if (LOWORD(w) == ID_APPLY_NOW) Load()->GetFlags(&storedAtApply);
                return r;
            });
            QTimer::singleShot(0, sheet, [sheet] {
                Find<QCheckBox>(sheet, "ckbWakeToRun")->setChecked(true);
                Button(sheet, "btnApply")->click();
                Button(sheet, "btnOK")->click();
            });
            return 1;
        };
        QCOMPARE(PropertySheetW(&header), INT_PTR(1));
        QVERIFY(previous);
        QCOMPARE(commands, (QList<WORD>{ID_APPLY_NOW, IDOK}));
        QCOMPARE(storedAtApply, TASK_FLAG_SYSTEM_REQUIRED);
        QVERIFY(!SetSheetProc(nullptr, {}));
    }
};

QTEST_MAIN(TestTaskPages)
#include "tst_taskpages.moc"
