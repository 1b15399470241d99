#include "run/SupervisorScan.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <algorithm>

SupervisorScan::SupervisorScan(QString procDir) : m_procDir(std::move(procDir)) {}

pid_t SupervisorScan::ParentOf(pid_t pid) const
{
    QFile stat(m_procDir + QStringLiteral("/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray text = stat.readAll();
    // "pid (name) state ppid ...": the name may hold blanks and parentheses, the last ')' ends it.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0) return 0;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    return fields.size() > 1 ? pid_t(fields[1].toInt()) : 0;
}

QHash<QString, pid_t> SupervisorScan::Running() const
{
    QHash<QString, QList<QPair<pid_t, pid_t>>> candidates;   // file -> (pid, parent)
    const QStringList entries = QDir(m_procDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        if (!ok || pid <= 0) continue;
        QFile cmdline(m_procDir + QLatin1Char('/') + entry + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly)) continue;
        const QList<QByteArray> args = cmdline.readAll().split('\0');
        // "program\0instance\0" splits into three parts, the last one empty; a zombie has none.
        // A supervisor that waited in reserve has its instance file where its placeholder was,
        // followed by the rest of the placeholder's room, all NULs.
        if (args.size() < 3 || args[1].isEmpty() || !args[0].endsWith("taskschedd-exec")
            || std::any_of(args.cbegin() + 2, args.cend(), [](const QByteArray& a) { return !a.isEmpty(); }))
            continue;
        candidates[QFile::decodeName(args[1])].append({pid, ParentOf(pid)});
    }
    QHash<QString, pid_t> found;
    for (auto it = candidates.cbegin(); it != candidates.cend(); ++it) {
        for (const auto& [pid, parent] : it.value()) {
            const bool forkedBySibling = std::any_of(it.value().cbegin(), it.value().cend(),
                                                     [parent = parent](const QPair<pid_t, pid_t>& other) { return other.first == parent; });
            if (!forkedBySibling) found.insert(it.key(), pid);
        }
    }
    return found;
}
