// Which accounts a client may register tasks for, by the service's and the client's account.

#include "AccountPolicy.h"

#include <QTest>
#include <pwd.h>

class TestAccountPolicy : public QObject {
    Q_OBJECT

private slots:
    void users_data()
    {
        QTest::addColumn<uint>("service");
        QTest::addColumn<uint>("peer");
        QTest::addColumn<QString>("account");
        QTest::addColumn<HRESULT>("expected");
        const passwd* nobody = getpwnam("nobody");
        QVERIFY(nobody);
        const uint n = nobody->pw_uid;
        const HRESULT unknown = HRESULT_FROM_WIN32(ERROR_NONE_MAPPED);
        QTest::newRow("root service, root client: System") << 0u << 0u << "System" << S_OK;
        QTest::newRow("root service, root client: SYSTEM") << 0u << 0u << "NT AUTHORITY\\SYSTEM" << S_OK;
        QTest::newRow("root service, root client: another account") << 0u << 0u << "nobody" << S_OK;
        QTest::newRow("root service, root client: unknown") << 0u << 0u << "no-such-user-xyz" << unknown;
        QTest::newRow("root service, user client: own account") << 0u << n << "nobody" << S_OK;
        QTest::newRow("root service, user client: this computer") << 0u << n << ".\\nobody" << S_OK;
        QTest::newRow("root service, user client: System") << 0u << n << "System" << E_ACCESSDENIED;
        QTest::newRow("root service, user client: root") << 0u << n << "root" << E_ACCESSDENIED;
        QTest::newRow("user service, its user: own account") << n << n << "nobody" << S_OK;
        QTest::newRow("user service, its user: System") << n << n << "System" << E_ACCESSDENIED;
        QTest::newRow("user service, root client: root") << n << 0u << "root" << E_ACCESSDENIED;
        QTest::newRow("user service, root client: the service's user") << n << 0u << "nobody" << S_OK;
        QTest::newRow("another domain") << 0u << 0u << "CORP\\nobody" << unknown;
    }

    void users()
    {
        QFETCH(uint, service);
        QFETCH(uint, peer);
        QFETCH(QString, account);
        QFETCH(HRESULT, expected);
        const AccountPolicy policy(service, ClientIdentity{peer, 0, 1});
        const ValueProblem problem = policy.CheckUser(account);
        QCOMPARE(problem.code, expected);
        if (expected == E_ACCESSDENIED) QVERIFY(problem.message.startsWith(QStringLiteral("Access is denied.")));
    }

    void groups()
    {
        const passwd* nobody = getpwnam("nobody");
        QVERIFY(nobody);
        QCOMPARE(AccountPolicy(0, ClientIdentity{0, 0, 1}).CheckGroup(QStringLiteral("root")).code, S_OK);
        QCOMPARE(AccountPolicy(0, ClientIdentity{nobody->pw_uid, nobody->pw_gid, 1}).CheckGroup(QStringLiteral("root")).code, E_ACCESSDENIED);
        QCOMPARE(AccountPolicy(0, ClientIdentity{0, 0, 1}).CheckGroup(QStringLiteral("no-such-group-xyz")).code,
                 HRESULT_FROM_WIN32(ERROR_NONE_MAPPED));
    }
};

QTEST_GUILESS_MAIN(TestAccountPolicy)
#include "tst_accountpolicy.moc"
