#pragma once
// What a command prints: a human table or text, or one JSON document with --json.

#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QStringList>
#include <QTextStream>

class CtlOutput {
public:
    /// Prints to `out`; JSON instead of tables when `json`.
    CtlOutput(QTextStream& out, bool json) : m_out(out), m_json(json) {}

    bool Json() const { return m_json; }
    /// Prints `value` as an indented JSON document.
    void PrintJson(const QJsonValue& value);
    /// Prints rows under a header line, each column as wide as its widest cell.
    void PrintTable(const QStringList& header, const QList<QStringList>& rows);
    /// Prints "Label: value" lines, the labels aligned.
    void PrintFields(const QList<std::pair<QString, QString>>& fields);
    /// Prints one line.
    void PrintLine(const QString& text);

    /// A time for people: "2026-12-09 09:00", "Never" for an invalid one.
    static QString TimeText(const QDateTime& time);
    /// A time for scripts: ISO 8601 with the local offset, null for an invalid one.
    static QJsonValue TimeJson(const QDateTime& time);

private:
    QTextStream& m_out;
    bool m_json;
};
