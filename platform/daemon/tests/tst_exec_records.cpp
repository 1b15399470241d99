// The supervisor's own reading and writing of the instance files against the daemon's: what
// one side writes, the other reads back unchanged, and damaged files are refused.

#include "run/InstanceDescription.h"
#include "supervisor/InstanceRecord.h"
#include "supervisor/JsonValue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

class tst_ExecRecords : public QObject {
    Q_OBJECT
private slots:
    void descriptionsRoundTrip_data();
    void descriptionsRoundTrip();
    void damagedDescriptions_data();
    void damagedDescriptions();
    void notBeforeAsEitherSideReadsIt_data();
    void notBeforeAsEitherSideReadsIt();
    void outcomesRoundTrip_data();
    void outcomesRoundTrip();
    void numbers_data();
    void numbers();
    void outcomeFiles_data();
    void outcomeFiles();
};

namespace {
std::vector<std::string> Std(const QStringList& list)
{
    std::vector<std::string> out;
    for (const QString& s : list) out.push_back(s.toStdString());
    return out;
}
} // namespace

void tst_ExecRecords::descriptionsRoundTrip_data()
{
    QTest::addColumn<QString>("text"); // used for every string field
    QTest::addColumn<int>("groups");   // how many groups the account has; -1: none written
    QTest::addColumn<qint64>("notBefore");   // ms since 1970; -1: none written (a start at once)
    QTest::newRow("plain") << QStringLiteral("backup") << -1 << qint64(-1);
    QTest::newRow("quotes and backslashes") << QStringLiteral("say \"hi\" \\ C:\\temp\\ /x/") << 3 << qint64(1733817600500);
    QTest::newRow("control characters") << QStringLiteral("line\nnext\ttab\r\x01\x1f\b\f") << 1 << qint64(-1);
    QTest::newRow("non-ASCII") << QStringLiteral("Grüße, 日本語, ελληνικά") << 0 << qint64(1733817601000);
    QTest::newRow("outside the basic plane") << QString::fromUtf8("emoji \xF0\x9F\x98\x80 and \xF0\x90\x8D\x88") << -1 << qint64(0);
    QTest::newRow("empty") << QString() << 2 << qint64(-1);
}

void tst_ExecRecords::descriptionsRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(int, groups);
    QFETCH(qint64, notBefore);
    InstanceDescription d;
    d.id = QStringLiteral("inst-1");
    d.task = QStringLiteral("\\Folder\\") + text + QStringLiteral("x");
    d.start = QDateTime::fromMSecsSinceEpoch(1733817600123);
    d.cause = text;
    d.steps = {ExecStep{QStringLiteral("/bin/echo"), {text, QStringLiteral("b c"), QString()}, text},
               ExecStep{QStringLiteral("sh"), {}, QStringLiteral("/tmp")}};
    d.user = QStringLiteral("nobody");
    d.uid = 4294967294u;
    d.gid = 65534;
    if (groups >= 0) d.groups = QList<gid_t>{65534, 0, 4294967294u}.mid(0, groups);
    d.environment = {QStringLiteral("PATH=/usr/bin"), QStringLiteral("V=") + text};
    d.logFile = QStringLiteral("/var/log/") + text + QStringLiteral(".log");
    d.timeLimitMs = 3600000;
    d.stopAt = QDateTime::fromMSecsSinceEpoch(1733821200000, Qt::UTC);
    d.unsupportedAction = text;
    if (notBefore >= 0) d.notBefore = QDateTime::fromMSecsSinceEpoch(notBefore, Qt::UTC);
    const QByteArray encoded = InstanceFiles::EncodeDescription(d);
    // The JSON that QJsonDocument writes for it, byte for byte, and the daemon reads it back.
    QJsonArray steps;
    for (const ExecStep& step : d.steps)
        steps.append(QJsonObject{{QStringLiteral("program"), step.program}, {QStringLiteral("arguments"), QJsonArray::fromStringList(step.arguments)},
                                 {QStringLiteral("workingDirectory"), step.workingDirectory}});
    QJsonObject o{{QStringLiteral("kind"), QStringLiteral("taskschedd-instance")}, {QStringLiteral("version"), 1},
                        {QStringLiteral("id"), d.id}, {QStringLiteral("task"), d.task}, {QStringLiteral("start"), d.start.toMSecsSinceEpoch()},
                        {QStringLiteral("cause"), d.cause}, {QStringLiteral("attempt"), d.attempt}, {QStringLiteral("steps"), steps},
                        {QStringLiteral("user"), d.user}, {QStringLiteral("uid"), qint64(d.uid)}, {QStringLiteral("gid"), qint64(d.gid)},
                        {QStringLiteral("environment"), QJsonArray::fromStringList(d.environment)}, {QStringLiteral("logFile"), d.logFile},
                        {QStringLiteral("unsupportedAction"), d.unsupportedAction}, {QStringLiteral("timeLimitMs"), d.timeLimitMs},
                        {QStringLiteral("stopAt"), d.stopAt.toMSecsSinceEpoch()}};
    if (d.groups) {
        QJsonArray ids;
        for (const gid_t g : *d.groups) ids.append(qint64(g));
        o.insert(QStringLiteral("groups"), ids);
    }
    if (notBefore >= 0) o.insert(QStringLiteral("notBefore"), notBefore);
    QCOMPARE(encoded, QJsonDocument(o).toJson(QJsonDocument::Compact));
    QString decodeError;
    QCOMPARE(InstanceFiles::DecodeDescription(encoded, &decodeError), std::optional<InstanceDescription>(d));
    std::string error;
    const std::optional<InstanceRecord> r = InstanceRecord::Decode(encoded.toStdString(), &error);
    QVERIFY2(r.has_value(), error.c_str());
    QCOMPARE(r->id, d.id.toStdString());
    QCOMPARE(r->task, d.task.toStdString());
    QCOMPARE(r->cause, d.cause.toStdString());
    QCOMPARE(r->steps.size(), size_t(2));
    QCOMPARE(r->steps[0].program, std::string("/bin/echo"));
    QCOMPARE(r->steps[0].arguments, Std(d.steps[0].arguments));
    QCOMPARE(r->steps[0].workingDirectory, text.toStdString());
    QCOMPARE(r->steps[1].arguments, std::vector<std::string>{});
    QCOMPARE(r->user, std::string("nobody"));
    QCOMPARE(r->uid, d.uid);
    QCOMPARE(r->gid, d.gid);
    QCOMPARE(r->groups.has_value(), d.groups.has_value());
    if (d.groups) QCOMPARE(*r->groups, std::vector<gid_t>(d.groups->cbegin(), d.groups->cend()));
    QCOMPARE(r->environment, Std(d.environment));
    QCOMPARE(r->logFile, d.logFile.toStdString());
    QCOMPARE(r->notBeforeMs, int64_t(notBefore));
}

void tst_ExecRecords::damagedDescriptions_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("daemonRefuses");   // its reader lets some escapes and characters pass
    InstanceDescription d;
    d.id = QStringLiteral("i");
    d.task = QStringLiteral("\\t");
    d.start = QDateTime::fromMSecsSinceEpoch(1);
    d.logFile = QStringLiteral("/l");
    const QByteArray good = InstanceFiles::EncodeDescription(d);
    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("cut short") << good.left(good.size() / 2) << true;
    QTest::newRow("an array") << QByteArray("[1,2]") << true;
    QTest::newRow("text after it") << good + "x" << true;
    QTest::newRow("another kind") << QByteArray(good).replace("taskschedd-instance", "taskschedd-outcome") << true;
    QTest::newRow("another version") << QByteArray(good).replace("\"version\":1", "\"version\":2") << true;
    QTest::newRow("no id") << QByteArray(good).replace("\"id\":\"i\"", "\"id\":\"\"") << true;
    QTest::newRow("no log") << QByteArray(good).replace("\"logFile\":\"/l\"", "\"logFile\":7") << true;
    QTest::newRow("negative uid") << QByteArray(good).replace("\"uid\":0", "\"uid\":-1") << true;
    QTest::newRow("bad escape") << QByteArray(good).replace("\"/l\"", "\"\\q\"") << false;
    QTest::newRow("raw control character") << QByteArray(good).replace("\"/l\"", "\"\x01\"") << false;
    QTest::newRow("nested too deeply") << QByteArray(1000, '[') + QByteArray(1000, ']') << true;
    QTest::newRow("unknown word") << QByteArray(good).replace("\"/l\"", "nope") << true;
    QTest::newRow("groups not a list") << QByteArray(good).replace("\"gid\":0", "\"gid\":0,\"groups\":5") << true;
    QTest::newRow("a negative group") << QByteArray(good).replace("\"gid\":0", "\"gid\":0,\"groups\":[0,-1]") << true;
    QTest::newRow("a group beyond 32 bits") << QByteArray(good).replace("\"gid\":0", "\"gid\":0,\"groups\":[4294967296]") << true;
    QTest::newRow("a fractional group") << QByteArray(good).replace("\"gid\":0", "\"gid\":0,\"groups\":[1.5]") << true;
    QTest::newRow("a group that is text") << QByteArray(good).replace("\"gid\":0", "\"gid\":0,\"groups\":[\"0\"]") << true;
}

void tst_ExecRecords::damagedDescriptions()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, daemonRefuses);
    std::string error;
    QVERIFY(!InstanceRecord::Decode(bytes.toStdString(), &error).has_value());
    QVERIFY(!error.empty());
    // The daemon, which takes over what it finds, refuses the same files.
    if (!daemonRefuses) return;
    QString daemonError;
    QVERIFY(!InstanceFiles::DecodeDescription(bytes, &daemonError).has_value());
    QVERIFY(!daemonError.isEmpty());
}

void tst_ExecRecords::notBeforeAsEitherSideReadsIt_data()
{
    QTest::addColumn<QByteArray>("member");   // put into an otherwise complete description
    QTest::addColumn<qint64>("expected");     // -1: no time, the start is made at once
    QTest::newRow("a time") << QByteArray(",\"notBefore\":1733817600250") << qint64(1733817600250);
    QTest::newRow("absent, as from an earlier daemon") << QByteArray() << qint64(-1);
    QTest::newRow("null") << QByteArray(",\"notBefore\":null") << qint64(-1);
    QTest::newRow("text") << QByteArray(",\"notBefore\":\"soon\"") << qint64(-1);
    QTest::newRow("before 1970") << QByteArray(",\"notBefore\":-5") << qint64(-1);
    QTest::newRow("beyond any clock") << QByteArray(",\"notBefore\":1e300") << qint64(-1);
}

void tst_ExecRecords::notBeforeAsEitherSideReadsIt()
{
    QFETCH(QByteArray, member);
    QFETCH(qint64, expected);
    InstanceDescription d;
    d.id = QStringLiteral("i");
    d.task = QStringLiteral("\\t");
    d.start = QDateTime::fromMSecsSinceEpoch(1);
    d.logFile = QStringLiteral("/l");
    const QByteArray bytes = InstanceFiles::EncodeDescription(d).replace("\"logFile\":\"/l\"", "\"logFile\":\"/l\"" + member);
    QString daemonError;
    const auto daemon = InstanceFiles::DecodeDescription(bytes, &daemonError);
    QVERIFY2(daemon.has_value(), qPrintable(daemonError));
    QCOMPARE(daemon->notBefore.isValid() ? daemon->notBefore.toMSecsSinceEpoch() : qint64(-1), expected);
    std::string error;
    const auto supervisor = InstanceRecord::Decode(bytes.toStdString(), &error);
    QVERIFY2(supervisor.has_value(), error.c_str());
    QCOMPARE(supervisor->notBeforeMs, int64_t(expected));
    // What the daemon read, it writes back alike.
    QCOMPARE(InstanceFiles::DecodeDescription(InstanceFiles::EncodeDescription(*daemon), &daemonError), daemon);
}

void tst_ExecRecords::outcomesRoundTrip_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("startErrno");
    QTest::addColumn<int>("startStage");
    QTest::addColumn<int>("failedStep");
    QTest::addColumn<bool>("stopRequested");
    QTest::newRow("success") << 0 << 0 << 0 << 0 << -1 << false;
    QTest::newRow("exit code") << 42 << 0 << 0 << 0 << -1 << false;
    QTest::newRow("killed on request") << 137 << 9 << 0 << 0 << -1 << true;
    QTest::newRow("program missing") << 0 << 0 << 2 << 3 << 1 << false;
    QTest::newRow("extremes") << -2147483647 << 64 << 2147483647 << 4 << 0 << true;
}

void tst_ExecRecords::outcomesRoundTrip()
{
    OutcomeRecord o;
    o.endMs = 1733817600999;
    QFETCH(int, exitCode);
    QFETCH(int, signal);
    QFETCH(int, startErrno);
    QFETCH(int, startStage);
    QFETCH(int, failedStep);
    QFETCH(bool, stopRequested);
    o.exitCode = exitCode;
    o.signal = signal;
    o.startErrno = startErrno;
    o.startStage = startStage;
    o.failedStep = failedStep;
    o.stepsRun = 3;
    o.stopRequested = stopRequested;
    QString error;
    const std::optional<InstanceOutcome> d = InstanceFiles::DecodeOutcome(QByteArray::fromStdString(o.Encode()), &error);
    QVERIFY2(d.has_value(), qPrintable(error));
    QCOMPARE(d->end.toMSecsSinceEpoch(), o.endMs);
    QCOMPARE(d->exitCode, exitCode);
    QCOMPARE(d->signal, signal);
    QCOMPARE(d->startErrno, startErrno);
    QCOMPARE(d->startStage, startStage);
    QCOMPARE(d->failedStep, failedStep);
    QCOMPARE(d->stepsRun, 3);
    QCOMPARE(d->stopRequested, stopRequested);
}

void tst_ExecRecords::outcomeFiles_data()
{
    // What the daemon finds in an outcome file, as the supervisor leaves it or worse.
    QTest::addColumn<int>("padding");      // spaces after the record; -1: no file at all
    QTest::addColumn<QByteArray>("text");  // written instead of a record when not empty
    QTest::addColumn<bool>("read");
    QTest::newRow("as written") << 0 << QByteArray() << true;
    QTest::newRow("longer than one read") << 5000 << QByteArray() << true;
    QTest::newRow("missing") << -1 << QByteArray() << false;
    QTest::newRow("empty") << 0 << QByteArray(" ") << false;
    QTest::newRow("cut short") << 0 << QByteArray(R"({"end":1733817600999,"exitCode":)") << false;
    QTest::newRow("another kind of record") << 0 << QByteArray(R"({"kind":"taskschedd-instance","version":1})") << false;
}

void tst_ExecRecords::outcomeFiles()
{
    QFETCH(int, padding);
    QFETCH(QByteArray, text);
    QFETCH(bool, read);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("x.outcome"));
    OutcomeRecord o;
    o.endMs = 1733817600999;
    o.exitCode = 7;
    o.stepsRun = 2;
    if (padding >= 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.isEmpty() ? QByteArray::fromStdString(o.Encode()) + QByteArray(padding, ' ') : text.trimmed());
    }
    QString error;
    const std::optional<InstanceOutcome> outcome = InstanceFiles::ReadOutcome(path, &error);
    QCOMPARE(outcome.has_value(), read);
    // A file that is not read says why, which the daemon's warning passes on.
    QCOMPARE(error.isEmpty(), read);
    if (!read) return;
    QCOMPARE(outcome->end.toMSecsSinceEpoch(), o.endMs);
    QCOMPARE(outcome->exitCode, 7);
    QCOMPARE(outcome->stepsRun, 2);
}

void tst_ExecRecords::numbers_data()
{
    // Integers take a way of their own; both ways must read what QJsonDocument writes.
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");
    QTest::newRow("zero") << QByteArray("0") << true << 0.0;
    QTest::newRow("small") << QByteArray("42") << true << 42.0;
    QTest::newRow("negative") << QByteArray("-17") << true << -17.0;
    QTest::newRow("milliseconds since 1970") << QByteArray("1733817600123") << true << 1733817600123.0;
    QTest::newRow("largest uid") << QByteArray("4294967295") << true << 4294967295.0;
    QTest::newRow("15 digits") << QByteArray("999999999999999") << true << 999999999999999.0;
    QTest::newRow("16 digits") << QByteArray("9007199254740992") << true << 9007199254740992.0;
    QTest::newRow("beyond 64 bits") << QByteArray("123456789012345678901234567890") << true << 1.2345678901234568e29;
    QTest::newRow("fraction") << QByteArray("-2.5") << true << -2.5;
    QTest::newRow("exponent") << QByteArray("1e3") << true << 1000.0;
    QTest::newRow("negative exponent") << QByteArray("25E-1") << true << 2.5;
    QTest::newRow("minus alone") << QByteArray("-") << false << 0.0;
    QTest::newRow("two minus signs") << QByteArray("--1") << false << 0.0;
    QTest::newRow("minus after digits") << QByteArray("12-3") << false << 0.0;
    QTest::newRow("two points") << QByteArray("1.2.3") << false << 0.0;
    QTest::newRow("exponent without digits") << QByteArray("1e") << false << 0.0;
}

void tst_ExecRecords::numbers()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(double, value);
    std::string error;
    const std::optional<JsonValue> doc = JsonValue::Parse(("{\"n\":" + text + ",\"s\":\"x\"}").toStdString(), &error);
    QCOMPARE(doc.has_value(), valid);
    if (!valid) {
        QVERIFY(!error.empty());
        return;
    }
    QCOMPARE((*doc)["n"].kind(), JsonValue::Kind::Number);
    QCOMPARE((*doc)["n"].ToNumber(), value);
    // A member that is not there reads as null, whatever was looked up before.
    QCOMPARE((*doc)["missing"].kind(), JsonValue::Kind::Null);
    QCOMPARE((*doc)["missing"].ToNumber(-1), -1.0);
    QCOMPARE((*doc)["s"].ToString(), std::string("x"));
}

QTEST_GUILESS_MAIN(tst_ExecRecords)
#include "tst_exec_records.moc"
