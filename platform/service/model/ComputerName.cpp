#include "ComputerName.h"

#include <QSysInfo>

namespace ComputerName {

QString Bare(const QString& name)
{
    QString bare = name.trimmed();
    if (bare.startsWith(QLatin1String("\\\\"))) bare.remove(0, 2);
    return bare;
}

bool IsLocal(const QString& name)
{
    const QString bare = Bare(name);
    return bare.isEmpty() || bare == QLatin1String(".") || bare.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0
           || bare.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || bare == QLatin1String("127.0.0.1")
           || bare == QLatin1String("::1");
}

} // namespace ComputerName
