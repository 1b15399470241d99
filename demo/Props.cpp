#include "Props.h"

#include "Exceptions.h"
#include "kvUtils.h"

bool ShowTaskProperties(TTaskItem*)
{
    throw Exception(QStringLiteral("The classic properties dialog is not available yet."));
}

QString GetTimeString(const QString& Text)
{
    if (Text.isEmpty()) return QString();
    if (!Text.at(0).isDigit()) return QStringLiteral("PT0S");
    const qsizetype blank = Text.indexOf(QLatin1Char(' '));
    if (blank < 0) return Text;
    const QString number = Text.left(blank);
    const QChar unit = blank + 1 < Text.size() ? Text.at(blank + 1) : QChar();
    if (unit == QLatin1Char('d')) return QStringLiteral("P%1D").arg(number);
    if (unit == QLatin1Char('h')) return QStringLiteral("PT%1H").arg(number);
    return QStringLiteral("PT%1M").arg(number);
}

int GetTimeIndex(const QStringList& Items, const QString& Value, bool IncludesZero)
{
    if (IncludesZero && Value.compare(QLatin1String("PT0S"), Qt::CaseInsensitive) == 0) return 0;
    if (Value.isEmpty()) return -1;
    const qint32 days = DurationToMinutes(Value) / 1440;
    if (days >= 1) {
        QString text = QStringLiteral("%1 day").arg(days);
        if (days > 1) text += QLatin1Char('s');
        return static_cast<int>(Items.indexOf(text));
    }
    for (qsizetype i = 0; i < Items.size(); ++i) {
        if (GetTimeString(Items.at(i)).compare(Value, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
    }
    return -1;
}
