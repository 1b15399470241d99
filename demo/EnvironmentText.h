#pragma once
// Environment variables inside texts such as a task's program path.

#include <QString>

/// `AText` with every $NAME and ${NAME} replaced by the value of that environment variable.
/// References to variables that are not set, and a "$" that starts no name, stay as written.
QString ExpandEnvironmentText(const QString& AText);
