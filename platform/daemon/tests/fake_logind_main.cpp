// A stand-in for systemd-logind on a private bus, for tests: it serves the manager and the
// session objects the daemon reads, and sends their signals when told to on its standard
// input, one command a line, answering "ok" (or "error ...") to each:
//   new ID USER [remote] [inactive] [class=CLASS]   a session begins (SessionNew)
//   remove ID                                      it ends (SessionRemoved)
//   lock ID | unlock ID                            the Lock and Unlock signals
//   lockedhint ID 0|1 | active ID 0|1              a property changes
//   idle ID 0|1 SINCE_MS                           IdleHint and IdleSinceHint change

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMap>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

namespace {

const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

struct ListedSession {
    QString id;
    uint uid = 0;
    QString user;
    QString seat;
    QDBusObjectPath path;
};

QDBusArgument& operator<<(QDBusArgument& arg, const ListedSession& s)
{
    arg.beginStructure();
    arg << s.id << s.uid << s.user << s.seat << s.path;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, ListedSession& s)
{
    arg.beginStructure();
    arg >> s.id >> s.uid >> s.user >> s.seat >> s.path;
    arg.endStructure();
    return arg;
}

struct Session {
    QString user;
    QString kind = QStringLiteral("user");
    bool remote = false;
    bool active = true;
    bool locked = false;
    bool idle = false;
    quint64 idleSinceUs = 0;

    QVariantMap Properties(const QString& id) const
    {
        return {{QStringLiteral("Id"), id},
                {QStringLiteral("Name"), user},
                {QStringLiteral("Class"), kind},
                {QStringLiteral("Remote"), remote},
                {QStringLiteral("Active"), active},
                {QStringLiteral("LockedHint"), locked},
                {QStringLiteral("IdleHint"), idle},
                {QStringLiteral("IdleSinceHint"), QVariant::fromValue<qulonglong>(idleSinceUs)}};
    }
};

} // namespace

Q_DECLARE_METATYPE(ListedSession)

class FakeLogind : public QDBusVirtualObject {
public:
    explicit FakeLogind(QDBusConnection bus) : m_bus(std::move(bus)) {}

    QString introspect(const QString&) const override
    {
        return QStringLiteral("<interface name=\"%1\"/><interface name=\"%2\"/>").arg(kManager, kSession);
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString id = IdOf(message.path());
        if (message.path() == kManagerPath && message.member() == QLatin1String("ListSessions")) {
            QList<ListedSession> listed;
            for (auto it = m_sessions.cbegin(); it != m_sessions.cend(); ++it)
                listed.append(ListedSession{it.key(), 1000, it->user, QStringLiteral("seat0"), QDBusObjectPath(PathOf(it.key()))});
            return connection.send(message.createReply(QVariant::fromValue(listed)));
        }
        if (message.interface() == kProperties && m_sessions.contains(id)) {
            const QVariantMap properties = m_sessions.value(id).Properties(id);
            if (message.member() == QLatin1String("GetAll")) return connection.send(message.createReply(properties));
            if (message.member() == QLatin1String("Get") && message.arguments().size() == 2)
                return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(properties.value(message.arguments()[1].toString())))));
        }
        return connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.login1.NoSuchSession"), QStringLiteral("No such session")));
    }

    QString Run(const QStringList& words)
    {
        const QString command = words.value(0);
        const QString id = words.value(1);
        if (command == QLatin1String("new") && words.size() >= 3) {
            Session session;
            session.user = words[2];
            for (const QString& option : words.mid(3)) {
                if (option == QLatin1String("remote")) session.remote = true;
                else if (option == QLatin1String("inactive")) session.active = false;
                else if (option.startsWith(QLatin1String("class="))) session.kind = option.mid(6);
            }
            m_sessions.insert(id, session);
            Signal(kManagerPath, kManager, QStringLiteral("SessionNew"), {id, QVariant::fromValue(QDBusObjectPath(PathOf(id)))});
            return {};
        }
        if (!m_sessions.contains(id)) return QStringLiteral("no session ") + id;
        Session& session = m_sessions[id];
        const bool on = words.value(2) == QLatin1String("1");
        if (command == QLatin1String("remove")) {
            m_sessions.remove(id);
            Signal(kManagerPath, kManager, QStringLiteral("SessionRemoved"), {id, QVariant::fromValue(QDBusObjectPath(PathOf(id)))});
        } else if (command == QLatin1String("lock") || command == QLatin1String("unlock")) {
            Signal(PathOf(id), kSession, command == QLatin1String("lock") ? QStringLiteral("Lock") : QStringLiteral("Unlock"), {});
        } else if (command == QLatin1String("lockedhint")) {
            session.locked = on;
            Changed(id, {{QStringLiteral("LockedHint"), on}});
        } else if (command == QLatin1String("active")) {
            session.active = on;
            Changed(id, {{QStringLiteral("Active"), on}});
        } else if (command == QLatin1String("idle") && words.size() == 4) {
            session.idle = on;
            session.idleSinceUs = words[3].toULongLong() * 1000;
            Changed(id, {{QStringLiteral("IdleHint"), on}, {QStringLiteral("IdleSinceHint"), QVariant::fromValue<qulonglong>(session.idleSinceUs)}});
        } else {
            return QStringLiteral("unknown command");
        }
        return {};
    }

private:
    static QString PathOf(const QString& id) { return QStringLiteral("/org/freedesktop/login1/session/") + id; }
    static QString IdOf(const QString& path)
    {
        const QString prefix = QStringLiteral("/org/freedesktop/login1/session/");
        return path.startsWith(prefix) ? path.mid(prefix.size()) : QString();
    }
    void Signal(const QString& path, const QString& interface, const QString& name, const QList<QVariant>& args)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
        signal.setArguments(args);
        m_bus.send(signal);
    }
    void Changed(const QString& id, const QVariantMap& changed)
    {
        Signal(PathOf(id), kProperties, QStringLiteral("PropertiesChanged"), {kSession, changed, QStringList()});
    }

    QDBusConnection m_bus;
    QMap<QString, Session> m_sessions;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<ListedSession>();
    qDBusRegisterMetaType<QList<ListedSession>>();
    QDBusConnection bus = QDBusConnection::systemBus();
    FakeLogind logind(bus);
    if (!bus.isConnected() || !bus.registerVirtualObject(kManagerPath, &logind, QDBusConnection::SubPath)
        || !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stdout, "error %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::fprintf(stdout, "ready\n");
    std::fflush(stdout);

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            app.quit();   // the test ended or closed our input
            return;
        }
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            const QString error = logind.Run(line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
            std::fprintf(stdout, "%s\n", error.isEmpty() ? "ok" : qPrintable(QStringLiteral("error ") + error));
            std::fflush(stdout);
        }
    });
    return app.exec();
}
