#pragma once
// One generation 1.0 work item as clients edit it, and the run facts the service keeps
// beside it. Both cross the transport as CBOR maps and are stored in the ".job" file.

#include "tvMSTask.h"

#include <QByteArray>
#include <QCborArray>
#include <QCborMap>
#include <QList>
#include <QString>

/// What a client sets on a task: program, texts, account, flags, limits, data, triggers.
struct JobDefinition {
    QString applicationName;
    QString parameters;
    QString workingDirectory;
    QString comment;
    QString creator;
    /// False until SetAccountInformation: the account then reads as "not set".
    bool accountSet = false;
    QString accountName;
    /// Whether the account came with a password (the task may then run while its user is
    /// logged off). The password itself is never kept.
    bool passwordGiven = false;
    DWORD flags = 0;
    DWORD taskFlags = 0;
    DWORD priority = NORMAL_PRIORITY_CLASS;
    DWORD maxRunTimeMs = 72u * 60u * 60u * 1000u;
    WORD idleMinutes = 10;
    WORD deadlineMinutes = 60;
    QByteArray workItemData;
    QList<TASK_TRIGGER> triggers;

    /// The map that crosses the transport.
    QCborMap ToCbor() const;
    /// Reads a map made by ToCbor. Anything malformed (a wrong type, data longer than
    /// 65535 bytes, a trigger that is not well formed) gives false and a reason.
    static bool FromCbor(const QCborMap& map, JobDefinition* out, QString* error);

    friend bool operator==(const JobDefinition& a, const JobDefinition& b);
};

/// The facts of a task's runs, written by the service (the daemon), never by clients.
struct JobRuntime {
    /// Start of the most recent run; all zero when the task never ran.
    SYSTEMTIME mostRecentRun{};
    DWORD exitCode = 0;
    bool running = false;
    /// The most recent run was stopped by a user.
    bool terminated = false;

    bool HasRun() const { return mostRecentRun.wYear != 0; }
    friend bool operator==(const JobRuntime&, const JobRuntime&) = default;
};

/// The 48-byte little-endian form of a trigger record, as kept in files and requests.
QByteArray TriggerToBytes(const TASK_TRIGGER& trigger);
/// Reads a record from exactly 48 bytes; false for any other length.
bool TriggerFromBytes(const QByteArray& bytes, TASK_TRIGGER* out);
/// Whole-record comparison, reserved and unused fields included.
bool SameTrigger(const TASK_TRIGGER& a, const TASK_TRIGGER& b);

/// Whether a record can describe a 1.0 trigger: size 48, a known kind, a time of day, a
/// begin date that is either unset (all zero) or a real day, an end date in force that is a
/// real day not before the begin date, a repetition interval shorter than its duration, and
/// kind-specific fields within their masks. False with the reason otherwise.
bool TriggerIsWellFormed(const TASK_TRIGGER& trigger, QString* why = nullptr);

/// SYSTEMTIME as the array of its eight fields that crosses the transport.
QCborArray SystemTimeToCbor(const SYSTEMTIME& st);
/// Reads an array made by SystemTimeToCbor; false for anything else.
bool SystemTimeFromCbor(const QCborArray& array, SYSTEMTIME* out);
