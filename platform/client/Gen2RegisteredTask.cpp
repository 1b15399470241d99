#include "Gen2RegisteredTask.h"

#include "ErrorInfo.h"
#include "Gen2Protocol.h"
#include "Gen2TaskDefinition.h"
#include "OleDate.h"
#include "RunTimesWire.h"
#include "gen2/ScheduledRuns.h"
#include "gen2/TaskDocumentCodec.h"
#include "TaskPath.h"

#include <QCborArray>
#include <QStringTokenizer>
#include <algorithm>

using namespace Gen2;

namespace {

// Whether `name` is a valid name of printable ASCII, which TaskPath takes as it is: the
// names a service lists almost always are, and they need no parse.
bool IsPlainName(QStringView name)
{
    if (name.isEmpty() || name.size() > TaskPath::MaxNameLength || name == u"." || name == u"..") return false;
    return std::all_of(name.begin(), name.end(), [](QChar c) { return c >= u' ' && c < u'\x7F' && c != u'\\' && c != u'/'; });
}

QString NameOf(const QString& path)
{
    // The name of a path of plain names without the parse (a listing names every task).
    QStringView body(path);
    if (body.startsWith(u'\\')) body = body.mid(1);
    if (body.endsWith(u'\\')) body.chop(1);
    if (!body.isEmpty() && body.count(u'\\') < TaskPath::MaxDepth) {
        bool plain = true;
        QStringView last;
        for (const QStringView name : body.tokenize(u'\\')) {
            plain = plain && IsPlainName(name);
            last = name;
        }
        if (plain) return last.toString();
    }
    const auto parsed = TaskPath::Parse(path);
    return parsed ? parsed->Name() : path;
}

DATE DateOf(const QCborMap& reply, const QString& key)
{
    const QCborValue v = reply.value(key);
    return v.isInteger() ? RunTimesWire::LocalDate(v.toInteger()) : 0;
}

} // namespace

Gen2RegisteredTask::Gen2RegisteredTask(std::shared_ptr<Gen2Session> session, QString path, StoredText xml,
                                       std::shared_ptr<Gen2StatusBatch> listing)
    : m_session(std::move(session)), m_path(std::move(path)), m_xml(std::move(xml)), m_listing(std::move(listing))
{
}

ComPtr<Gen2RegisteredTask> Gen2RegisteredTask::FromRecord(std::shared_ptr<Gen2Session> session, const QCborMap& record,
                                                          std::shared_ptr<Gen2StatusBatch> listing)
{
    return Make(std::move(session), record.value(Gen2Protocol::Key::Path).toString(),
                record.value(Gen2Protocol::Key::Xml).toByteArray(), std::move(listing));
}

QCborMap Gen2RegisteredTask::Request(const QString& op) const
{
    return QCborMap{{QStringLiteral("op"), op}, {Gen2Protocol::Key::Folder, QStringLiteral("\\")}, {Gen2Protocol::Key::Path, m_path}};
}

HRESULT Gen2RegisteredTask::Status(StatusField field, QCborMap* reply) const
{
    // A caller reads state, last run and next run one after another (a list row, a status
    // page): one answer serves them. It serves each of them once, so that reading the same
    // thing again always asks, and only while nothing else went through the connection
    // since (this client may have changed the task).
    const unsigned bit = 1u << unsigned(field);
    if (m_hasStatus && !(m_statusServed & bit) && m_statusCall == m_session->CallCount()) {
        m_statusServed |= bit;
        SetErrorInfo(0, nullptr);
        *reply = m_status;
        return S_OK;
    }
    if (m_listing) {
        if (auto listed = m_listing->Take(m_path, bit)) {
            SetErrorInfo(0, nullptr);
            *reply = listed->status;
            return S_OK;
        }
    }
    const HRESULT hr = m_session->Call(Request(Gen2Protocol::kTaskStatus), reply);
    if (FAILED(hr)) return hr;
    m_status = *reply;
    m_hasStatus = true;
    m_statusServed = bit;
    m_statusCall = m_session->CallCount();
    return hr;
}

HRESULT Gen2RegisteredTask::get_Name(QString* pName) { return Out(pName, NameOf(m_path)); }
HRESULT Gen2RegisteredTask::get_Path(QString* pPath) { return Out(pPath, m_path); }

HRESULT Gen2RegisteredTask::get_State(TASK_STATE* pState)
{
    if (!pState) return E_POINTER;
    QCborMap reply;
    const HRESULT hr = Status(StatusField::State, &reply);
    if (FAILED(hr)) return hr;
    *pState = TASK_STATE(reply.value(Gen2Protocol::Key::State).toInteger());
    return S_OK;
}

HRESULT Gen2RegisteredTask::get_Enabled(VARIANT_BOOL* pEnabled)
{
    if (!pEnabled) return E_POINTER;
    QCborMap reply;
    const HRESULT hr = Status(StatusField::Enabled, &reply);
    if (FAILED(hr)) return hr;
    return OutFlag(pEnabled, reply.value(Gen2Protocol::Key::Enabled).toBool());
}

HRESULT Gen2RegisteredTask::put_Enabled(VARIANT_BOOL enabled)
{
    QCborMap request = Request(Gen2Protocol::kTaskSetEnabled);
    request.insert(Gen2Protocol::Key::Enabled, enabled != 0);
    return m_session->Call(request);
}

HRESULT Gen2RegisteredTask::Run(VARIANT params, IRunningTask** ppRunningTask)
{
    return RunEx(std::move(params), TASK_RUN_NO_FLAGS, 0, QString(), ppRunningTask);
}

HRESULT Gen2RegisteredTask::RunEx(VARIANT params, LONG flags, LONG sessionId, const QString& user, IRunningTask** ppRunningTask)
{
    if (ppRunningTask) *ppRunningTask = nullptr;
    QCborMap request = Request(Gen2Protocol::kTaskRun);
    request.insert(Gen2Protocol::Key::Params, Gen2Protocol::FromVariant(params));
    request.insert(Gen2Protocol::Key::Flags, flags);
    request.insert(QStringLiteral("sessionId"), sessionId);
    request.insert(Gen2Protocol::Key::User, user);
    return m_session->Call(request);
}

HRESULT Gen2RegisteredTask::GetInstances(LONG flags, IRunningTaskCollection** ppRunningTasks)
{
    if (!ppRunningTasks) return E_POINTER;
    *ppRunningTasks = nullptr;
    QCborMap request = Request(Gen2Protocol::kTaskInstances);
    request.insert(Gen2Protocol::Key::Flags, flags);
    return m_session->Call(request);
}

HRESULT Gen2RegisteredTask::get_LastRunTime(DATE* pLastRunTime)
{
    if (!pLastRunTime) return E_POINTER;
    QCborMap reply;
    const HRESULT hr = Status(StatusField::LastRunTime, &reply);
    if (FAILED(hr)) return hr;
    *pLastRunTime = DateOf(reply, Gen2Protocol::Key::LastRunTime);
    return S_OK;
}

HRESULT Gen2RegisteredTask::get_LastTaskResult(LONG* pLastTaskResult)
{
    if (!pLastTaskResult) return E_POINTER;
    QCborMap reply;
    const HRESULT hr = Status(StatusField::LastTaskResult, &reply);
    if (FAILED(hr)) return hr;
    *pLastTaskResult = LONG(reply.value(Gen2Protocol::Key::LastTaskResult).toInteger());
    return S_OK;
}

HRESULT Gen2RegisteredTask::get_NumberOfMissedRuns(LONG* pNumberOfMissedRuns)
{
    if (!pNumberOfMissedRuns) return E_POINTER;
    QCborMap reply;
    const HRESULT hr = Status(StatusField::MissedRuns, &reply);
    if (FAILED(hr)) return hr;
    *pNumberOfMissedRuns = LONG(reply.value(Gen2Protocol::Key::MissedRuns).toInteger());
    return S_OK;
}

HRESULT Gen2RegisteredTask::get_NextRunTime(DATE* pNextRunTime)
{
    if (!pNextRunTime) return E_POINTER;
    QCborMap reply;
    const HRESULT hr = Status(StatusField::NextRunTime, &reply);
    if (FAILED(hr)) return hr;
    *pNextRunTime = DateOf(reply, Gen2Protocol::Key::NextRunTime);
    return S_OK;
}

HRESULT Gen2RegisteredTask::get_Definition(ITaskDefinition** ppDefinition)
{
    if (!ppDefinition) return E_POINTER;
    *ppDefinition = nullptr;
    ValueProblem problem;
    // The triggers now and the rest when asked for: a list row shows the schedule only.
    auto model = DefinitionModel::OfStored(m_xml, &problem);
    if (!model) return Fail(problem);
    return OutObject(ppDefinition, Gen2TaskDefinition::Make(std::move(model)));
}

HRESULT Gen2RegisteredTask::get_Xml(QString* pXml) { return Out(pXml, QString::fromUtf8(m_xml.Read())); }

HRESULT Gen2RegisteredTask::Stop(LONG flags)
{
    if (flags != 0) return Fail(E_INVALIDARG, QStringLiteral("Stop takes no flags."));
    return m_session->Call(Request(Gen2Protocol::kTaskStop));
}

HRESULT Gen2RegisteredTask::GetRunTimes(const SYSTEMTIME* pstStart, const SYSTEMTIME* pstEnd, DWORD* pCount,
                                        QList<SYSTEMTIME>* pRunTimes)
{
    if (!pstStart || !pCount || !pRunTimes) return E_POINTER;
    const QDateTime start = OleDate::FromSystemTime(*pstStart);
    if (!start.isValid()) return Fail(E_INVALIDARG, QStringLiteral("The start of the period is not a valid date and time."));
    QCborMap request = Request(Gen2Protocol::kTaskRunTimes);
    request.insert(Gen2Protocol::Key::Start, start.toMSecsSinceEpoch());
    // An end in the year 9999 stands for "no end", whatever its other fields hold.
    if (pstEnd && pstEnd->wYear < 9999) {
        const QDateTime end = OleDate::FromSystemTime(*pstEnd);
        if (!end.isValid()) return Fail(E_INVALIDARG, QStringLiteral("The end of the period is not a valid date and time."));
        request.insert(Gen2Protocol::Key::End, end.toMSecsSinceEpoch());
    }
    request.insert(Gen2Protocol::Key::Count, qint64(*pCount));
    request.insert(Gen2Protocol::Key::Zone, QString::fromUtf8(ScheduleZone().id()));
    request.insert(Gen2Protocol::Key::RunDeltas, true);
    QCborMap reply;
    const HRESULT hr = m_session->Call(request, &reply);
    if (FAILED(hr)) return hr;
    QList<SYSTEMTIME> times;
    if (reply.contains(Gen2Protocol::Key::RunDeltas)) {
        auto runs = RunTimesWire::Unpack(reply.value(Gen2Protocol::Key::RunDeltas).toByteArray(),
                                         reply.value(Gen2Protocol::Key::Wall).toBool());
        if (!runs) return Fail(E_UNEXPECTED, QStringLiteral("The service sent run times that cannot be read."));
        times = std::move(*runs);
    } else if (reply.contains(Gen2Protocol::Key::Times)) {
        // A service that packs no runs lists their moments.
        const QCborArray moments = reply.value(Gen2Protocol::Key::Times).toArray();
        times.reserve(moments.size());
        for (const QCborValue& t : moments) times.append(OleDate::ToSystemTime(QDateTime::fromMSecsSinceEpoch(t.toInteger())));
    } else {
        return Fail(E_UNEXPECTED, QStringLiteral("The service sent run times that cannot be read."));
    }
    *pCount = DWORD(times.size());
    *pRunTimes = std::move(times);
    return S_OK;
}

HRESULT Gen2RegisteredTaskCollection::get_Count(LONG* pCount) { return OutValue(pCount, m_records.size()); }

QList<Gen2RegisteredTaskCollection::Record> Gen2RegisteredTaskCollection::RecordsOf(const QCborArray& records)
{
    QList<Record> result;
    result.reserve(records.size());
    for (const QCborValue& value : records) {
        const QCborMap record = value.toMap();
        result.append(Record{record.value(Gen2Protocol::Key::Path).toString(), record.value(Gen2Protocol::Key::Xml).toByteArray()});
    }
    return result;
}

HRESULT Gen2RegisteredTaskCollection::get_Item(VARIANT index, IRegisteredTask** ppTask)
{
    if (!ppTask) return E_POINTER;
    *ppTask = nullptr;
    if (index.vt == VT_BSTR) {
        for (const Record& record : m_records) {
            if (NameOf(record.path) == index.bstrVal)
                return OutObject(ppTask, Gen2RegisteredTask::Make(m_session, record.path, record.xml, m_listing));
        }
        return Fail(E_INVALIDARG, QStringLiteral("The collection holds no task \"%1\".").arg(index.bstrVal));
    }
    if (index.vt != VT_I4) return Fail(E_INVALIDARG, QStringLiteral("A task is fetched by its 1-based position or its name."));
    if (index.lVal < 1 || index.lVal > m_records.size())
        return Fail(E_INVALIDARG, QStringLiteral("There is no task %1; the collection holds %2.").arg(index.lVal).arg(m_records.size()));
    const Record& record = m_records[index.lVal - 1];
    return OutObject(ppTask, Gen2RegisteredTask::Make(m_session, record.path, record.xml, m_listing));
}
