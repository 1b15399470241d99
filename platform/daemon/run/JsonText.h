#pragma once
// JSON written directly rather than through QJsonDocument, for the files the daemon writes at
// every start and end of a run: a document tree built, sorted and walked for each of them
// costs more than the rest of the start.

#include <QByteArray>
#include <QStringList>
#include <QStringView>

namespace JsonText {

/// Appends `text` as a JSON string, quotes included, in UTF-8, escaped as QJsonDocument
/// escapes it.
void AppendString(QByteArray& out, QStringView text);
/// Appends `list` as a JSON array of strings, without blanks.
void AppendStrings(QByteArray& out, const QStringList& list);

} // namespace JsonText
