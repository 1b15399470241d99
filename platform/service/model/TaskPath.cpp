#include "TaskPath.h"

QString TaskPath::NameProblem(const QString& name)
{
    if (name.isEmpty()) return QStringLiteral("A name cannot be empty.");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("\"%1\" cannot be used as a name.").arg(name);
    if (name.size() > MaxNameLength || name.toUtf8().size() > MaxNameBytes)
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
    QString body = text;
    if (body.startsWith(QLatin1Char('\\'))) body.remove(0, 1);
    if (body.endsWith(QLatin1Char('\\'))) body.chop(1);
    if (body.isEmpty()) return TaskPath();
    const QStringList names = body.split(QLatin1Char('\\'));
    if (names.size() > MaxDepth) return fail(QStringLiteral("folders nest at most %1 deep.").arg(MaxDepth));
    for (const QString& name : names) {
        const QString problem = NameProblem(name);
        if (!problem.isEmpty()) return fail(problem);
    }
    return TaskPath(names);
}

QString TaskPath::ToString() const
{
    return IsRoot() ? QStringLiteral("\\") : QLatin1Char('\\') + m_names.join(QLatin1Char('\\'));
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
