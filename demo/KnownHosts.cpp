#include "KnownHosts.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>
#include <algorithm>

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

QStringList KnownHosts::Read(const QString& ASshConfigPath, const QString& AHostsPath)
{
    QStringList names;
    for (const QStringList& words : WordsPerLine(ASshConfigPath)) {
        if (words.constFirst().compare(QLatin1String("Host"), Qt::CaseInsensitive) != 0) continue;
        for (const QString& pattern : words.mid(1)) {
            if (!pattern.contains(QRegularExpression(QStringLiteral("[*?!]")))) names << pattern;
        }
    }
    for (const QStringList& words : WordsPerLine(AHostsPath)) names << words.mid(1);

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
    return Read(QDir::home().filePath(QStringLiteral(".ssh/config")), QStringLiteral("/etc/hosts"));
}
