// Logons as the login manager publishes them, in a session directory the test writes.

#include "sources/SessionWatcher.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// As the login manager does it: a temporary file first, renamed into place when complete.
void WriteSession(const QString& dir, const QString& id, const QByteArray& content)
{
    const QString temp = dir + QStringLiteral("/.#") + id + QStringLiteral("Xy12");
    QFile file(temp);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QVERIFY(QFile::rename(temp, dir + QLatin1Char('/') + id));
}

} // namespace

class TestSessionWatcher : public QObject {
    Q_OBJECT
private slots:
    void reportsNewUserSessionsOnly();
    void withoutLoginManager();
};

void TestSessionWatcher::reportsNewUserSessionsOnly()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    WriteSession(dir.path(), QStringLiteral("1"), "UID=1000\nUSER=early\nACTIVE=1\nCLASS=user\n");
    SessionWatcher watcher(dir.path());
    QVERIFY(watcher.IsAvailable());
    QSignalSpy logons(&watcher, &SessionWatcher::LoggedOn);

    // Sessions that existed before the watcher are not logons.
    QTest::qWait(200);
    QCOMPARE(logons.count(), 0);

    WriteSession(dir.path(), QStringLiteral("2"), "UID=1001\nUSER=alice\nCLASS=user\nSTATE=online\n");
    QTRY_COMPARE(logons.count(), 1);
    QCOMPARE(logons.at(0).at(0).toString(), QStringLiteral("alice"));

    WriteSession(dir.path(), QStringLiteral("c3"), "UID=111\nUSER=lightdm\nCLASS=greeter\n");
    WriteSession(dir.path(), QStringLiteral("c3.ref"), "");
    QTest::qWait(300);
    QCOMPARE(logons.count(), 1);

    // The same session id again after it ended is a new logon.
    QVERIFY(QFile::remove(dir.path() + QStringLiteral("/2")));
    QTest::qWait(200);
    WriteSession(dir.path(), QStringLiteral("2"), "UID=1001\nUSER=alice\nCLASS=user\n");
    QTRY_COMPARE(logons.count(), 2);
}

void TestSessionWatcher::withoutLoginManager()
{
    QTemporaryDir dir;
    SessionWatcher watcher(dir.path() + QStringLiteral("/no-such-dir"));
    QVERIFY(!watcher.IsAvailable());
}

QTEST_GUILESS_MAIN(TestSessionWatcher)
#include "tst_session_watcher.moc"
