#include "sources/SessionWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSessions, "taskschedd.sessions")

namespace {

// A session file holds KEY=value lines; the user's name is under USER or NAME, its class under CLASS.
QHash<QString, QString> ReadSession(const QString& file)
{
    QHash<QString, QString> values;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return values;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0) values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return values;
}

} // namespace

SessionWatcher::SessionWatcher(QString sessionsDir, QObject* parent) : SessionSource(parent), m_dir(std::move(sessionsDir))
{
    m_available = QDir(m_dir).exists();
    if (!m_available) {
        qCInfo(lcSessions) << "no systemd-logind sessions at" << m_dir << "; logon triggers will not fire";
        return;
    }
    m_watcher = new QFileSystemWatcher({m_dir}, this);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { Scan(true); });
    // Files are written after they appear; a change of one is worth another look.
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { Scan(true); });
    Scan(false);
}

void SessionWatcher::Scan(bool report)
{
    const QStringList names = QDir(m_dir).entryList(QDir::Files);
    QSet<QString> present;
    for (const QString& name : names) {
        // logind keeps ".ref" pipes and temporary files beside the session files.
        if (name.contains(QLatin1Char('.'))) continue;
        present.insert(name);
        if (m_sessions.contains(name)) continue;
        const QHash<QString, QString> values = ReadSession(m_dir + QLatin1Char('/') + name);
        const QString user = values.value(QStringLiteral("USER"), values.value(QStringLiteral("NAME")));
        if (user.isEmpty()) {
            m_watcher->addPath(m_dir + QLatin1Char('/') + name);   // not written yet
            continue;
        }
        m_sessions.insert(name);
        m_watcher->removePath(m_dir + QLatin1Char('/') + name);
        const QString kind = values.value(QStringLiteral("CLASS"), QStringLiteral("user"));
        if (report && kind == QLatin1String("user")) emit LoggedOn(user);
    }
    m_sessions.intersect(present);
}
