#include "EnvironmentText.h"

#include <QRegularExpression>

QString ExpandEnvironmentText(const QString& AText)
{
    static const QRegularExpression reference(QStringLiteral("\\$(?:\\{([A-Za-z_][A-Za-z0-9_]*)\\}|([A-Za-z_][A-Za-z0-9_]*))"));
    QString result;
    qsizetype done = 0;
    for (QRegularExpressionMatchIterator it = reference.globalMatch(AText); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString name = match.hasCaptured(1) ? match.captured(1) : match.captured(2);
        result += AText.mid(done, match.capturedStart() - done);
        result += qEnvironmentVariableIsSet(name.toLocal8Bit().constData()) ? qEnvironmentVariable(name.toLocal8Bit().constData())
                                                                               : match.captured();
        done = match.capturedEnd();
    }
    return result + AText.mid(done);
}
