#include "gen1/JobFile.h"

#include "ResultCodes.h"

#include <QDate>
#include <QtEndian>
#include <array>
#include <bitset>

namespace {

constexpr char kMagic[4] = {'T', 'S', 'J', 'B'};

enum Tag : quint16 {
    TagApplication = 1,
    TagParameters = 2,
    TagWorkingDirectory = 3,
    TagComment = 4,
    TagCreator = 5,
    TagAccountName = 6,
    TagAccountOptions = 7,
    TagFlags = 8,
    TagTaskFlags = 9,
    TagPriority = 10,
    TagMaxRunTime = 11,
    TagIdleWait = 12,
    TagWorkItemData = 13,
    TagTrigger = 14,   // repeated, in trigger order
    TagMostRecentRun = 64,
    TagExitCode = 65,
    TagRunState = 66,
    TagLimit = 128,
};

constexpr quint32 kPasswordGiven = 0x1;
constexpr quint32 kRunning = 0x1;
constexpr quint32 kTerminated = 0x2;

const std::array<quint32, 256>& CrcTable()
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

class Writer {
public:
    void Record(Tag tag, QByteArrayView bytes)
    {
        Append<quint16>(tag);
        Append<quint32>(quint32(bytes.size()));
        m_bytes.append(bytes.data(), bytes.size());
    }
    void String(Tag tag, const QString& s)
    {
        QByteArray utf16(s.size() * 2, '\0');
        for (qsizetype i = 0; i < s.size(); ++i) qToLittleEndian<quint16>(s.at(i).unicode(), utf16.data() + 2 * i);
        Record(tag, utf16);
    }
    void U32(Tag tag, quint32 value)
    {
        char buf[4];
        qToLittleEndian(value, buf);
        Record(tag, QByteArrayView(buf, 4));
    }
    const QByteArray& Bytes() const { return m_bytes; }

private:
    template <typename T>
    void Append(T value)
    {
        char buf[sizeof(T)];
        qToLittleEndian(value, buf);
        m_bytes.append(buf, sizeof(T));
    }
    QByteArray m_bytes;
};

QByteArray SystemTimeBytes(const SYSTEMTIME& st)
{
    QByteArray b(16, '\0');
    const WORD f[8] = {st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    for (int i = 0; i < 8; ++i) qToLittleEndian<quint16>(f[i], b.data() + 2 * i);
    return b;
}

HRESULT Corrupt(QString* error, const QString& why)
{
    if (error) *error = QStringLiteral("The task file is damaged: %1").arg(why);
    return HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
}

bool Utf16(QByteArrayView bytes, QString* out)
{
    if (bytes.size() % 2 != 0) return false;
    QString s(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i) s[i] = QChar(qFromLittleEndian<quint16>(bytes.data() + 2 * i));
    *out = s;
    return true;
}

// A time the service wrote: all zero for "never", else a real day and time of day, with the
// day of the week that day has.
bool IsSystemTime(const SYSTEMTIME& st)
{
    if (st.wYear == 0 && st.wMonth == 0 && st.wDayOfWeek == 0 && st.wDay == 0 && st.wHour == 0 && st.wMinute == 0
        && st.wSecond == 0 && st.wMilliseconds == 0)
        return true;
    const QDate day(st.wYear, st.wMonth, st.wDay);
    return st.wYear >= 1601 && st.wYear <= 30827 && day.isValid() && st.wDayOfWeek == day.dayOfWeek() % 7 && st.wHour < 24
        && st.wMinute < 60 && st.wSecond < 60 && st.wMilliseconds < 1000;
}

bool U32(QByteArrayView bytes, quint32* out)
{
    if (bytes.size() != 4) return false;
    *out = qFromLittleEndian<quint32>(bytes.data());
    return true;
}

} // namespace

quint32 JobFile::Crc32(QByteArrayView data)
{
    const auto& table = CrcTable();
    quint32 c = 0xFFFFFFFFu;
    for (char ch : data) c = table[(c ^ quint8(ch)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

QByteArray JobFile::Encode(const JobDefinition& d, const JobRuntime& r, QString* error)
{
    Writer w;
    w.String(TagApplication, d.applicationName);
    w.String(TagParameters, d.parameters);
    w.String(TagWorkingDirectory, d.workingDirectory);
    w.String(TagComment, d.comment);
    w.String(TagCreator, d.creator);
    if (d.accountSet) w.String(TagAccountName, d.accountName);
    w.U32(TagAccountOptions, d.passwordGiven ? kPasswordGiven : 0);
    w.U32(TagFlags, d.flags);
    w.U32(TagTaskFlags, d.taskFlags);
    w.U32(TagPriority, d.priority);
    w.U32(TagMaxRunTime, d.maxRunTimeMs);
    w.U32(TagIdleWait, quint32(d.idleMinutes) | (quint32(d.deadlineMinutes) << 16));
    w.Record(TagWorkItemData, d.workItemData);
    for (const TASK_TRIGGER& t : d.triggers) w.Record(TagTrigger, TriggerToBytes(t));
    if (r.HasRun()) w.Record(TagMostRecentRun, SystemTimeBytes(r.mostRecentRun));
    w.U32(TagExitCode, r.exitCode);
    w.U32(TagRunState, (r.running ? kRunning : 0) | (r.terminated ? kTerminated : 0));

    const QByteArray& payload = w.Bytes();
    if (payload.size() + kHeaderSize > kMaxFileSize) {
        if (error) *error = QStringLiteral("The task is larger than a task file can hold (%1 bytes).").arg(kMaxFileSize);
        return {};
    }
    QByteArray file(kHeaderSize, '\0');
    char* h = file.data();
    std::memcpy(h, kMagic, 4);
    qToLittleEndian<quint16>(kMajorVersion, h + 4);
    qToLittleEndian<quint16>(kMinorVersion, h + 6);
    qToLittleEndian<quint32>(quint32(payload.size()), h + 8);
    qToLittleEndian<quint32>(Crc32(payload), h + 12);
    file += payload;
    return file;
}

HRESULT JobFile::Decode(const QByteArray& bytes, JobDefinition* definition, JobRuntime* runtime, QString* error)
{
    if (bytes.size() < 4 || std::memcmp(bytes.constData(), kMagic, 4) != 0) {
        if (error) *error = QStringLiteral("The file is not a task file.");
        return SCHED_E_INVALID_TASK;
    }
    if (bytes.size() < kHeaderSize) return Corrupt(error, QStringLiteral("its header is cut short."));
    const char* h = bytes.constData();
    const quint16 major = qFromLittleEndian<quint16>(h + 4);
    if (major != kMajorVersion) {
        if (error) *error = QStringLiteral("The task file has format version %1, which this service does not read.").arg(major);
        return SCHED_E_UNKNOWN_OBJECT_VERSION;
    }
    const quint32 length = qFromLittleEndian<quint32>(h + 8);
    const quint32 crc = qFromLittleEndian<quint32>(h + 12);
    if (quint64(bytes.size() - kHeaderSize) < length) return Corrupt(error, QStringLiteral("it is cut short."));
    if (quint64(bytes.size() - kHeaderSize) > length) return Corrupt(error, QStringLiteral("it has bytes past its end."));
    const QByteArrayView payload(h + kHeaderSize, qsizetype(length));
    if (Crc32(payload) != crc) return Corrupt(error, QStringLiteral("its checksum does not match."));

    JobDefinition d;
    JobRuntime r;
    std::bitset<TagLimit> seen;
    qsizetype at = 0;
    while (at < payload.size()) {
        if (payload.size() - at < 6) return Corrupt(error, QStringLiteral("a record header is cut short."));
        const quint16 tag = qFromLittleEndian<quint16>(payload.data() + at);
        const quint32 size = qFromLittleEndian<quint32>(payload.data() + at + 2);
        at += 6;
        if (quint64(payload.size() - at) < size) return Corrupt(error, QStringLiteral("record %1 runs past the end.").arg(tag));
        const QByteArrayView body = payload.sliced(at, qsizetype(size));
        at += qsizetype(size);

        if (tag >= TagLimit) continue;   // a later minor version's record
        if (tag != TagTrigger) {
            if (seen.test(tag)) return Corrupt(error, QStringLiteral("record %1 appears twice.").arg(tag));
            seen.set(tag);
        }
        bool ok = true;
        quint32 n = 0;
        switch (tag) {
        case TagApplication: ok = Utf16(body, &d.applicationName); break;
        case TagParameters: ok = Utf16(body, &d.parameters); break;
        case TagWorkingDirectory: ok = Utf16(body, &d.workingDirectory); break;
        case TagComment: ok = Utf16(body, &d.comment); break;
        case TagCreator: ok = Utf16(body, &d.creator); break;
        case TagAccountName:
            d.accountSet = true;
            ok = Utf16(body, &d.accountName);
            break;
        case TagAccountOptions:
            ok = U32(body, &n) && (n & ~kPasswordGiven) == 0;
            d.passwordGiven = n & kPasswordGiven;
            break;
        case TagFlags: ok = U32(body, &d.flags); break;
        case TagTaskFlags: ok = U32(body, &d.taskFlags); break;
        case TagPriority: ok = U32(body, &d.priority); break;
        case TagMaxRunTime: ok = U32(body, &d.maxRunTimeMs); break;
        case TagIdleWait:
            ok = U32(body, &n);
            d.idleMinutes = WORD(n & 0xFFFF);
            d.deadlineMinutes = WORD(n >> 16);
            break;
        case TagWorkItemData:
            ok = body.size() <= TASK_MAX_WORK_ITEM_DATA;
            d.workItemData = body.toByteArray();
            break;
        case TagTrigger: {
            TASK_TRIGGER t;
            QString why;
            if (d.triggers.size() >= 0xFFFF) return Corrupt(error, QStringLiteral("it holds too many triggers."));
            if (!TriggerFromBytes(body.toByteArray(), &t) || !TriggerIsWellFormed(t, &why))
                return Corrupt(error, QStringLiteral("trigger %1 is malformed (%2)").arg(d.triggers.size()).arg(why));
            d.triggers.append(t);
            break;
        }
        case TagMostRecentRun:
            ok = body.size() == 16;
            if (ok) {
                WORD f[8];
                for (int i = 0; i < 8; ++i) f[i] = qFromLittleEndian<quint16>(body.data() + 2 * i);
                r.mostRecentRun = SYSTEMTIME{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]};
                if (!IsSystemTime(r.mostRecentRun)) return Corrupt(error, QStringLiteral("its last run time is not a date and time."));
            }
            break;
        case TagExitCode: ok = U32(body, &r.exitCode); break;
        case TagRunState:
            ok = U32(body, &n) && (n & ~(kRunning | kTerminated)) == 0;
            r.running = n & kRunning;
            r.terminated = n & kTerminated;
            break;
        default:
            // Reserved below the limit: this version writes nothing there, so such a record
            // is damage, not a later version's addition.
            return Corrupt(error, QStringLiteral("record %1 is reserved.").arg(tag));
        }
        if (!ok) return Corrupt(error, QStringLiteral("record %1 is malformed.").arg(tag));
    }
    *definition = std::move(d);
    *runtime = r;
    return S_OK;
}
