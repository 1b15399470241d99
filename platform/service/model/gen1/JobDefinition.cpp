#include "gen1/JobDefinition.h"

#include <QCborValue>
#include <QDate>
#include <QtEndian>
#include <limits>

namespace {

const QString kApplication = QStringLiteral("application");
const QString kParameters = QStringLiteral("parameters");
const QString kWorkingDirectory = QStringLiteral("workingDirectory");
const QString kComment = QStringLiteral("comment");
const QString kCreator = QStringLiteral("creator");
const QString kAccount = QStringLiteral("account");
const QString kPasswordGiven = QStringLiteral("passwordGiven");
const QString kFlags = QStringLiteral("flags");
const QString kTaskFlags = QStringLiteral("taskFlags");
const QString kPriority = QStringLiteral("priority");
const QString kMaxRunTime = QStringLiteral("maxRunTime");
const QString kIdleMinutes = QStringLiteral("idleMinutes");
const QString kDeadlineMinutes = QStringLiteral("deadlineMinutes");
const QString kData = QStringLiteral("data");
const QString kTriggers = QStringLiteral("triggers");

constexpr int kTriggerSize = int(sizeof(TASK_TRIGGER));

// A missing key keeps the default; a present key of the wrong type is an error.
bool ReadString(const QCborMap& map, const QString& key, QString* out, QString* error)
{
    const QCborValue v = map.value(key);
    if (v.isUndefined()) return true;
    if (!v.isString()) {
        if (error) *error = QStringLiteral("\"%1\" is not a text.").arg(key);
        return false;
    }
    *out = v.toString();
    return true;
}

template <typename T>
bool ReadUnsigned(const QCborMap& map, const QString& key, T* out, QString* error)
{
    const QCborValue v = map.value(key);
    if (v.isUndefined()) return true;
    if (!v.isInteger() || v.toInteger() < 0 || quint64(v.toInteger()) > quint64(std::numeric_limits<T>::max())) {
        if (error) *error = QStringLiteral("\"%1\" is not a number in range.").arg(key);
        return false;
    }
    *out = T(v.toInteger());
    return true;
}

bool ReadBool(const QCborMap& map, const QString& key, bool* out, QString* error)
{
    const QCborValue v = map.value(key);
    if (v.isUndefined()) return true;
    if (!v.isBool()) {
        if (error) *error = QStringLiteral("\"%1\" is not true or false.").arg(key);
        return false;
    }
    *out = v.toBool();
    return true;
}

bool IsRealDay(WORD year, WORD month, WORD day)
{
    return year >= 1601 && year <= 9999 && QDate::isValid(year, month, day);
}

bool IsUnsetDay(WORD year, WORD month, WORD day)
{
    return year == 0 && month == 0 && day == 0;
}

bool Fail(QString* why, const QString& text)
{
    if (why) *why = text;
    return false;
}

template <typename T>
void Put(char*& p, T value)
{
    qToLittleEndian(value, p);
    p += sizeof(T);
}

template <typename T>
T Take(const char*& p)
{
    const T value = qFromLittleEndian<T>(p);
    p += sizeof(T);
    return value;
}

} // namespace

QCborMap JobDefinition::ToCbor() const
{
    QCborMap map{
        {kApplication, applicationName},
        {kParameters, parameters},
        {kWorkingDirectory, workingDirectory},
        {kComment, comment},
        {kCreator, creator},
        {kPasswordGiven, passwordGiven},
        {kFlags, qint64(flags)},
        {kTaskFlags, qint64(taskFlags)},
        {kPriority, qint64(priority)},
        {kMaxRunTime, qint64(maxRunTimeMs)},
        {kIdleMinutes, qint64(idleMinutes)},
        {kDeadlineMinutes, qint64(deadlineMinutes)},
        {kData, workItemData},
    };
    if (accountSet) map.insert(kAccount, accountName);
    QByteArray records;
    records.reserve(triggers.size() * kTriggerSize);
    for (const TASK_TRIGGER& t : triggers) records += TriggerToBytes(t);
    map.insert(kTriggers, records);
    return map;
}

bool JobDefinition::FromCbor(const QCborMap& map, JobDefinition* out, QString* error)
{
    JobDefinition d;
    if (!ReadString(map, kApplication, &d.applicationName, error)) return false;
    if (!ReadString(map, kParameters, &d.parameters, error)) return false;
    if (!ReadString(map, kWorkingDirectory, &d.workingDirectory, error)) return false;
    if (!ReadString(map, kComment, &d.comment, error)) return false;
    if (!ReadString(map, kCreator, &d.creator, error)) return false;
    if (map.contains(kAccount)) {
        d.accountSet = true;
        if (!ReadString(map, kAccount, &d.accountName, error)) return false;
    }
    if (!ReadBool(map, kPasswordGiven, &d.passwordGiven, error)) return false;
    if (!ReadUnsigned(map, kFlags, &d.flags, error)) return false;
    if (!ReadUnsigned(map, kTaskFlags, &d.taskFlags, error)) return false;
    if (!ReadUnsigned(map, kPriority, &d.priority, error)) return false;
    if (!ReadUnsigned(map, kMaxRunTime, &d.maxRunTimeMs, error)) return false;
    if (!ReadUnsigned(map, kIdleMinutes, &d.idleMinutes, error)) return false;
    if (!ReadUnsigned(map, kDeadlineMinutes, &d.deadlineMinutes, error)) return false;

    const QCborValue data = map.value(kData);
    if (!data.isUndefined()) {
        if (!data.isByteArray()) return Fail(error, QStringLiteral("\"data\" is not a byte string."));
        d.workItemData = data.toByteArray();
        if (d.workItemData.size() > TASK_MAX_WORK_ITEM_DATA)
            return Fail(error, QStringLiteral("The work-item data is longer than %1 bytes.").arg(TASK_MAX_WORK_ITEM_DATA));
    }

    const QCborValue triggers = map.value(kTriggers);
    if (!triggers.isUndefined()) {
        if (!triggers.isByteArray()) return Fail(error, QStringLiteral("\"triggers\" is not a byte string."));
        const QByteArray records = triggers.toByteArray();
        if (records.size() % kTriggerSize != 0 || records.size() / kTriggerSize > 0xFFFF)
            return Fail(error, QStringLiteral("\"triggers\" does not hold whole trigger records."));
        for (qsizetype at = 0; at < records.size(); at += kTriggerSize) {
            TASK_TRIGGER t;
            TriggerFromBytes(records.mid(at, kTriggerSize), &t);
            QString why;
            if (!TriggerIsWellFormed(t, &why))
                return Fail(error, QStringLiteral("Trigger %1: %2").arg(at / kTriggerSize).arg(why));
            d.triggers.append(t);
        }
    }
    *out = std::move(d);
    return true;
}

bool operator==(const JobDefinition& a, const JobDefinition& b)
{
    if (a.triggers.size() != b.triggers.size()) return false;
    for (qsizetype i = 0; i < a.triggers.size(); ++i) {
        if (!SameTrigger(a.triggers[i], b.triggers[i])) return false;
    }
    return a.applicationName == b.applicationName && a.parameters == b.parameters
        && a.workingDirectory == b.workingDirectory && a.comment == b.comment && a.creator == b.creator
        && a.accountSet == b.accountSet && a.accountName == b.accountName && a.passwordGiven == b.passwordGiven
        && a.flags == b.flags && a.taskFlags == b.taskFlags && a.priority == b.priority
        && a.maxRunTimeMs == b.maxRunTimeMs && a.idleMinutes == b.idleMinutes
        && a.deadlineMinutes == b.deadlineMinutes && a.workItemData == b.workItemData;
}

QByteArray TriggerToBytes(const TASK_TRIGGER& t)
{
    QByteArray bytes(kTriggerSize, '\0');
    char* p = bytes.data();
    for (WORD w : {t.cbTriggerSize, t.Reserved1, t.wBeginYear, t.wBeginMonth, t.wBeginDay, t.wEndYear,
                   t.wEndMonth, t.wEndDay, t.wStartHour, t.wStartMinute})
        Put<quint16>(p, w);
    Put<quint32>(p, t.MinutesDuration);
    Put<quint32>(p, t.MinutesInterval);
    Put<quint32>(p, t.rgFlags);
    Put<quint32>(p, t.TriggerType);
    // The union's words are little-endian like every other field; which words there are
    // depends on the kind (only the monthly-date variant starts with a 32-bit mask).
    const char* u = reinterpret_cast<const char*>(&t.Type);
    std::memcpy(p, u, sizeof(TRIGGER_TYPE_UNION));
    if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
        switch (t.TriggerType & 0xFF) {
        case TASK_TIME_TRIGGER_MONTHLYDATE:
            qToLittleEndian<quint32>(t.Type.MonthlyDate.rgfDays, p);
            qToLittleEndian<quint16>(t.Type.MonthlyDate.rgfMonths, p + 4);
            break;
        default:
            for (int i = 0; i < 4; ++i) {
                quint16 w;
                std::memcpy(&w, u + 2 * i, 2);
                qToLittleEndian<quint16>(w, p + 2 * i);
            }
        }
    }
    p += sizeof(TRIGGER_TYPE_UNION);
    Put<quint16>(p, t.Reserved2);
    Put<quint16>(p, t.wRandomMinutesInterval);
    return bytes;
}

bool TriggerFromBytes(const QByteArray& bytes, TASK_TRIGGER* out)
{
    if (bytes.size() != kTriggerSize) return false;
    const char* p = bytes.constData();
    TASK_TRIGGER t{};
    for (WORD* w : {&t.cbTriggerSize, &t.Reserved1, &t.wBeginYear, &t.wBeginMonth, &t.wBeginDay, &t.wEndYear,
                    &t.wEndMonth, &t.wEndDay, &t.wStartHour, &t.wStartMinute})
        *w = Take<quint16>(p);
    t.MinutesDuration = Take<quint32>(p);
    t.MinutesInterval = Take<quint32>(p);
    t.rgFlags = Take<quint32>(p);
    t.TriggerType = TASK_TRIGGER_TYPE(Take<quint32>(p));
    char* u = reinterpret_cast<char*>(&t.Type);
    std::memcpy(u, p, sizeof(TRIGGER_TYPE_UNION));
    if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
        switch (t.TriggerType & 0xFF) {
        case TASK_TIME_TRIGGER_MONTHLYDATE:
            t.Type.MonthlyDate.rgfDays = qFromLittleEndian<quint32>(p);
            t.Type.MonthlyDate.rgfMonths = qFromLittleEndian<quint16>(p + 4);
            break;
        default:
            for (int i = 0; i < 4; ++i) {
                const quint16 w = qFromLittleEndian<quint16>(p + 2 * i);
                std::memcpy(u + 2 * i, &w, 2);
            }
        }
    }
    p += sizeof(TRIGGER_TYPE_UNION);
    t.Reserved2 = Take<quint16>(p);
    t.wRandomMinutesInterval = Take<quint16>(p);
    *out = t;
    return true;
}

bool SameTrigger(const TASK_TRIGGER& a, const TASK_TRIGGER& b)
{
    return std::memcmp(&a, &b, sizeof(TASK_TRIGGER)) == 0;
}

bool TriggerIsWellFormed(const TASK_TRIGGER& t, QString* why)
{
    if (t.cbTriggerSize != sizeof(TASK_TRIGGER))
        return Fail(why, QStringLiteral("the record size is %1, not 48.").arg(t.cbTriggerSize));
    if (DWORD(t.TriggerType) > TASK_EVENT_TRIGGER_AT_LOGON)
        return Fail(why, QStringLiteral("the trigger kind %1 is unknown.").arg(DWORD(t.TriggerType)));
    if (t.wStartHour > 23 || t.wStartMinute > 59)
        return Fail(why, QStringLiteral("%1:%2 is not a time of day.").arg(t.wStartHour).arg(t.wStartMinute));
    const bool beginSet = !IsUnsetDay(t.wBeginYear, t.wBeginMonth, t.wBeginDay);
    if (beginSet && !IsRealDay(t.wBeginYear, t.wBeginMonth, t.wBeginDay))
        return Fail(why, QStringLiteral("the begin date %1-%2-%3 is not a day.").arg(t.wBeginYear).arg(t.wBeginMonth).arg(t.wBeginDay));
    if (t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE) {
        if (!IsRealDay(t.wEndYear, t.wEndMonth, t.wEndDay))
            return Fail(why, QStringLiteral("the end date %1-%2-%3 is not a day.").arg(t.wEndYear).arg(t.wEndMonth).arg(t.wEndDay));
        if (beginSet && QDate(t.wEndYear, t.wEndMonth, t.wEndDay) < QDate(t.wBeginYear, t.wBeginMonth, t.wBeginDay))
            return Fail(why, QStringLiteral("the end date is before the begin date."));
    }
    if (t.MinutesInterval != 0 && t.MinutesInterval >= t.MinutesDuration)
        return Fail(why, QStringLiteral("the repetition interval is not shorter than its duration."));
    switch (t.TriggerType) {
    case TASK_TIME_TRIGGER_WEEKLY:
        if (t.Type.Weekly.rgfDaysOfTheWeek & ~0x7Fu) return Fail(why, QStringLiteral("the day-of-week mask has unknown bits."));
        break;
    case TASK_TIME_TRIGGER_MONTHLYDATE:
        if (t.Type.MonthlyDate.rgfDays & 0x80000000u) return Fail(why, QStringLiteral("the day-of-month mask names a day 32."));
        if (t.Type.MonthlyDate.rgfMonths & ~0xFFFu) return Fail(why, QStringLiteral("the month mask has unknown bits."));
        break;
    case TASK_TIME_TRIGGER_MONTHLYDOW:
        if (t.Type.MonthlyDOW.wWhichWeek < TASK_FIRST_WEEK || t.Type.MonthlyDOW.wWhichWeek > TASK_LAST_WEEK)
            return Fail(why, QStringLiteral("the week of the month %1 is not 1 to 5.").arg(t.Type.MonthlyDOW.wWhichWeek));
        if (t.Type.MonthlyDOW.rgfDaysOfTheWeek & ~0x7Fu) return Fail(why, QStringLiteral("the day-of-week mask has unknown bits."));
        if (t.Type.MonthlyDOW.rgfMonths & ~0xFFFu) return Fail(why, QStringLiteral("the month mask has unknown bits."));
        break;
    default:
        break;
    }
    return true;
}

QCborArray SystemTimeToCbor(const SYSTEMTIME& st)
{
    return QCborArray{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

bool SystemTimeFromCbor(const QCborArray& array, SYSTEMTIME* out)
{
    if (array.size() != 8) return false;
    WORD fields[8];
    for (int i = 0; i < 8; ++i) {
        const QCborValue v = array.at(i);
        if (!v.isInteger() || v.toInteger() < 0 || v.toInteger() > 0xFFFF) return false;
        fields[i] = WORD(v.toInteger());
    }
    *out = SYSTEMTIME{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7]};
    return true;
}
