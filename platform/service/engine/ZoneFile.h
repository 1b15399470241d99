#pragma once
// A compiled time-zone file (TZif, RFC 8536) of the system's zone database, read directly:
// its list of changes and the rule that continues them, both needed at once, which the
// time-zone classes only give one year at a time.

#include "PosixZoneRule.h"

#include <QByteArray>
#include <optional>
#include <vector>

/// The changes of offset of one zone as its file lists them, and the rule for later years.
struct ZoneFile {
    /// The offset before the first listed change, seconds east of UTC.
    int initialOffset = 0;
    /// The listed changes, ascending; changes of name only are left out.
    std::vector<PosixZoneRule::Change> changes;
    /// The rule after the last listed change; none when the file has no rule.
    std::optional<PosixZoneRule> rule;

    /// The file of zone `id` ("Europe/Berlin") in the zone database ($TZDIR, or
    /// /usr/share/zoneinfo), or nothing when there is none or it cannot be read.
    static std::optional<ZoneFile> Load(const QByteArray& id);
    /// The contents `bytes` of a zone file, or nothing when they are not one.
    static std::optional<ZoneFile> Parse(const QByteArray& bytes);
};
