#pragma once
// Run times on the wire in one byte string rather than an array of numbers: a list of
// thousands of runs then costs a copy, not an encoded and decoded value per run.

#include "ComBase.h"
#include "RunTime.h"

#include <QByteArray>
#include <QList>
#include <optional>

class RunTimesWire {
public:
    /// Each run as two little-endian 64-bit numbers: its moment (seconds since
    /// 1970-01-01T00:00Z) and the service's wall clock then (seconds since 1970-01-01T00:00).
    static QByteArray Pack(const QList<RunTime>& runs);
    /// The runs of `bytes` as SYSTEMTIMEs in local time: from the wall clocks when
    /// `wallIsLocal` (the service's zone is the caller's), else from the moments. Nothing
    /// when `bytes` is not a whole number of runs.
    static std::optional<QList<SYSTEMTIME>> Unpack(const QByteArray& bytes, bool wallIsLocal);
};
