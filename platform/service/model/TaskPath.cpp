#include "TaskPath.h"

namespace {

// The length of `name` in UTF-8, counted without converting it: every name of a store is
// checked when the service reads the store. An unpaired surrogate counts as the one byte
// that QString::toUtf8 writes for it.
qsizetype Utf8Size(const QString& name)
{
    // No unit takes more than three bytes (a pair takes four for its two).
    if (name.size() * 3 <= TaskPath::MaxNameBytes) return name.size();
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c < 0x80) bytes += 1;
        else if (c < 0x800) bytes += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) bytes += 4, ++i;
        else if (QChar::isSurrogate(c)) bytes += 1;
        else bytes += 3;
    }
    return bytes;
}

} // namespace

QString TaskPath::NameProblem(const QString& name)
{
    if (name.isEmpty()) return QStringLiteral("A name cannot be empty.");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("\"%1\" cannot be used as a name.").arg(name);
    if (name.size() > MaxNameLength || Utf8Size(name) > MaxNameBytes)
        return QStringLiteral("A name is at most %1 characters long.").arg(MaxNameLength);
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c == u'\\' || c == u'/') return QStringLiteral("A name cannot contain \"\\\" or \"/\".");
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xFFFE || c == 0xFFFF)
            return QStringLiteral("A name cannot contain control characters.");
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
            ++i;
        } else if (QChar::isSurrogate(c)) {
            return QStringLiteral("A name cannot contain unpaired surrogates.");
        }
    }
    return {};
}

std::optional<TaskPath> TaskPath::Parse(const QString& text, QString* error)
{
    auto fail = [&](const QString& why) -> std::optional<TaskPath> {
        if (error) *error = QStringLiteral("The path \"%1\" is not valid: %2").arg(text.left(MaxNameLength), why);
        return std::nullopt;
    };
    QStringView body = text;
    if (body.startsWith(QLatin1Char('\\'))) body = body.sliced(1);
    if (body.endsWith(QLatin1Char('\\'))) body.chop(1);
    if (body.isEmpty()) return TaskPath();
    QStringList names;
    // A single name, the most common text, is kept as it is rather than copied.
    if (body.size() == text.size() && !body.contains(QLatin1Char('\\'))) names.append(text);
    else
        for (const QStringView name : body.split(QLatin1Char('\\'))) names.append(name.toString());
    if (names.size() > MaxDepth) return fail(QStringLiteral("folders nest at most %1 deep.").arg(MaxDepth));
    for (const QString& name : names) {
        const QString problem = NameProblem(name);
        if (!problem.isEmpty()) return fail(problem);
    }
    return TaskPath(std::move(names));
}

QString TaskPath::ToString() const
{
    if (IsRoot()) return QStringLiteral("\\");
    // Made in one piece: the daemon names every task of the store by its path.
    qsizetype size = m_names.size();
    for (const QString& name : m_names) size += name.size();
    QString text;
    text.reserve(size);
    for (const QString& name : m_names) {
        text.append(QLatin1Char('\\'));
        text.append(name);
    }
    return text;
}

QString TaskPath::Name() const
{
    return IsRoot() ? QStringLiteral("\\") : m_names.last();
}

TaskPath TaskPath::Parent() const
{
    return IsRoot() ? TaskPath() : TaskPath(m_names.mid(0, m_names.size() - 1));
}

std::optional<TaskPath> TaskPath::Join(const TaskPath& relative, QString* error) const
{
    if (m_names.size() + relative.m_names.size() > MaxDepth) {
        if (error) *error = QStringLiteral("Folders nest at most %1 deep.").arg(MaxDepth);
        return std::nullopt;
    }
    return TaskPath(m_names + relative.m_names);
}

std::optional<TaskPath> TaskPath::Child(const QString& name, QString* error) const
{
    const QString problem = NameProblem(name);
    if (!problem.isEmpty()) {
        if (error) *error = QStringLiteral("The path \"%1\" is not valid: %2").arg(name.left(MaxNameLength), problem);
        return std::nullopt;
    }
    if (m_names.size() + 1 > MaxDepth) {
        if (error) *error = QStringLiteral("Folders nest at most %1 deep.").arg(MaxDepth);
        return std::nullopt;
    }
    QStringList names;
    names.reserve(m_names.size() + 1);
    names.append(m_names);
    names.append(name);
    return TaskPath(std::move(names));
}
