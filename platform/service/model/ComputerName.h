#pragma once
// Names of computers as the service's callers spell them.

#include <QString>

/// Tells this computer from others, however its name is written.
namespace ComputerName {

/// `name` without surrounding blanks and without the "\\" that 1.0 callers put in front.
QString Bare(const QString& name);
/// Whether `name` names this computer: empty, ".", this machine's host name (in any letter
/// case), "localhost", or a loopback address; with or without the leading "\\".
bool IsLocal(const QString& name);

} // namespace ComputerName
