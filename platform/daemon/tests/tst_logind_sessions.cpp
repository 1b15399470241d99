// Users' sessions as logind reports them: a stand-in for logind on a private bus plays the
// signals, and the daemon's source must turn them into logons, state changes and idleness.

#include "FakeLogindBus.h"
#include "sources/LogindSessionSource.h"

#include <QtTest>
#include <memory>

namespace {

QString Name(SessionChange change)
{
    switch (change) {
    case SessionChange::ConsoleConnect: return QStringLiteral("console-connect");
    case SessionChange::ConsoleDisconnect: return QStringLiteral("console-disconnect");
    case SessionChange::RemoteConnect: return QStringLiteral("remote-connect");
    case SessionChange::RemoteDisconnect: return QStringLiteral("remote-disconnect");
    case SessionChange::Lock: return QStringLiteral("lock");
    case SessionChange::Unlock: return QStringLiteral("unlock");
    }
    return QStringLiteral("?");
}

QDateTime Ms(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms); }

} // namespace

class TestLogindSessions : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { m_bus.reset(); }
    void cleanup();

    void events_data();
    void events();
    void idleWhenEveryLocalSessionIs();

private:
    /// Whether `source` hears logind. The bus learns of the source's interest, and the source
    /// of logind's name owner, in the background: until a first marker is heard, a signal may
    /// pass it by.
    bool Heard(const LogindSessionSource& source)
    {
        QStringList logons;
        const QMetaObject::Connection connection =
            connect(&source, &SessionSource::LoggedOn, this, [&](const QString& user) { logons.append(user); });
        bool heard = false;
        for (int tries = 0; tries < 20 && !heard; ++tries) {
            const QString marker = QStringLiteral("marker%1").arg(++m_marker);
            if (!Send(QStringLiteral("new m%1 %2 remote inactive").arg(m_marker).arg(marker))) break;
            heard = QTest::qWaitFor([&] { return logons.contains(marker); }, 1000);
        }
        disconnect(connection);
        return heard;
    }

    bool Send(const QString& command)
    {
        const QStringList words = command.split(QLatin1Char(' '));
        if (words.value(0) == QLatin1String("new")) m_made.append(words.value(1));
        if (words.value(0) == QLatin1String("remove")) m_made.removeAll(words.value(1));
        const bool sent = m_bus->Send(command);
        if (!sent) qWarning() << m_bus->Error();
        return sent;
    }

    std::unique_ptr<FakeLogindBus> m_bus;
    QStringList m_made;
    int m_marker = 0;
};

void TestLogindSessions::initTestCase()
{
    m_bus = std::make_unique<FakeLogindBus>();
    QVERIFY2(m_bus->IsValid(), qPrintable(m_bus->Error()));
    // Before anything in this process opens the system bus: the daemon's code then uses ours.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus->Address().toUtf8());
    QVERIFY(LogindSessionSource::IsPresent());
}

void TestLogindSessions::cleanup()
{
    for (const QString& id : QStringList(m_made)) Send(QStringLiteral("remove ") + id);
}

void TestLogindSessions::events_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("a console logon") << QStringList{"new c1 alice"} << QStringList{"logon alice", "console-connect alice"};
    QTest::newRow("a remote logon") << QStringList{"new c1 bob remote"} << QStringList{"logon bob", "remote-connect bob"};
    QTest::newRow("an inactive session is a logon only") << QStringList{"new c1 carol inactive"} << QStringList{"logon carol"};
    QTest::newRow("a greeter is no logon") << QStringList{"new c1 lightdm class=greeter", "lock c1", "active c1 0"} << QStringList{};
    QTest::newRow("switching away and back")
        << QStringList{"new c1 dave", "active c1 0", "active c1 1"}
        << QStringList{"logon dave", "console-connect dave", "console-disconnect dave", "console-connect dave"};
    QTest::newRow("a remote logoff disconnects")
        << QStringList{"new c1 erin remote", "remove c1"} << QStringList{"logon erin", "remote-connect erin", "remote-disconnect erin"};
    QTest::newRow("an inactive session's logoff is no disconnect") << QStringList{"new c1 erin inactive", "remove c1"} << QStringList{"logon erin"};
    QTest::newRow("a lock told twice counts once")
        << QStringList{"new c1 fred", "lock c1", "lockedhint c1 1", "unlock c1", "lockedhint c1 0"}
        << QStringList{"logon fred", "console-connect fred", "lock fred", "unlock fred"};
    QTest::newRow("the lock hint alone") << QStringList{"new c1 gina", "lockedhint c1 1", "lockedhint c1 0", "lock c1"}
                                         << QStringList{"logon gina", "console-connect gina", "lock gina", "unlock gina", "lock gina"};
    QTest::newRow("two users, each their own")
        << QStringList{"new c1 hank", "new c2 ivy remote", "lock c2", "active c1 0"}
        << QStringList{"logon hank", "console-connect hank", "logon ivy", "remote-connect ivy", "lock ivy", "console-disconnect hank"};
}

void TestLogindSessions::events()
{
    QFETCH(QStringList, commands);
    QFETCH(QStringList, expected);
    LogindSessionSource source;
    QStringList seen;
    connect(&source, &SessionSource::LoggedOn, this, [&](const QString& user) { seen.append(QStringLiteral("logon ") + user); });
    connect(&source, &SessionSource::StateChanged, this,
            [&](SessionChange change, const QString& user) { seen.append(Name(change) + QLatin1Char(' ') + user); });
    QVERIFY(Heard(source));
    seen.clear();
    for (const QString& command : commands) {
        QVERIFY(Send(command));
        // The source reads a new session's state when it hears of it; the next command waits
        // until it has, as a user's next step would. The bus keeps the order of one sender's
        // signals: once a marker's logon is here, so is everything before it.
        const QString marker = QStringLiteral("marker%1").arg(++m_marker);
        QVERIFY(Send(QStringLiteral("new m%1 %2 remote inactive").arg(m_marker).arg(marker)));
        QTRY_VERIFY(!seen.isEmpty() && seen.last() == QStringLiteral("logon ") + marker);
        seen.removeLast();
    }
    QCOMPARE(seen, expected);
}

void TestLogindSessions::idleWhenEveryLocalSessionIs()
{
    QVERIFY(Send(QStringLiteral("new i1 kim")));
    QVERIFY(Send(QStringLiteral("idle i1 1 1700000000000")));
    QVERIFY(Send(QStringLiteral("new i2 lee remote")));
    // Sessions that were there before: an idle console and a busy remote session is idle.
    LogindSessionSource source;
    QVERIFY(source.KnowsIdle());
    QVERIFY(source.IsIdle());
    QVERIFY(Heard(source));   // a remote marker session is no local use: still idle
    QVERIFY(source.IsIdle());
    QCOMPARE(source.IdleSince(), Ms(1700000000000));
    QSignalSpy changes(&source, &SessionSource::IdleChanged);

    QVERIFY(Send(QStringLiteral("new i3 max")));
    QTRY_VERIFY(!source.IsIdle());
    QVERIFY(!source.IdleSince().isValid());
    QCOMPARE(changes.last().at(0).toBool(), false);

    // Idle since the last of them went idle.
    QVERIFY(Send(QStringLiteral("idle i3 1 1700000600000")));
    QTRY_VERIFY(source.IsIdle());
    QCOMPARE(source.IdleSince(), Ms(1700000600000));
    QCOMPARE(changes.last().at(0).toBool(), true);

    QVERIFY(Send(QStringLiteral("idle i1 0 1700000900000")));
    QTRY_VERIFY(!source.IsIdle());
    // The busy console session ends: the idle one left is what counts.
    QVERIFY(Send(QStringLiteral("remove i1")));
    QTRY_VERIFY(source.IsIdle());
    QCOMPARE(source.IdleSince(), Ms(1700000600000));
}

QTEST_GUILESS_MAIN(TestLogindSessions)
#include "tst_logind_sessions.moc"
