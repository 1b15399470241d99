#include "sources/LogindSessionSource.h"

#include "SystemBusService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcLogind, "taskschedd.sessions")

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// The daemon serves its clients meanwhile: a hung bus must not stall it.
constexpr int kTimeoutMs = 2000;

const SystemBusService& Logind()
{
    static const SystemBusService service(kService, kTimeoutMs);
    return service;
}

// ListSessions gives a(susso): id, uid, user name, seat, object path.
QStringList SessionPaths(const QVariant& reply)
{
    QStringList paths;
    if (reply.metaType() != QMetaType::fromType<QDBusArgument>()) return paths;
    const QDBusArgument list = reply.value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString id, user, seat;
        uint uid = 0;
        QDBusObjectPath path;
        list.beginStructure();
        list >> id >> uid >> user >> seat >> path;
        list.endStructure();
        paths.append(path.path());
    }
    list.endArray();
    return paths;
}

// SessionNew and SessionRemoved carry (s id, o path).
QString PathArgument(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    return args.size() == 2 ? args[1].value<QDBusObjectPath>().path() : QString();
}

QDateTime FromMicroseconds(quint64 us) { return us == 0 ? QDateTime() : QDateTime::fromMSecsSinceEpoch(qint64(us / 1000)); }
} // namespace

bool LogindSessionSource::IsPresent() { return Logind().IsPresent(); }

LogindSessionSource::LogindSessionSource(QObject* parent) : SessionSource(parent)
{
    m_idleSince = QDateTime::currentDateTime();
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qCInfo(lcLogind) << "no system bus; no session is known";
        UpdateIdle();
        return;
    }
    // Subscribed before the sessions are listed, so that a change in between is not lost.
    bus.connect(kService, kManagerPath, kManager, QStringLiteral("SessionNew"), this, SLOT(OnSessionNew(QDBusMessage)));
    bus.connect(kService, kManagerPath, kManager, QStringLiteral("SessionRemoved"), this, SLOT(OnSessionRemoved(QDBusMessage)));
    // An empty path hears every session object.
    bus.connect(kService, QString(), kSession, QStringLiteral("Lock"), this, SLOT(OnLock(QDBusMessage)));
    bus.connect(kService, QString(), kSession, QStringLiteral("Unlock"), this, SLOT(OnUnlock(QDBusMessage)));
    bus.connect(kService, QString(), kProperties, QStringLiteral("PropertiesChanged"), this,
                SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
    QString error;
    const auto listed = Logind().Call(kManagerPath, kManager, QStringLiteral("ListSessions"), {}, &error);
    if (!listed) qCWarning(lcLogind) << "logind's sessions cannot be listed:" << error;
    else if (!listed->isEmpty()) {
        for (const QString& path : SessionPaths(listed->first())) Add(path, false);
    }
    UpdateIdle();
}

void LogindSessionSource::Apply(const QVariantMap& properties, Session* session)
{
    const auto take = [&](const char* name, auto apply) {
        const auto it = properties.constFind(QLatin1String(name));
        if (it != properties.cend()) apply(*it);
    };
    take("Name", [&](const QVariant& v) { session->user = v.toString(); });
    take("Remote", [&](const QVariant& v) { session->remote = v.toBool(); });
    take("Active", [&](const QVariant& v) { session->active = v.toBool(); });
    take("LockedHint", [&](const QVariant& v) { session->locked = v.toBool(); });
    take("IdleHint", [&](const QVariant& v) { session->idle = v.toBool(); });
    take("IdleSinceHint", [&](const QVariant& v) { session->idleSince = FromMicroseconds(v.toULongLong()); });
}

std::optional<LogindSessionSource::Session> LogindSessionSource::Read(const QString& path)
{
    const QVariantMap properties = Logind().Properties(path, kSession);
    if (properties.isEmpty()) return std::nullopt;   // ended meanwhile, or logind does not answer
    if (properties.value(QStringLiteral("Class")).toString() != QLatin1String("user")) return std::nullopt;
    Session session;
    Apply(properties, &session);
    if (session.user.isEmpty()) return std::nullopt;
    return session;
}

void LogindSessionSource::Add(const QString& path, bool announce)
{
    if (m_sessions.contains(path)) return;
    const auto session = Read(path);
    if (!session) return;
    m_sessions.insert(path, *session);
    if (!announce) return;
    qCInfo(lcLogind) << "session" << path << "of" << session->user << "began";
    emit LoggedOn(session->user);
    if (session->active) emit StateChanged(session->remote ? SessionChange::RemoteConnect : SessionChange::ConsoleConnect, session->user);
}

void LogindSessionSource::OnSessionNew(const QDBusMessage& message)
{
    const QString path = PathArgument(message);
    if (!path.isEmpty()) Add(path, true);
    UpdateIdle();
}

void LogindSessionSource::OnSessionRemoved(const QDBusMessage& message)
{
    const auto it = m_sessions.constFind(PathArgument(message));
    if (it == m_sessions.cend()) return;
    const Session session = *it;
    m_sessions.erase(it);
    if (session.active) emit StateChanged(session.remote ? SessionChange::RemoteDisconnect : SessionChange::ConsoleDisconnect, session.user);
    UpdateIdle();
}

void LogindSessionSource::SetLocked(const QString& path, bool locked)
{
    // logind asks the screen locker with Lock, and the locker says it is done with LockedHint:
    // one lock, however it is told.
    const auto it = m_sessions.find(path);
    if (it == m_sessions.end() || it->locked == locked) return;
    it->locked = locked;
    emit StateChanged(locked ? SessionChange::Lock : SessionChange::Unlock, it->user);
}

void LogindSessionSource::OnLock(const QDBusMessage& message) { SetLocked(message.path(), true); }
void LogindSessionSource::OnUnlock(const QDBusMessage& message) { SetLocked(message.path(), false); }

void LogindSessionSource::OnPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated,
                                              const QDBusMessage& message)
{
    if (interface != kSession) return;
    const auto it = m_sessions.find(message.path());
    if (it == m_sessions.end()) return;
    QVariantMap now = changed;
    if (!invalidated.isEmpty()) {
        const QVariantMap all = Logind().Properties(message.path(), kSession);
        for (const QString& name : invalidated) {
            if (all.contains(name)) now.insert(name, all.value(name));
        }
    }
    Session next = *it;
    Apply(now, &next);
    const Session before = *it;
    *it = next;
    if (next.active != before.active) {
        const SessionChange change = next.active ? (next.remote ? SessionChange::RemoteConnect : SessionChange::ConsoleConnect)
                                                 : (next.remote ? SessionChange::RemoteDisconnect : SessionChange::ConsoleDisconnect);
        emit StateChanged(change, next.user);
    }
    if (next.locked != before.locked) {
        it->locked = before.locked;
        SetLocked(message.path(), next.locked);
    }
    if (next.idle != before.idle || next.idleSince != before.idleSince) UpdateIdle();
}

void LogindSessionSource::UpdateIdle()
{
    // Idle when every local session is idle; with no local session, nobody is at the computer.
    bool idle = true;
    QDateTime since;
    for (const Session& session : std::as_const(m_sessions)) {
        if (session.remote) continue;
        if (!session.idle) {
            idle = false;
            break;
        }
        const QDateTime sessionSince = session.idleSince.isValid() ? session.idleSince : QDateTime::currentDateTime();
        if (!since.isValid() || sessionSince > since) since = sessionSince;
    }
    if (idle && !since.isValid()) since = m_idle ? m_idleSince : QDateTime::currentDateTime();
    if (idle == m_idle && (!idle || since == m_idleSince)) return;
    m_idle = idle;
    m_idleSince = since;
    qCInfo(lcLogind).noquote() << (idle ? QStringLiteral("the computer is idle since ") + since.toString(Qt::ISODate) : QStringLiteral("the computer is in use"));
    emit IdleChanged(idle);
}
