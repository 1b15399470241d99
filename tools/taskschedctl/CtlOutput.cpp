#include "CtlOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

void CtlOutput::PrintJson(const QJsonValue& value)
{
    const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    m_out << QString::fromUtf8(document.toJson(QJsonDocument::Indented));
    m_out.flush();
}

void CtlOutput::PrintTable(const QStringList& header, const QList<QStringList>& rows)
{
    QList<qsizetype> widths;
    for (const QString& h : header) widths << h.size();
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size() && c < widths.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    auto line = [&](const QStringList& cells) {
        QString text;
        for (qsizetype c = 0; c < cells.size(); ++c) {
            if (c) text += QStringLiteral("  ");
            text += c + 1 < cells.size() ? cells[c].leftJustified(widths[c]) : cells[c];
        }
        m_out << text << '\n';
    };
    line(header);
    for (const QStringList& row : rows) line(row);
    m_out.flush();
}

void CtlOutput::PrintFields(const QList<std::pair<QString, QString>>& fields)
{
    qsizetype width = 0;
    for (const auto& f : fields) width = std::max(width, f.first.size() + 1);
    for (const auto& [label, value] : fields) m_out << (label + QLatin1Char(':')).leftJustified(width) << ' ' << value << '\n';
    m_out.flush();
}

void CtlOutput::PrintLine(const QString& text)
{
    m_out << text << '\n';
    m_out.flush();
}

QString CtlOutput::TimeText(const QDateTime& time)
{
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QStringLiteral("Never");
}

QJsonValue CtlOutput::TimeJson(const QDateTime& time)
{
    if (!time.isValid()) return QJsonValue::Null;
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}
