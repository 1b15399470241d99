#pragma once
// The requests of the generation 2.0 interfaces as they cross to the service: operation
// names and the shapes of loosely typed arguments. The client and the service both use
// these, so a request the one sends is a request the other understands.

#include "ComBase.h"

#include <QCborMap>
#include <QCborValue>
#include <QString>

namespace Gen2Protocol {

inline const QString kConnect = QStringLiteral("v2.connect");
inline const QString kFolderGet = QStringLiteral("v2.folder.get");
inline const QString kFolderList = QStringLiteral("v2.folder.list");
inline const QString kFolderCreate = QStringLiteral("v2.folder.create");
inline const QString kFolderDelete = QStringLiteral("v2.folder.delete");
inline const QString kTaskList = QStringLiteral("v2.task.list");
inline const QString kTaskGet = QStringLiteral("v2.task.get");
inline const QString kTaskDelete = QStringLiteral("v2.task.delete");
inline const QString kTaskRegister = QStringLiteral("v2.task.register");
inline const QString kTaskStatus = QStringLiteral("v2.task.status");
inline const QString kTaskSetEnabled = QStringLiteral("v2.task.setEnabled");
inline const QString kTaskRunTimes = QStringLiteral("v2.task.runTimes");
inline const QString kTaskRun = QStringLiteral("v2.task.run");
inline const QString kTaskStop = QStringLiteral("v2.task.stop");
inline const QString kTaskInstances = QStringLiteral("v2.task.instances");
inline const QString kRunningList = QStringLiteral("v2.running.list");
inline const QString kInstanceRefresh = QStringLiteral("v2.instance.refresh");
inline const QString kInstanceStop = QStringLiteral("v2.instance.stop");

/// Keys of the 2.0 requests and answers that both ends spell.
namespace Key {
inline const QString Count = QStringLiteral("count");
inline const QString Domain = QStringLiteral("domain");
inline const QString Enabled = QStringLiteral("enabled");
inline const QString End = QStringLiteral("end");
inline const QString Flags = QStringLiteral("flags");
inline const QString Folder = QStringLiteral("folder");
inline const QString Damaged = QStringLiteral("damaged");
inline const QString Hidden = QStringLiteral("hidden");
inline const QString LastRunTime = QStringLiteral("lastRunTime");
inline const QString LastTaskResult = QStringLiteral("lastTaskResult");
inline const QString LogonType = QStringLiteral("logonType");
inline const QString MissedRuns = QStringLiteral("missedRuns");
inline const QString Names = QStringLiteral("names");
inline const QString NextRunTime = QStringLiteral("nextRunTime");
/// A listing asked for packed (ListingWire) sends Listing, Statuses and Count instead of Tasks.
inline const QString Packed = QStringLiteral("packed");
inline const QString Listing = QStringLiteral("listing");
/// A packed listing asked with the number of a packed text form (a request) holds its
/// documents in that form (the reply, when it does): a kind byte (ListingWire::TextKind), then
/// the bytes.
inline const QString PackedTexts = QStringLiteral("packedTexts");
inline const QString Params = QStringLiteral("params");
inline const QString Password = QStringLiteral("password");
inline const QString Path = QStringLiteral("path");
/// A registration's answer: whether it replaced a task that was there.
inline const QString Replaced = QStringLiteral("replaced");
inline const QString Runs = QStringLiteral("runs");
inline const QString RunDeltas = QStringLiteral("runDeltas");
inline const QString Sddl = QStringLiteral("sddl");
inline const QString Server = QStringLiteral("server");
inline const QString Start = QStringLiteral("start");
inline const QString State = QStringLiteral("state");
inline const QString StateError = QStringLiteral("stateError");
inline const QString Status = QStringLiteral("status");
inline const QString Statuses = QStringLiteral("statuses");
inline const QString Task = QStringLiteral("task");
inline const QString Tasks = QStringLiteral("tasks");
inline const QString Times = QStringLiteral("times");
inline const QString User = QStringLiteral("user");
inline const QString UserId = QStringLiteral("userId");
inline const QString Version = QStringLiteral("version");
inline const QString Wall = QStringLiteral("wall");
inline const QString Xml = QStringLiteral("xml");
inline const QString Zone = QStringLiteral("zone");
} // namespace Key

/// A VARIANT argument as a map: "vt" and, by type, "i", "b" or "s".
inline QCborMap FromVariant(const VARIANT& v)
{
    QCborMap m{{QStringLiteral("vt"), int(v.vt)}};
    if (v.vt == VT_I4) m.insert(QStringLiteral("i"), v.lVal);
    if (v.vt == VT_BOOL) m.insert(QStringLiteral("b"), v.boolVal != 0);
    if (v.vt == VT_BSTR) m.insert(QStringLiteral("s"), v.bstrVal);
    return m;
}

inline VARIANT ToVariant(const QCborValue& value)
{
    const QCborMap m = value.toMap();
    switch (m.value(QStringLiteral("vt")).toInteger()) {
    case VT_NULL: return VARIANT::Null();
    case VT_I4: return VARIANT::I4(LONG(m.value(QStringLiteral("i")).toInteger()));
    case VT_BOOL: return VARIANT::Bool(m.value(QStringLiteral("b")).toBool());
    case VT_BSTR: return VARIANT::String(m.value(QStringLiteral("s")).toString());
    default: return VARIANT::Empty();
    }
}

} // namespace Gen2Protocol
