#pragma once
// The requests of the generation 1.0 interfaces as they cross to the service: operation names
// and the keys of their arguments and answers. The client and the service both use these, so a
// request the one sends is a request the other understands. Every request carries its operation
// under DaemonProtocol::Key::Op; every answer its result under "hr".

#include <QString>

namespace Gen1Protocol {

/// The computer's name and the store's directory.
inline const QString kInfo = QStringLiteral("v1.info");
/// The work-item names.
inline const QString kList = QStringLiteral("v1.list");
/// {name}: whether the name is taken, and the name as stored.
inline const QString kExists = QStringLiteral("v1.exists");
/// {name}: the definition and the name as stored.
inline const QString kLoad = QStringLiteral("v1.load");
/// {name, job, create, password}: writes the definition; answers the name as stored.
inline const QString kSave = QStringLiteral("v1.save");
/// {name}: removes the work item.
inline const QString kDelete = QStringLiteral("v1.delete");
/// {name, job}: status, whether and when it last ran, its last exit code.
inline const QString kState = QStringLiteral("v1.state");
/// {job, count, begin, end}: run times in a period.
inline const QString kRunTimes = QStringLiteral("v1.runtimes");
/// {name}: starts the work item now (the daemon only).
inline const QString kRun = QStringLiteral("v1.run");
/// {name}: stops its running instance (the daemon only).
inline const QString kTerminate = QStringLiteral("v1.terminate");

/// Keys of the 1.0 requests and answers.
namespace Key {
/// A work item's file name, as the client spells it or as stored ("Backup.job").
inline const QString Name = QStringLiteral("name");
/// A work item's definition (JobDefinition::ToCbor).
inline const QString Job = QStringLiteral("job");
/// Whether a save must create a new work item rather than replace one.
inline const QString Create = QStringLiteral("create");
/// The password of the account the work item runs as, when a save sets it.
inline const QString Password = QStringLiteral("password");
/// The work-item names of a listing.
inline const QString Names = QStringLiteral("names");
/// Whether the name is taken.
inline const QString Exists = QStringLiteral("exists");
/// How many run times are asked for.
inline const QString Count = QStringLiteral("count");
/// The start of a run-time period (SYSTEMTIME array).
inline const QString Begin = QStringLiteral("begin");
/// The end of a run-time period (SYSTEMTIME array).
inline const QString End = QStringLiteral("end");
/// The run times found (SYSTEMTIME arrays).
inline const QString Times = QStringLiteral("times");
/// The work item's status code.
inline const QString Status = QStringLiteral("status");
/// Whether the work item ever ran.
inline const QString HasRun = QStringLiteral("hasRun");
/// When it last ran (SYSTEMTIME array).
inline const QString LastRun = QStringLiteral("lastRun");
/// The exit code of its last run.
inline const QString ExitCode = QStringLiteral("exitCode");
/// The name of the computer the service runs on.
inline const QString Computer = QStringLiteral("computer");
/// The directory of the ".job" files.
inline const QString JobsDir = QStringLiteral("jobsDir");
} // namespace Key

} // namespace Gen1Protocol
