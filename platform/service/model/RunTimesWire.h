#pragma once
// Run times on the wire in one byte string rather than an array of numbers: a list of
// thousands of runs then costs a few bytes a run, not an encoded and decoded value per run.

#include "ComBase.h"
#include "RunTime.h"

#include <QByteArray>
#include <QList>
#include <optional>

class RunTimesWire {
public:
    /// One clock per run: the service's wall clock (seconds since 1970-01-01T00:00) when
    /// `wall`, which a caller in the service's own zone shows as it is, else the moment
    /// (seconds since 1970-01-01T00:00Z). Each is written as its difference from the one
    /// before (the first from 0), zigzag-folded into an unsigned LEB128 number: runs are
    /// ascending and mostly close together, so most take one or two bytes, and a wall clock
    /// that goes back at the end of summer time folds into a small number too.
    static QByteArray Pack(const QList<RunTime>& runs, bool wall);
    /// The runs of `bytes` as SYSTEMTIMEs in this process's local time: wall clocks as they
    /// are when `wall`, moments through this process's zone otherwise. Nothing when `bytes`
    /// ends inside a number, a number is too long, or a run falls outside the years a
    /// SYSTEMTIME holds.
    static std::optional<QList<SYSTEMTIME>> Unpack(const QByteArray& bytes, bool wall);
    /// The moment `msecs` (milliseconds since 1970-01-01T00:00Z) as a DATE in this process's
    /// local time, as OleDate gives it, through the engine's zone tables: a list of thousands
    /// of tasks reads as many next runs, and the local-time classes look at the system's
    /// zone file again on every conversion.
    static DATE LocalDate(qint64 msecs);
};
