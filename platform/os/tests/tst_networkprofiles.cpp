// Where the machine's network profile names come from.

#include "NetworkManagerProfiles.h"
#include "NetworkProfileSource.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
class FixedProfiles : public NetworkProfileSource {
public:
    explicit FixedProfiles(QStringList ANames) : names(std::move(ANames)) {}
    std::optional<QStringList> ProfileNames() const override { return names; }
    QStringList names;
};
} // namespace

class TestNetworkProfiles : public QObject {
    Q_OBJECT

private slots:
    void withoutASystemBusThereIsNoConnectionManager();
    void overridesNestAndRestore();
};

void TestNetworkProfiles::withoutASystemBusThereIsNoConnectionManager()
{
    // A bus address where nothing listens: the answer is "not available", at once, not an error.
    QTemporaryDir dir;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.filePath("no-bus")).toLocal8Bit());
    QVERIFY(!NetworkManagerProfiles().ProfileNames().has_value());
    QVERIFY(!NetworkProfileSource::Current().ProfileNames().has_value());
}

void TestNetworkProfiles::overridesNestAndRestore()
{
    const NetworkProfileSource* system = &NetworkProfileSource::Current();
    const FixedProfiles outer({"Home"});
    const FixedProfiles inner({"Office", "Cafe"});
    {
        NetworkProfileSource::ScopedOverride first(outer);
        QCOMPARE(NetworkProfileSource::Current().ProfileNames().value(), QStringList{"Home"});
        {
            NetworkProfileSource::ScopedOverride second(inner);
            QCOMPARE(NetworkProfileSource::Current().ProfileNames().value(), (QStringList{"Office", "Cafe"}));
        }
        QCOMPARE(&NetworkProfileSource::Current(), &outer);
    }
    QCOMPARE(&NetworkProfileSource::Current(), system);
}

QTEST_GUILESS_MAIN(TestNetworkProfiles)
#include "tst_networkprofiles.moc"
