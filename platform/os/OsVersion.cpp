#include "OsVersion.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace {
std::optional<OsVersion>& OverrideSlot()
{
    static std::optional<OsVersion> slot;
    return slot;
}

std::optional<int> ParseComponent(QStringView text)
{
    if (text.isEmpty() || text.size() > 4) return std::nullopt;
    int value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}
} // namespace

std::optional<OsVersion> OsVersion::Parse(QStringView text)
{
    text = text.trimmed();
    const qsizetype dot = text.indexOf(u'.');
    const auto major = ParseComponent(dot < 0 ? text : text.left(dot));
    const auto minor = dot < 0 ? std::optional<int>(0) : ParseComponent(text.mid(dot + 1));
    if (!major || !minor) return std::nullopt;
    return OsVersion(*major, *minor);
}

OsVersion OsVersion::Current()
{
    if (OverrideSlot()) return *OverrideSlot();
    // Read afresh on every call so that a test can change the variable while running.
    const QString fromEnvironment = qEnvironmentVariable("TASKSCHEDULER_OS_VERSION");
    if (fromEnvironment.isEmpty()) return Native();
    if (const auto parsed = Parse(fromEnvironment)) return *parsed;
    qWarning("TASKSCHEDULER_OS_VERSION=\"%s\" is not a version such as \"5.1\"; it is ignored.",
             qUtf8Printable(fromEnvironment));
    return Native();
}

void OsVersion::SetOverride(std::optional<OsVersion> version) { OverrideSlot() = version; }

std::optional<OsVersion> OsVersion::Override() { return OverrideSlot(); }
