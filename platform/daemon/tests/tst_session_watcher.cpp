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
    QCOMPARE(logons.count(), 0);

    // Each scan reads the whole directory and reports in one go, so a session that should not
    // count would be reported by the time the next real logon is: each check waits for one.
    // Sessions that existed before the watcher are not logons.
    WriteSession(dir.path(), QStringLiteral("2"), "UID=1001\nUSER=alice\nCLASS=user\nSTATE=online\n");
    QTRY_COMPARE(logons.count(), 1);
    QCOMPARE(logons.at(0).at(0).toString(), QStringLiteral("alice"));

    // Nor are a greeter's session and logind's pipes beside the files.
    WriteSession(dir.path(), QStringLiteral("c3"), "UID=111\nUSER=lightdm\nCLASS=greeter\n");
    WriteSession(dir.path(), QStringLiteral("c3.ref"), "");
    WriteSession(dir.path(), QStringLiteral("4"), "UID=1002\nUSER=bob\nCLASS=user\n");
    QTRY_COMPARE(logons.count(), 2);
    QCOMPARE(logons.at(1).at(0).toString(), QStringLiteral("bob"));

    // The same session id again after it ended is a new logon. Another logon shows that the
    // watcher has seen the end before the id comes back.
    QVERIFY(QFile::remove(dir.path() + QStringLiteral("/2")));
    WriteSession(dir.path(), QStringLiteral("5"), "UID=1003\nUSER=carol\nCLASS=user\n");
    QTRY_COMPARE(logons.count(), 3);
    QCOMPARE(logons.at(2).at(0).toString(), QStringLiteral("carol"));
    WriteSession(dir.path(), QStringLiteral("2"), "UID=1001\nUSER=alice\nCLASS=user\n");
    QTRY_COMPARE(logons.count(), 4);
    QCOMPARE(logons.at(3).at(0).toString(), QStringLiteral("alice"));
}

void TestSessionWatcher::withoutLoginManager()
{
    QTemporaryDir dir;
    SessionWatcher watcher(dir.path() + QStringLiteral("/no-such-dir"));
    QVERIFY(!watcher.IsAvailable());
}

QTEST_GUILESS_MAIN(TestSessionWatcher)
#include "tst_session_watcher.moc"
