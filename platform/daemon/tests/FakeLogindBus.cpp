#include "FakeLogindBus.h"

#include <QCoreApplication>
#include <QFile>

namespace {
// A bus of the test's own user that lets anyone own any name, like a session bus.
constexpr char kConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
constexpr int kWaitMs = 20000;
} // namespace

QString FakeLogindBus::ReadLine(QProcess& process)
{
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(kWaitMs)) return {};
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

FakeLogindBus::FakeLogindBus()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return;
    }
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) || file.write(QString::fromLatin1(kConfig).arg(m_dir.filePath(QStringLiteral("bus"))).toUtf8()) < 0) {
        m_error = QStringLiteral("the bus configuration cannot be written");
        return;
    }
    file.close();
    m_bus.start(QStringLiteral("/usr/bin/dbus-daemon"), {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                                                         QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    const QString address = ReadLine(m_bus);
    if (address.isEmpty()) {
        m_error = QStringLiteral("dbus-daemon did not start: ") + m_bus.errorString() + QString::fromUtf8(m_bus.readAllStandardError());
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
    m_logind.setProcessEnvironment(env);
    m_logind.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_logind.start(QCoreApplication::applicationDirPath() + QStringLiteral("/fake-logind"), {});
    const QString ready = ReadLine(m_logind);
    if (ready != QLatin1String("ready")) {
        m_error = QStringLiteral("the stand-in for logind did not start: ") + (ready.isEmpty() ? m_logind.errorString() : ready);
        return;
    }
    m_address = address;
}

FakeLogindBus::~FakeLogindBus()
{
    for (QProcess* process : {&m_logind, &m_bus}) {
        if (process->state() == QProcess::NotRunning) continue;
        process->kill();
        process->waitForFinished(kWaitMs);
    }
}

bool FakeLogindBus::Send(const QString& command)
{
    m_logind.write(command.toUtf8() + '\n');
    const QString answer = ReadLine(m_logind);
    if (answer == QLatin1String("ok")) return true;
    m_error = command + QStringLiteral(": ") + (answer.isEmpty() ? QStringLiteral("no answer") : answer);
    return false;
}
