#pragma once
// A private message bus with a stand-in for systemd-logind on it, for tests that follow
// users' sessions without touching the machine's own bus. Ended with the fixture.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class FakeLogindBus {
public:
    /// Starts the bus and the stand-in; IsValid() tells whether both run.
    FakeLogindBus();
    /// Ends the stand-in and the bus, and waits for both.
    ~FakeLogindBus();
    FakeLogindBus(const FakeLogindBus&) = delete;
    FakeLogindBus& operator=(const FakeLogindBus&) = delete;

    bool IsValid() const { return !m_address.isEmpty() && m_logind.state() == QProcess::Running; }
    /// Why the fixture could not be set up.
    QString Error() const { return m_error; }
    /// The bus's address, for DBUS_SYSTEM_BUS_ADDRESS.
    QString Address() const { return m_address; }
    /// Gives the stand-in one command (see fake_logind_main.cpp) and waits until it is carried
    /// out. False, with Error() set, when it is refused.
    bool Send(const QString& command);

private:
    QString ReadLine(QProcess& process);

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_logind;
    QString m_address;
    QString m_error;
};
