#pragma once
// The platform's date forms: DATE (local day count since 1899-12-30, 0 meaning "never")
// and SYSTEMTIME, to and from QDateTime.

#include "ComBase.h"

#include <QDateTime>

class OleDate {
public:
    /// The DATE of a local or zoned time; 0 for an invalid one.
    static DATE FromDateTime(const QDateTime& dt);
    /// The local time of a DATE; invalid for 0.
    static QDateTime ToDateTime(DATE date);
    /// A SYSTEMTIME in local time.
    static SYSTEMTIME ToSystemTime(const QDateTime& dt);
    /// The local time of a SYSTEMTIME; invalid when its fields form no date and time.
    static QDateTime FromSystemTime(const SYSTEMTIME& st);
};
