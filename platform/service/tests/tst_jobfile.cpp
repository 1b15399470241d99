// The ".job" codec and the work-item definition: round trips, layout, and hostile bytes.

#include "gen1/JobDefinition.h"
#include "gen1/JobFile.h"
#include "ResultCodes.h"
#include "TriggerRecords.h"

#include <QRandomGenerator>
#include <QtEndian>
#include <QtTest>

namespace {

JobDefinition FullDefinition()
{
    JobDefinition d;
    d.applicationName = QStringLiteral("/usr/bin/backup");
    d.parameters = QStringLiteral("--all \"my files\"");
    d.workingDirectory = QStringLiteral("/home/ann/Documents");
    d.comment = QStringLiteral("Nightly copy\r\nsecond line, \u00e9\u4e2d\U0001F600");
    d.creator = QStringLiteral("ann");
    d.accountSet = true;
    d.accountName = QStringLiteral("ann");
    d.passwordGiven = true;
    d.flags = 0x80000000u | TASK_FLAG_HIDDEN | TASK_FLAG_DISABLED;
    d.taskFlags = 0x12345678u;
    d.priority = HIGH_PRIORITY_CLASS;
    d.maxRunTimeMs = TASK_NO_MAX_RUN_TIME;
    d.idleMinutes = 7;
    d.deadlineMinutes = 65535;
    d.workItemData = QByteArray("\x00\x01\xFF" "data", 7);
    TASK_TRIGGER weekly = TriggerRecords::Record(TASK_TIME_TRIGGER_WEEKLY);
    weekly.Type.Weekly.WeeksInterval = 2;
    weekly.Type.Weekly.rgfDaysOfTheWeek = TASK_MONDAY | TASK_FRIDAY;
    weekly.MinutesDuration = 120;
    weekly.MinutesInterval = 10;
    weekly.rgFlags = TASK_TRIGGER_FLAG_KILL_AT_DURATION_END;
    weekly.wRandomMinutesInterval = 5;
    weekly.Reserved2 = 0xBEEF;
    TASK_TRIGGER monthly = TriggerRecords::Record(TASK_TIME_TRIGGER_MONTHLYDATE);
    monthly.Type.MonthlyDate.rgfDays = 0x40000001u;
    monthly.Type.MonthlyDate.rgfMonths = 0x805;
    d.triggers = {weekly, monthly, TriggerRecords::Record(TASK_EVENT_TRIGGER_AT_LOGON)};
    return d;
}

QByteArray ValidFile()
{
    JobRuntime r;
    r.mostRecentRun = SYSTEMTIME{2024, 3, 5, 15, 9, 0, 1, 2};
    r.exitCode = 3;
    return JobFile::Encode(FullDefinition(), r);
}

// Rewrites the header's length and checksum so that a changed payload reaches the parser.
void Reseal(QByteArray& file)
{
    const QByteArrayView payload = QByteArrayView(file).sliced(JobFile::kHeaderSize);
    qToLittleEndian<quint32>(quint32(payload.size()), file.data() + 8);
    qToLittleEndian<quint32>(JobFile::Crc32(payload), file.data() + 12);
}

QByteArray Record(quint16 tag, const QByteArray& body)
{
    QByteArray r(6, '\0');
    qToLittleEndian<quint16>(tag, r.data());
    qToLittleEndian<quint32>(quint32(body.size()), r.data() + 2);
    return r + body;
}

} // namespace

class TestJobFile : public QObject {
    Q_OBJECT

private slots:
    void roundTrip()
    {
        JobRuntime runtime;
        runtime.mostRecentRun = SYSTEMTIME{2024, 3, 5, 15, 9, 30, 0, 0};
        runtime.exitCode = 0xC0000005u;
        runtime.running = true;
        runtime.terminated = true;
        JobDefinition d;
        JobRuntime r;
        QCOMPARE(JobFile::Decode(JobFile::Encode(FullDefinition(), runtime), &d, &r), S_OK);
        QVERIFY(d == FullDefinition());
        QCOMPARE(r, runtime);
    }

    void defaultsRoundTrip()
    {
        JobDefinition d;
        JobRuntime r;
        d.applicationName = QStringLiteral("stale");
        QCOMPARE(JobFile::Decode(JobFile::Encode(JobDefinition{}, JobRuntime{}), &d, &r), S_OK);
        QVERIFY(d == JobDefinition{});
        QVERIFY(!d.accountSet);
        QVERIFY(!r.HasRun());
    }

    void workItemData_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("none") << 0;
        QTest::newRow("one byte") << 1;
        QTest::newRow("largest") << 65535;
    }
    void workItemData()
    {
        QFETCH(int, size);
        JobDefinition in;
        in.workItemData.resize(size);
        for (int i = 0; i < size; ++i) in.workItemData[i] = char(i * 7);
        JobDefinition out;
        JobRuntime r;
        QCOMPARE(JobFile::Decode(JobFile::Encode(in, {}), &out, &r), S_OK);
        QCOMPARE(out.workItemData, in.workItemData);
        QVERIFY(JobDefinition::FromCbor(in.ToCbor(), &out, nullptr));
        QCOMPARE(out.workItemData, in.workItemData);
    }

    void layout()
    {
        const QByteArray file = ValidFile();
        QCOMPARE(file.left(4), QByteArray("TSJB"));
        QCOMPARE(qFromLittleEndian<quint16>(file.constData() + 4), JobFile::kMajorVersion);
        QCOMPARE(qFromLittleEndian<quint32>(file.constData() + 8), quint32(file.size() - JobFile::kHeaderSize));
        // Each trigger is stored as its 48 record bytes, which on this host are its memory.
        const TASK_TRIGGER t = FullDefinition().triggers.at(0);
        const QByteArray bytes = TriggerToBytes(t);
        QCOMPARE(bytes.size(), 48);
        QVERIFY(file.contains(bytes));
        if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN)
            QCOMPARE(bytes, QByteArray(reinterpret_cast<const char*>(&t), 48));
        QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 36), quint16(2));   // WeeksInterval
        QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 44), quint16(0xBEEF)); // Reserved2
        // The comment is stored as UTF-16LE.
        const QString comment = FullDefinition().comment;
        QVERIFY(file.contains(QByteArray(reinterpret_cast<const char*>(comment.utf16()), comment.size() * 2)));
    }

    void crcKnownValue()
    {
        QCOMPARE(JobFile::Crc32("123456789"), 0xCBF43926u);
    }

    void everyTruncationFails()
    {
        const QByteArray file = ValidFile();
        for (qsizetype n = 0; n < file.size(); ++n) {
            JobDefinition d;
            d.comment = QStringLiteral("untouched");
            JobRuntime r;
            const HRESULT hr = JobFile::Decode(file.left(n), &d, &r);
            QVERIFY2(FAILED(hr), qPrintable(QString::number(n)));
            QCOMPARE(d.comment, QStringLiteral("untouched"));
        }
    }

    void damage_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<HRESULT>("expected");
        const QByteArray file = ValidFile();
        QByteArray flipped = file;
        flipped[file.size() / 2] = char(flipped[file.size() / 2] ^ 0x40);
        QByteArray magic = file;
        magic[0] = 'X';
        QByteArray version = file;
        qToLittleEndian<quint16>(2, version.data() + 4);
        QByteArray longer = file + QByteArray("x");
        QByteArray newerMinor = file;
        qToLittleEndian<quint16>(7, newerMinor.data() + 6);
        QByteArray duplicate = file + Record(4, QByteArray(4, 'a'));
        Reseal(duplicate);
        QByteArray oddString = JobFile::Encode(JobDefinition{}, {}).left(JobFile::kHeaderSize) + Record(1, QByteArray(3, 'a'));
        Reseal(oddString);
        QByteArray bigData = JobFile::Encode(JobDefinition{}, {}).left(JobFile::kHeaderSize) + Record(13, QByteArray(65536, 'd'));
        Reseal(bigData);
        TASK_TRIGGER bad = TriggerRecords::Record(TASK_TIME_TRIGGER_DAILY);
        bad.wStartHour = 24;
        QByteArray badTrigger = JobFile::Encode(JobDefinition{}, {}) + Record(14, TriggerToBytes(bad));
        Reseal(badTrigger);
        QByteArray shortTrigger = JobFile::Encode(JobDefinition{}, {}) + Record(14, QByteArray(47, '\0'));
        Reseal(shortTrigger);
        QByteArray unknownTag = JobFile::Encode(JobDefinition{}, {}) + Record(500, QByteArray("future"));
        Reseal(unknownTag);

        QByteArray reservedTag = JobFile::Encode(JobDefinition{}, {}) + Record(20, QByteArray(4, '\0'));
        Reseal(reservedTag);
        QByteArray reservedBits = JobFile::Encode(JobDefinition{}, {}) + Record(66, QByteArray("\x04\0\0\0", 4));
        Reseal(reservedBits);
        QByteArray reservedOptions = JobFile::Encode(JobDefinition{}, {}).left(JobFile::kHeaderSize) + Record(7, QByteArray("\x02\0\0\0", 4));
        Reseal(reservedOptions);
        const auto lastRun = [](SYSTEMTIME st) {
            JobRuntime r;
            r.mostRecentRun = st;
            return JobFile::Encode(JobDefinition{}, r);
        };

        const HRESULT corrupt = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
        QTest::newRow("reserved record") << reservedTag << corrupt;
        QTest::newRow("reserved run state bits") << reservedBits << corrupt;
        QTest::newRow("reserved account option bits") << reservedOptions << corrupt;
        // 15 March 2024 was a Friday (5).
        QTest::newRow("last run: a real time") << lastRun({2024, 3, 5, 15, 9, 30, 0, 0}) << S_OK;
        QTest::newRow("last run: thirteenth month") << lastRun({2024, 13, 5, 15, 9, 30, 0, 0}) << corrupt;
        QTest::newRow("last run: 30 February") << lastRun({2024, 2, 5, 30, 9, 30, 0, 0}) << corrupt;
        QTest::newRow("last run: wrong day of the week") << lastRun({2024, 3, 1, 15, 9, 30, 0, 0}) << corrupt;
        QTest::newRow("last run: hour 24") << lastRun({2024, 3, 5, 15, 24, 0, 0, 0}) << corrupt;
        QTest::newRow("last run: 1000 ms") << lastRun({2024, 3, 5, 15, 9, 30, 0, 1000}) << corrupt;
        QTest::newRow("last run: year 1600") << lastRun({1600, 3, 3, 15, 9, 30, 0, 0}) << corrupt;
        QTest::newRow("empty") << QByteArray() << SCHED_E_INVALID_TASK;
        QTest::newRow("checksum") << flipped << corrupt;
        QTest::newRow("magic") << magic << SCHED_E_INVALID_TASK;
        QTest::newRow("major version") << version << SCHED_E_UNKNOWN_OBJECT_VERSION;
        QTest::newRow("bytes past the end") << longer << corrupt;
        QTest::newRow("newer minor version") << newerMinor << S_OK;
        QTest::newRow("record twice") << duplicate << corrupt;
        QTest::newRow("odd UTF-16 length") << oddString << corrupt;
        QTest::newRow("data over 65535 bytes") << bigData << corrupt;
        QTest::newRow("impossible trigger") << badTrigger << corrupt;
        QTest::newRow("short trigger") << shortTrigger << corrupt;
        QTest::newRow("record of a later version") << unknownTag << S_OK;
    }
    void damage()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(HRESULT, expected);
        JobDefinition d;
        JobRuntime r;
        QString why;
        QCOMPARE(JobFile::Decode(bytes, &d, &r, &why), expected);
        QCOMPARE(why.isEmpty(), expected == S_OK);
    }

    // Random bytes, and valid files with random changes resealed so the parser sees them.
    void fuzz()
    {
        QRandomGenerator rng(20240315);
        const QByteArray file = ValidFile();
        // More rounds by hand: TS_FUZZ_ROUNDS=600000.
        const int rounds = qEnvironmentVariableIntValue("TS_FUZZ_ROUNDS") > 0 ? qEnvironmentVariableIntValue("TS_FUZZ_ROUNDS") : 3000;
        int accepted = 0;
        for (int round = 0; round < rounds; ++round) {
            QByteArray bytes;
            if (round % 3 == 0) {
                bytes.resize(rng.bounded(200));
                for (char& c : bytes) c = char(rng.bounded(256));
                if (round % 2 == 0 && bytes.size() >= 4) bytes.replace(0, 4, "TSJB");
            } else {
                bytes = file;
                const int changes = 1 + rng.bounded(8);
                for (int i = 0; i < changes; ++i) {
                    const qsizetype at = JobFile::kHeaderSize + rng.bounded(int(bytes.size() - JobFile::kHeaderSize));
                    bytes[at] = char(rng.bounded(256));
                }
                if (round % 5 == 0) bytes.truncate(JobFile::kHeaderSize + rng.bounded(int(bytes.size() - JobFile::kHeaderSize)));
                Reseal(bytes);
            }
            JobDefinition d;
            JobRuntime r;
            if (SUCCEEDED(JobFile::Decode(bytes, &d, &r))) {
                ++accepted;
                QVERIFY(d.workItemData.size() <= TASK_MAX_WORK_ITEM_DATA);
                for (const TASK_TRIGGER& t : d.triggers) QVERIFY(TriggerIsWellFormed(t));
            }
        }
        QVERIFY(accepted < rounds);
    }

    void wellFormedTriggers_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("wellFormed");
        auto row = [](const char* name, TASK_TRIGGER t, bool ok) { QTest::newRow(name) << TriggerToBytes(t) << ok; };

        TASK_TRIGGER t = TriggerRecords::Record(TASK_TIME_TRIGGER_DAILY);
        row("daily", t, true);
        TASK_TRIGGER unset{};
        unset.cbTriggerSize = 48;
        row("new record, nothing set", unset, true);
        t.cbTriggerSize = 40;
        row("wrong size", t, false);
        t = TriggerRecords::Record(TASK_TRIGGER_TYPE(8));
        row("kind beyond logon", t, false);
        t = TriggerRecords::Record(TASK_TIME_TRIGGER_ONCE);
        t.wStartMinute = 60;
        row("minute 60", t, false);
        t = TriggerRecords::Record(TASK_TIME_TRIGGER_ONCE);
        t.wBeginMonth = 2;
        t.wBeginDay = 30;
        row("30 February", t, false);
        t = TriggerRecords::Record(TASK_TIME_TRIGGER_ONCE);
        t.rgFlags = TASK_TRIGGER_FLAG_HAS_END_DATE;
        row("end date in force but unset", t, false);
        t.wEndYear = 2024;
        t.wEndMonth = 3;
        t.wEndDay = 14;
        row("end before begin", t, false);
        t.wEndDay = 15;
        row("end on the begin day", t, true);
        t = TriggerRecords::Record(TASK_TIME_TRIGGER_DAILY);
        t.MinutesDuration = 60;
        t.MinutesInterval = 60;
        row("interval as long as duration", t, false);
        t.MinutesInterval = 59;
        row("interval shorter than duration", t, true);
        t = TriggerRecords::Record(TASK_TIME_TRIGGER_MONTHLYDOW);
        t.Type.MonthlyDOW.wWhichWeek = 6;
        row("sixth week", t, false);
        t.Type.MonthlyDOW.wWhichWeek = TASK_LAST_WEEK;
        t.Type.MonthlyDOW.rgfMonths = 0x1000;
        row("thirteenth month", t, false);
        t = TriggerRecords::Record(TASK_TIME_TRIGGER_MONTHLYDATE);
        t.Type.MonthlyDate.rgfDays = 0x80000000u;
        row("day 32", t, false);
        t = TriggerRecords::Record(TASK_TIME_TRIGGER_WEEKLY);
        t.Type.Weekly.rgfDaysOfTheWeek = 0x80;
        row("eighth weekday", t, false);
        t = TriggerRecords::Record(TASK_EVENT_TRIGGER_ON_IDLE);
        t.rgFlags = 0xFFFFFFF8u;
        row("unknown flag bits kept", t, true);
    }
    void wellFormedTriggers()
    {
        QFETCH(QByteArray, record);
        QFETCH(bool, wellFormed);
        TASK_TRIGGER t;
        QVERIFY(TriggerFromBytes(record, &t));
        QString why;
        QCOMPARE(TriggerIsWellFormed(t, &why), wellFormed);
        QCOMPARE(why.isEmpty(), wellFormed);
    }

    void cborRefusesMalformed_data()
    {
        QTest::addColumn<QCborMap>("map");
        QCborMap base = FullDefinition().ToCbor();
        QCborMap m = base;
        m.insert(QStringLiteral("comment"), 5);
        QTest::newRow("number for a text") << m;
        m = base;
        m.insert(QStringLiteral("flags"), qint64(0x100000000));
        QTest::newRow("flags over 32 bits") << m;
        m = base;
        m.insert(QStringLiteral("idleMinutes"), -1);
        QTest::newRow("negative minutes") << m;
        m = base;
        m.insert(QStringLiteral("data"), QByteArray(65536, 'x'));
        QTest::newRow("data over 65535 bytes") << m;
        m = base;
        m.insert(QStringLiteral("triggers"), QByteArray(47, '\0'));
        QTest::newRow("part of a trigger") << m;
        m = base;
        TASK_TRIGGER t = TriggerRecords::Record(TASK_TIME_TRIGGER_DAILY);
        t.wStartHour = 25;
        m.insert(QStringLiteral("triggers"), TriggerToBytes(t));
        QTest::newRow("impossible trigger") << m;
        m = base;
        m.insert(QStringLiteral("passwordGiven"), QStringLiteral("yes"));
        QTest::newRow("text for a Boolean") << m;
    }
    void cborRefusesMalformed()
    {
        QFETCH(QCborMap, map);
        JobDefinition d;
        d.comment = QStringLiteral("untouched");
        QString why;
        QVERIFY(!JobDefinition::FromCbor(map, &d, &why));
        QVERIFY(!why.isEmpty());
        QCOMPARE(d.comment, QStringLiteral("untouched"));
    }

    void cborRoundTrip()
    {
        JobDefinition d;
        QVERIFY(JobDefinition::FromCbor(FullDefinition().ToCbor(), &d, nullptr));
        QVERIFY(d == FullDefinition());
        // Through the wire form as well.
        QVERIFY(JobDefinition::FromCbor(QCborValue::fromCbor(FullDefinition().ToCbor().toCborValue().toCbor()).toMap(), &d, nullptr));
        QVERIFY(d == FullDefinition());
    }
};

QTEST_GUILESS_MAIN(TestJobFile)
#include "tst_jobfile.moc"
