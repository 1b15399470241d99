#include "DaemonHarness.h"

#include "DaemonLauncher.h"
#include "DaemonProtocol.h"
#include "LocalSocketTransport.h"
#include "run/ProcessFd.h"

#include <QCoreApplication>
#include <csignal>
#include <unistd.h>

DaemonHarness::DaemonHarness(QString rootPath) : m_root(std::move(rootPath)) {}

DaemonHarness::~DaemonHarness() { Stop(); }

QString DaemonHarness::Program()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/taskschedd");
}

bool DaemonHarness::Start()
{
    if (!DaemonLauncher::Launch(m_root)) return false;
    LocalSocketTransport transport(m_root);
    if (!transport.Connect(10000)) return false;
    const QCborMap reply = transport.Call(QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Ping}});
    m_pid = pid_t(reply.value(DaemonProtocol::Key::Pid).toInteger());
    return m_pid > 0;
}

void DaemonHarness::Stop() { End(SIGTERM); }
void DaemonHarness::Kill() { End(SIGKILL); }

void DaemonHarness::End(int signal)
{
    if (m_pid <= 0) return;
    ::kill(m_pid, signal);
    if (!WaitForExit(m_pid, 10000)) {
        ::kill(m_pid, SIGKILL);
        WaitForExit(m_pid, 10000);
    }
    m_pid = 0;
}

QCborMap DaemonHarness::Call(const QCborMap& request) const
{
    LocalSocketTransport transport(m_root);
    return transport.Call(request);
}

bool DaemonHarness::WaitForExit(pid_t pid, int timeoutMs) { return ProcessEnded(pid, timeoutMs); }
