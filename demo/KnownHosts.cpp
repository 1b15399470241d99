#include "KnownHosts.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace {

/// The lines of a text file without comments, each split into its words.
QList<QStringList> WordsPerLine(const QString& path)
{
    QList<QStringList> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return lines;
    static const QRegularExpression blanks(QStringLiteral("[\\s=]+"));
    QTextStream in(&file);
    while (!in.atEnd()) {
        QString line = in.readLine();
        const qsizetype hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0) line.truncate(hash);
        const QStringList words = line.split(blanks, Qt::SkipEmptyParts);
        if (!words.isEmpty()) lines << words;
    }
    return lines;
}

} // namespace

QStringList KnownHosts::Read(const QString& ASshConfigPath, const QString& AKnownHostsPath)
{
    static const QRegularExpression pattern(QStringLiteral("[*?!]"));
    QStringList names;
    for (const QStringList& words : WordsPerLine(ASshConfigPath)) {
        if (words.constFirst().compare(QLatin1String("Host"), Qt::CaseInsensitive) != 0) continue;
        for (const QString& name : words.mid(1)) {
            if (!name.contains(pattern)) names << name;
        }
    }
    for (QStringList words : WordsPerLine(AKnownHostsPath)) {
        if (words.constFirst() == QLatin1String("@revoked")) continue;
        if (words.constFirst().startsWith(QLatin1Char('@'))) words.removeFirst();
        if (words.isEmpty()) continue;
        for (QString name : words.constFirst().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            // A hashed name cannot be read back, which is what hashing is for.
            if (name.startsWith(QLatin1Char('|')) || name.contains(pattern)) continue;
            if (name.startsWith(QLatin1Char('['))) name = name.mid(1, name.indexOf(QLatin1Char(']')) - 1);
            if (!name.isEmpty()) names << name;
        }
    }

    QStringList unique;
    QSet<QString> seen;
    for (const QString& name : std::as_const(names)) {
        if (!seen.contains(name.toLower())) {
            seen.insert(name.toLower());
            unique << name;
        }
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(unique.begin(), unique.end(), collator);
    return unique;
}

QStringList KnownHosts::ForCurrentUser()
{
    // ssh finds ~/.ssh in the account's home from the password database, whatever $HOME says.
    const passwd* account = ::getpwuid(::getuid());
    const QDir home(account && account->pw_dir ? QFile::decodeName(account->pw_dir) : QDir::homePath());
    const QString config = qEnvironmentVariable("TASKSCHEDULER_SSH_CONFIG");
    return Read(config.isEmpty() ? home.filePath(QStringLiteral(".ssh/config")) : config, home.filePath(QStringLiteral(".ssh/known_hosts")));
}
