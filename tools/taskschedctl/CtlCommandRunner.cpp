#include "CtlCommandRunner.h"

#include "CtlCommandSpecs.h"
#include "CtlInvocation.h"
#include "CtlOutput.h"
#include "CtlSession.h"
#include "Exceptions.h"
#include "ResultCodes.h"
#include "TaskRunHistory.h"
#include "TaskService2.h"
#include "UserAccount.h"
#include "kvTask.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <cstring>

namespace {

// Reading a task's times and status needs it activated; the scheduler's list keeps the item.
class ActivatedTask {
public:
    explicit ActivatedTask(TTaskItem* task) : m_task(task) { m_task->Activate(); }
    ~ActivatedTask() { m_task->Deactivate(false); }
    ActivatedTask(const ActivatedTask&) = delete;
    ActivatedTask& operator=(const ActivatedTask&) = delete;

private:
    TTaskItem* m_task;
};

QString StatusName(TTaskStatus status)
{
    switch (status) {
    case tsReady:
    case ts2Ready: return QStringLiteral("ready");
    case tsRunning:
    case ts2Running: return QStringLiteral("running");
    case tsDisabled:
    case ts2Disabled: return QStringLiteral("disabled");
    case tsHasNotRun: return QStringLiteral("has-not-run");
    case tsNoMoreRuns: return QStringLiteral("no-more-runs");
    case tsNotScheduled: return QStringLiteral("not-scheduled");
    case tsTerminated: return QStringLiteral("terminated");
    case tsNoValidTriggers: return QStringLiteral("no-valid-triggers");
    case ts2Queued: return QStringLiteral("queued");
    case ts2Unknown: break;
    }
    return QStringLiteral("unknown");
}

QDateTime RunTime(TDateTime value)
{
    return value > 1.0 ? DateTimeToQDateTime(value) : QDateTime();
}

QString ResultText(quint32 result)
{
    return QStringLiteral("0x%1").arg(result, 0, 16);
}

bool TaskEnabled(TTaskItem* task, bool gen2)
{
    return gen2 ? task->GetVistaFlag(tfvEnabled) : !task->GetFlags().Contains(tfDisabled);
}

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.isEmpty()) return name;
    return folder == QLatin1String("\\") ? folder + name : folder + QLatin1Char('\\') + name;
}

// The parts of a task that "list" shows; the task must be activated.
QJsonObject Summary(TTaskItem* task, const QString& path, bool gen2)
{
    return QJsonObject{{QStringLiteral("name"), task->GetName()},
                       {QStringLiteral("path"), path},
                       {QStringLiteral("status"), StatusName(task->GetStatus())},
                       {QStringLiteral("enabled"), TaskEnabled(task, gen2)},
                       {QStringLiteral("nextRun"), CtlOutput::TimeJson(RunTime(task->GetNextRunTime()))},
                       {QStringLiteral("lastRun"), CtlOutput::TimeJson(RunTime(task->GetMostRecentRunTime()))},
                       {QStringLiteral("lastResult"), qint64(task->GetExitCode())},
                       {QStringLiteral("schedule"), task->GetTriggerString()},
                       {QStringLiteral("author"), task->GetCreator()}};
}

QStringList SummaryRow(const QJsonObject& s)
{
    auto time = [](const QJsonValue& v) { return v.isNull() ? QStringLiteral("Never") : QDateTime::fromString(v.toString(), Qt::ISODate).toString(QStringLiteral("yyyy-MM-dd HH:mm")); };
    return {s.value(QStringLiteral("path")).toString(), s.value(QStringLiteral("status")).toString(),
            time(s.value(QStringLiteral("nextRun"))), time(s.value(QStringLiteral("lastRun"))),
            ResultText(quint32(s.value(QStringLiteral("lastResult")).toInteger()))};
}

const QStringList kSummaryHeader{QStringLiteral("TASK"), QStringLiteral("STATUS"), QStringLiteral("NEXT RUN"),
                                 QStringLiteral("LAST RUN"), QStringLiteral("LAST RESULT")};

QJsonArray HistoryJson(const QList<TaskRunRecord>& runs)
{
    QJsonArray array;
    for (const TaskRunRecord& r : runs) {
        array.append(QJsonObject{{QStringLiteral("instance"), r.instance}, {QStringLiteral("cause"), r.cause},
                                 {QStringLiteral("attempt"), r.attempt},
                                 {QStringLiteral("start"), CtlOutput::TimeJson(r.start.toLocalTime())},
                                 {QStringLiteral("end"), CtlOutput::TimeJson(r.end.toLocalTime())},
                                 {QStringLiteral("result"), qint64(r.result)}});
        if (!r.reason.isEmpty()) {
            QJsonObject run = array.last().toObject();
            run.insert(QStringLiteral("reason"), r.reason);
            array.replace(array.size() - 1, run);
        }
    }
    return array;
}

// ---- the trigger options of "create" -----------------------------------------------------

int ParseNumber(const QString& text, const QString& option, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        throw CtlFailure(ctlUsage, QStringLiteral("--%1 takes a number from %2 to %3, not \"%4\".").arg(option).arg(low).arg(high).arg(text));
    return value;
}

// Parses a comma list of names (their first three letters) into a bit mask.
int ParseNames(const QString& text, const QStringList& names, const QString& option)
{
    int mask = 0;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype index = names.indexOf(part.trimmed().left(3).toLower());
        if (index < 0 || part.trimmed().size() < 3)
            throw CtlFailure(ctlUsage, QStringLiteral("--%1: \"%2\" is not one of %3.").arg(option, part, names.join(QLatin1Char(','))));
        mask |= 1 << index;
    }
    if (mask == 0) throw CtlFailure(ctlUsage, QStringLiteral("--%1 needs at least one name.").arg(option));
    return mask;
}

const QStringList kDayNames{QStringLiteral("sun"), QStringLiteral("mon"), QStringLiteral("tue"), QStringLiteral("wed"),
                            QStringLiteral("thu"), QStringLiteral("fri"), QStringLiteral("sat")};
const QStringList kMonthNames{QStringLiteral("jan"), QStringLiteral("feb"), QStringLiteral("mar"), QStringLiteral("apr"),
                              QStringLiteral("may"), QStringLiteral("jun"), QStringLiteral("jul"), QStringLiteral("aug"),
                              QStringLiteral("sep"), QStringLiteral("oct"), QStringLiteral("nov"), QStringLiteral("dec")};

QDateTime ParseStart(const CtlInvocation& inv)
{
    if (!inv.IsSet(QStringLiteral("at"))) {
        const QDateTime now = QDateTime::currentDateTime().addSecs(60);
        return QDateTime(now.date(), QTime(now.time().hour(), now.time().minute()));
    }
    const QString text = inv.Value(QStringLiteral("at"));
    for (const char* format : {"yyyy-MM-dd HH:mm", "yyyy-MM-ddTHH:mm", "yyyy-MM-dd"}) {
        const QDateTime at = QDateTime::fromString(text, QString::fromLatin1(format));
        if (at.isValid()) return at;
    }
    throw CtlFailure(ctlUsage, QStringLiteral("--at takes \"YYYY-MM-DD HH:MM\", not \"%1\".").arg(text));
}

void AddTimeTrigger(TTaskItem* task, const CtlInvocation& inv)
{
    const QList<std::pair<QString, TTriggerType>> kinds{{QStringLiteral("once"), ttOnce},
                                                        {QStringLiteral("daily"), ttDaily},
                                                        {QStringLiteral("weekly"), ttWeekly},
                                                        {QStringLiteral("monthly"), ttMonthlyDate},
                                                        {QStringLiteral("monthly-dow"), ttMonthlyDow}};
    std::optional<TTriggerType> kind;
    for (const auto& [name, type] : kinds) {
        if (!inv.IsSet(name)) continue;
        if (kind) throw CtlFailure(ctlUsage, QStringLiteral("A task is created with one trigger: give one of --once, --daily, --weekly, --monthly, --monthly-dow."));
        kind = type;
    }
    if (!kind) return;
    const QDateTime start = ParseStart(inv);
    const int every = inv.IsSet(QStringLiteral("every")) ? ParseNumber(inv.Value(QStringLiteral("every")), QStringLiteral("every"), 1, 999) : 1;
    const int days = inv.IsSet(QStringLiteral("days")) ? ParseNames(inv.Value(QStringLiteral("days")), kDayNames, QStringLiteral("days"))
                                                       : 1 << (start.date().dayOfWeek() % 7);
    const int months = inv.IsSet(QStringLiteral("months")) ? ParseNames(inv.Value(QStringLiteral("months")), kMonthNames, QStringLiteral("months")) : 0xFFF;
    const int day = inv.IsSet(QStringLiteral("day")) ? ParseNumber(inv.Value(QStringLiteral("day")), QStringLiteral("day"), 1, 31) : start.date().day();
    int week = 1;
    if (inv.IsSet(QStringLiteral("week"))) {
        const QString w = inv.Value(QStringLiteral("week"));
        week = w.compare(QLatin1String("last"), Qt::CaseInsensitive) == 0 ? 5 : ParseNumber(w, QStringLiteral("week"), 1, 4);
    }

    TRIGGER_TYPE_UNION details;
    std::memset(&details, 0, sizeof details);
    switch (*kind) {
    case ttDaily: details.Daily.DaysInterval = WORD(every); break;
    case ttWeekly:
        details.Weekly.WeeksInterval = WORD(every);
        details.Weekly.rgfDaysOfTheWeek = WORD(days);
        break;
    case ttMonthlyDate:
        details.MonthlyDate.rgfDays = DWORD(1u << (day - 1));
        details.MonthlyDate.rgfMonths = WORD(months);
        break;
    case ttMonthlyDow:
        details.MonthlyDOW.wWhichWeek = WORD(week);
        details.MonthlyDOW.rgfDaysOfTheWeek = WORD(days);
        details.MonthlyDOW.rgfMonths = WORD(months);
        break;
    default: break;
    }
    TTrigger* trigger = task->GetTriggers()->Add(*kind);
    trigger->SetStartTime(EncodeDateTime(start.date(), start.time()));
    trigger->SetBeginDate(EncodeDateTime(start.date(), QTime(0, 0)));
    trigger->SetDetails(details);
    if (*kind == ttMonthlyDow && task->GetTaskScheduler()->RunningVistaOrLater())
        trigger->SetVistaMonthlyDOWWeeks(TVistaMDOWWeeks::FromBits(1u << (week - 1)));
    task->GetTriggers()->UpdateTriggers();
}

QString ReadPassword(const CtlInvocation& inv, QTextStream& in)
{
    if (!inv.IsSet(QStringLiteral("password-file"))) return {};
    const QString name = inv.Value(QStringLiteral("password-file"));
    if (name == QLatin1String("-")) return in.readLine();
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        throw CtlFailure(ctlUsage, QStringLiteral("Cannot read the password file \"%1\": %2").arg(name, file.errorString()));
    return QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
}

TASK_LOGON_TYPE DocumentLogonType(const QString& xml)
{
    QXmlStreamReader reader(xml);
    while (reader.readNextStartElement() || !reader.atEnd()) {
        if (reader.isStartElement() && reader.name() == QLatin1String("LogonType")) {
            bool ok = false;
            const int value = reader.readElementText().toInt(&ok);
            return ok ? TASK_LOGON_TYPE(value) : TASK_LOGON_NONE;
        }
        if (reader.hasError()) break;
        if (!reader.isStartElement()) reader.readNext();
    }
    return TASK_LOGON_NONE;
}

// ---- the commands -------------------------------------------------------------------------

class Commands {
public:
    Commands(const CtlInvocation& inv, CtlOutput& out, QTextStream& in)
        : m_inv(inv), m_out(out), m_in(in),
          m_session(inv.IsSet(QStringLiteral("v1")), inv.Value(QStringLiteral("computer")))
    {
    }

    CtlExitCode Run()
    {
        const QString& name = m_inv.Command()->name;
        const QString arg = m_inv.Arguments().value(0);
        if (name == QLatin1String("list")) return List(arg);
        if (name == QLatin1String("show")) return Show(m_session.ParseTaskPath(arg));
        if (name == QLatin1String("create")) return Create(m_session.ParseTaskPath(arg));
        if (name == QLatin1String("enable") || name == QLatin1String("disable"))
            return Enable(m_session.ParseTaskPath(arg), name == QLatin1String("enable"));
        if (name == QLatin1String("run")) return Simple(arg, QStringLiteral("Started"), [](TTaskItem* t) { t->Run(); });
        if (name == QLatin1String("stop")) return Simple(arg, QStringLiteral("Stopped"), [](TTaskItem* t) { t->Terminate(); });
        if (name == QLatin1String("delete")) return Delete(m_session.ParseTaskPath(arg));
        if (name == QLatin1String("history")) return History(m_session.ParseTaskPath(arg));
        if (name == QLatin1String("export")) return Export(arg);
        if (name == QLatin1String("import")) return Import(arg, m_inv.Arguments().value(1));
        if (name == QLatin1String("mkdir")) return MakeFolder(arg);
        if (name == QLatin1String("rmdir")) return RemoveFolder(arg);
        throw CtlFailure(ctlUsage, QStringLiteral("Unknown command \"%1\".").arg(name));
    }

private:
    bool Gen2() const { return m_session.IsGen2(); }

    QStringList FolderTree(const QString& start, bool recurse)
    {
        QStringList paths{start};
        if (!recurse) return paths;
        ComPtr<ITaskFolderCollection> folders;
        OleCheck(m_session.Folder(start)->GetFolders(0, folders.Put()));
        LONG count = 0;
        OleCheck(folders->get_Count(&count));
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<ITaskFolder> folder;
            OleCheck(folders->get_Item(VARIANT::I4(i), folder.Put()));
            QString path;
            OleCheck(folder->get_Path(&path));
            paths << FolderTree(path, true);
        }
        return paths;
    }

    QJsonArray ListedTasks(const QString& folder)
    {
        QJsonArray tasks;
        TTaskScheduler& scheduler = m_session.Scheduler();
        m_session.SelectFolder(folder);
        scheduler.Refresh();
        for (int i = 0; i < scheduler.GetCount(); ++i) {
            TTaskItem* task = scheduler.GetItem(i);
            const ActivatedTask active(task);
            tasks.append(Summary(task, JoinPath(folder, task->GetName()), Gen2()));
        }
        return tasks;
    }

    CtlExitCode List(const QString& arg)
    {
        if (!arg.isEmpty()) m_session.RequireGen2(QStringLiteral("Listing a folder"));
        QJsonArray folders;
        QList<QStringList> rows;
        m_session.Scheduler().SetShowHidden(m_inv.IsSet(QStringLiteral("hidden")));
        const QStringList paths = Gen2() ? FolderTree(m_session.ParseFolderPath(arg.isEmpty() ? QStringLiteral("\\") : arg),
                                                      !m_inv.IsSet(QStringLiteral("no-recurse")))
                                         : QStringList{QString()};
        for (const QString& path : paths) {
            const QJsonArray tasks = ListedTasks(path);
            folders.append(QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("tasks"), tasks}});
            for (const QJsonValue& t : tasks) rows << SummaryRow(t.toObject());
        }
        if (m_out.Json()) {
            m_out.PrintJson(QJsonObject{{QStringLiteral("computer"), m_session.Scheduler().GetTargetComputer()},
                                        {QStringLiteral("generation"), Gen2() ? QStringLiteral("2.0") : QStringLiteral("1.0")},
                                        {QStringLiteral("folders"), folders}});
        } else {
            m_out.PrintTable(kSummaryHeader, rows);
        }
        return ctlDone;
    }

    QList<TaskRunRecord> ReadHistory(const CtlTaskPath& path, bool tolerateNoDaemon)
    {
        QList<TaskRunRecord> runs;
        QString error;
        const HRESULT hr = Gen2() ? TaskRunHistory::ReadGen2(path.path, runs, &error) : TaskRunHistory::ReadGen1(path.name, runs, &error);
        if (FAILED(hr)) {
            if (tolerateNoDaemon) return {};
            throw EPlatformError(hr, error.isEmpty() ? EPlatformError(hr).Message() : error);
        }
        return runs;
    }

    CtlExitCode Show(const CtlTaskPath& path)
    {
        TTaskItem* task = m_session.Task(path);
        QJsonObject object = Summary(task, path.path, Gen2());
        QStringList triggers;
        for (int i = 0; i < task->GetTriggers()->GetCount(); ++i) triggers << task->GetTriggers()->GetItem(i)->GetAsString();
        object.insert(QStringLiteral("program"), task->GetApplicationName());
        object.insert(QStringLiteral("arguments"), task->GetParameters());
        object.insert(QStringLiteral("workingDirectory"), task->GetWorkingDirectory());
        object.insert(QStringLiteral("comment"), task->GetComment());
        object.insert(QStringLiteral("account"), task->GetAccountName());
        object.insert(QStringLiteral("triggers"), QJsonArray::fromStringList(triggers));
        QString xml;
        if (Gen2()) {
            ComPtr<IRegisteredTask> registered;
            OleCheck(task->GetTaskInterface().As(registered));
            OleCheck(registered->get_Xml(&xml));
            object.insert(QStringLiteral("definition"), xml);
        }
        // The history comes from the service process; a service hosted in this process keeps none.
        const QList<TaskRunRecord> runs = ReadHistory(path, true);
        object.insert(QStringLiteral("history"), HistoryJson(runs));
        task->Deactivate(false);
        if (m_out.Json()) {
            m_out.PrintJson(object);
            return ctlDone;
        }
        m_out.PrintFields({{QStringLiteral("Task"), path.path},
                           {QStringLiteral("Status"), object.value(QStringLiteral("status")).toString()},
                           {QStringLiteral("Enabled"), object.value(QStringLiteral("enabled")).toBool() ? QStringLiteral("yes") : QStringLiteral("no")},
                           {QStringLiteral("Program"), object.value(QStringLiteral("program")).toString()},
                           {QStringLiteral("Arguments"), object.value(QStringLiteral("arguments")).toString()},
                           {QStringLiteral("Working directory"), object.value(QStringLiteral("workingDirectory")).toString()},
                           {QStringLiteral("Comment"), object.value(QStringLiteral("comment")).toString()},
                           {QStringLiteral("Author"), object.value(QStringLiteral("author")).toString()},
                           {QStringLiteral("Account"), object.value(QStringLiteral("account")).toString()},
                           {QStringLiteral("Schedule"), object.value(QStringLiteral("schedule")).toString()},
                           {QStringLiteral("Next run"), SummaryRow(object).at(2)},
                           {QStringLiteral("Last run"), SummaryRow(object).at(3)},
                           {QStringLiteral("Last result"), SummaryRow(object).at(4)}});
        for (const QString& t : triggers) m_out.PrintLine(QStringLiteral("Trigger: ") + t);
        if (!runs.isEmpty()) {
            m_out.PrintLine(QString());
            PrintHistory(runs);
        }
        if (!xml.isEmpty()) {
            m_out.PrintLine(QString());
            m_out.PrintLine(xml.trimmed());
        }
        return ctlDone;
    }

    void PrintHistory(const QList<TaskRunRecord>& runs)
    {
        QList<QStringList> rows;
        for (const TaskRunRecord& r : runs)
            rows << QStringList{CtlOutput::TimeText(r.start.toLocalTime()), CtlOutput::TimeText(r.end.toLocalTime()), r.cause,
                                QString::number(r.attempt), r.reason.isEmpty() ? ResultText(r.result) : r.reason};
        m_out.PrintTable({QStringLiteral("START"), QStringLiteral("END"), QStringLiteral("CAUSE"), QStringLiteral("ATTEMPT"),
                          QStringLiteral("RESULT")},
                         rows);
    }

    CtlExitCode Create(const CtlTaskPath& path)
    {
        if (!m_inv.IsSet(QStringLiteral("program"))) return RegisterDocument(path, m_in.readAll(), false);
        m_session.SelectFolder(path.folder);
        TTaskScheduler& scheduler = m_session.Scheduler();
        scheduler.SetDuplicate(tdError);
        // The duplicate check looks at the list, so it must hold every task of the folder.
        scheduler.SetShowHidden(true);
        scheduler.Refresh();
        TTaskItem* task = scheduler.CreateNewItem(path.name);
        task->SetCurrentAction(1);
        task->InsertAction(0);
        task->SetApplicationName(m_inv.Value(QStringLiteral("program")));
        if (m_inv.IsSet(QStringLiteral("arguments"))) task->SetParameters(m_inv.Value(QStringLiteral("arguments")));
        if (m_inv.IsSet(QStringLiteral("working-directory"))) task->SetWorkingDirectory(m_inv.Value(QStringLiteral("working-directory")));
        if (m_inv.IsSet(QStringLiteral("comment"))) task->SetComment(m_inv.Value(QStringLiteral("comment")));
        AddTimeTrigger(task, m_inv);
        if (m_inv.IsSet(QStringLiteral("disabled"))) {
            if (Gen2()) task->SetVistaFlag(tfvEnabled, false);
            else task->SetFlags(task->GetFlags().Include(tfDisabled));
        }
        const QString account = m_inv.IsSet(QStringLiteral("account")) ? m_inv.Value(QStringLiteral("account")) : UserAccount::CurrentLogonName();
        task->SetAccountInformation(account, ReadPassword(m_inv, m_in), QString());
        task->Save();
        return PrintCreated(path);
    }

    CtlExitCode PrintCreated(const CtlTaskPath& path)
    {
        if (!m_out.Json()) {
            m_out.PrintLine(QStringLiteral("Created %1").arg(path.path));
            return ctlDone;
        }
        TTaskItem* task = m_session.Task(path);
        const QJsonObject summary = Summary(task, path.path, Gen2());
        task->Deactivate(false);
        m_out.PrintJson(summary);
        return ctlDone;
    }

    CtlExitCode RegisterDocument(const CtlTaskPath& path, const QString& xml, bool replace)
    {
        m_session.RequireGen2(QStringLiteral("A definition document"));
        if (xml.trimmed().isEmpty()) throw CtlFailure(ctlUsage, QStringLiteral("No definition document was given on standard input."));
        const ComPtr<ITaskFolder> folder = m_session.Folder(path.folder);
        const QString password = ReadPassword(m_inv, m_in);
        ComPtr<IRegisteredTask> registered;
        OleCheck(folder->RegisterTask(path.name, xml, replace ? TASK_CREATE_OR_UPDATE : TASK_CREATE, VARIANT::Empty(),
                                      password.isEmpty() ? VARIANT::Empty() : VARIANT::String(password),
                                      DocumentLogonType(xml), VARIANT::Empty(), registered.Put()));
        return PrintCreated(path);
    }

    CtlExitCode Enable(const CtlTaskPath& path, bool enable)
    {
        TTaskItem* task = m_session.Task(path);
        if (Gen2()) {
            // Enabling changes the stored task alone; re-registering would need the account's password.
            ComPtr<IRegisteredTask> registered;
            OleCheck(task->GetTaskInterface().As(registered));
            OleCheck(registered->put_Enabled(enable ? VARIANT_TRUE : VARIANT_FALSE));
        } else {
            TTaskFlags flags = task->GetFlags();
            task->SetFlags(enable ? flags.Exclude(tfDisabled) : flags.Include(tfDisabled));
            task->Save();
        }
        task->Deactivate(false);
        m_out.PrintLine(QStringLiteral("%1 %2").arg(enable ? QStringLiteral("Enabled") : QStringLiteral("Disabled"), path.path));
        return ctlDone;
    }

    template <typename F>
    CtlExitCode Simple(const QString& arg, const QString& done, F action)
    {
        const CtlTaskPath path = m_session.ParseTaskPath(arg);
        TTaskItem* task = m_session.Task(path);
        action(task);
        task->Deactivate(false);
        m_out.PrintLine(QStringLiteral("%1 %2").arg(done, path.path));
        return ctlDone;
    }

    CtlExitCode Delete(const CtlTaskPath& path)
    {
        m_session.Task(path)->Deactivate(false);
        m_session.Scheduler().DeleteTask(path.name);
        m_out.PrintLine(QStringLiteral("Deleted %1").arg(path.path));
        return ctlDone;
    }

    CtlExitCode History(const CtlTaskPath& path)
    {
        m_session.Task(path)->Deactivate(false);
        const QList<TaskRunRecord> runs = ReadHistory(path, false);
        if (m_out.Json()) m_out.PrintJson(QJsonObject{{QStringLiteral("task"), path.path}, {QStringLiteral("runs"), HistoryJson(runs)}});
        else PrintHistory(runs);
        return ctlDone;
    }

    CtlExitCode Export(const QString& arg)
    {
        m_session.RequireGen2(QStringLiteral("Exporting a definition"));
        const CtlTaskPath path = m_session.ParseTaskPath(arg);
        TTaskItem* task = m_session.Task(path);
        ComPtr<IRegisteredTask> registered;
        OleCheck(task->GetTaskInterface().As(registered));
        QString xml;
        OleCheck(registered->get_Xml(&xml));
        task->Deactivate(false);
        m_out.PrintLine(xml.trimmed());
        return ctlDone;
    }

    CtlExitCode Import(const QString& arg, const QString& file)
    {
        m_session.RequireGen2(QStringLiteral("Importing a definition"));
        const CtlTaskPath path = m_session.ParseTaskPath(arg);
        QString xml;
        if (file.isEmpty() || file == QLatin1String("-")) {
            xml = m_in.readAll();
        } else {
            QFile input(file);
            if (!input.open(QIODevice::ReadOnly))
                throw CtlFailure(ctlUsage, QStringLiteral("Cannot read \"%1\": %2").arg(file, input.errorString()));
            xml = QString::fromUtf8(input.readAll());
        }
        return RegisterDocument(path, xml, m_inv.IsSet(QStringLiteral("replace")));
    }

    CtlExitCode MakeFolder(const QString& arg)
    {
        m_session.RequireGen2(QStringLiteral("A folder"));
        const QString path = m_session.ParseFolderPath(arg);
        if (path == QLatin1String("\\")) throw CtlFailure(ctlUsage, QStringLiteral("The root folder always exists."));
        if (m_session.Scheduler().FolderExists(path)) throw CtlFailure(ctlRefused, QStringLiteral("The folder \"%1\" already exists.").arg(path));
        m_session.Scheduler().CreateFolder(path);
        m_out.PrintLine(QStringLiteral("Created folder %1").arg(path));
        return ctlDone;
    }

    CtlExitCode RemoveFolder(const QString& arg)
    {
        m_session.RequireGen2(QStringLiteral("A folder"));
        const QString path = m_session.ParseFolderPath(arg);
        if (path == QLatin1String("\\")) throw CtlFailure(ctlRefused, QStringLiteral("The root folder cannot be deleted."));
        m_session.Folder(path);
        m_session.Scheduler().DeleteFolder(path);
        m_out.PrintLine(QStringLiteral("Deleted folder %1").arg(path));
        return ctlDone;
    }

    const CtlInvocation& m_inv;
    CtlOutput& m_out;
    QTextStream& m_in;
    CtlSession m_session;
};

bool IsNotFound(HRESULT hr)
{
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

} // namespace

CtlExitCode CtlCommandRunner::Run(const CtlInvocation& invocation)
{
    const CtlCommandSpec* command = invocation.Command();
    if (invocation.HelpRequested()) {
        m_out << (command ? CtlCommandHelp(*command) : CtlOverviewHelp());
        m_out.flush();
        return ctlDone;
    }
    if (command->name == QLatin1String("completion")) {
        if (invocation.Arguments().value(0) != QLatin1String("bash"))
            throw CtlFailure(ctlUsage, QStringLiteral("Completion is offered for bash only."));
        m_out << CtlBashCompletion();
        m_out.flush();
        return ctlDone;
    }
    CtlOutput output(m_out, invocation.IsSet(QStringLiteral("json")));
    return Commands(invocation, output, m_in).Run();
}

int RunTaskSchedCtl(const QStringList& arguments, QTextStream& out, QTextStream& err, QTextStream& in)
{
    auto fail = [&err](int code, const QString& message) {
        err << "taskschedctl: " << message << '\n';
        err.flush();
        return code;
    };
    if (arguments.value(0) == QLatin1String("--man")) {
        out << CtlManPage();
        out.flush();
        return ctlDone;
    }
    try {
        return CtlCommandRunner(out, in).Run(CtlInvocation::Parse(arguments));
    } catch (const CtlFailure& failure) {
        return fail(failure.Code(), failure.Message());
    } catch (const EPlatformError& error) {
        return fail(IsNotFound(error.Code()) ? ctlNotFound : ctlRefused, error.Message());
    } catch (const Exception& error) {
        return fail(ctlRefused, error.Message());
    }
}
