#pragma once
// The tool's connection to the service: one scheduler in the generation asked for, and the
// translation of the paths users type into folders and tasks.

#include "ComBase.h"

#include <QString>
#include <memory>

class TTaskScheduler;
class TTaskItem;
class ITaskFolder;

/// A task as the user named it: its folder (2.0; "\" for the root) and its name.
struct CtlTaskPath {
    QString folder;
    QString name;
    /// The full 2.0 path ("\Reports\Daily"), or the 1.0 name.
    QString path;
};

class CtlSession {
public:
    /// Opens the service of `computer` (empty: this one) in 1.0 when `v1`, else in the
    /// generation the platform offers. Library failures propagate.
    CtlSession(bool v1, const QString& computer);
    ~CtlSession();

    TTaskScheduler& Scheduler() { return *m_scheduler; }
    /// Whether the 2.0 generation is in force.
    bool IsGen2() const;

    /// Reads a task path as typed: "\Reports\Daily", "Reports/Daily" or "Daily"; in 1.0 a
    /// bare name (folders are refused). Raises ctlUsage for an empty or malformed path.
    CtlTaskPath ParseTaskPath(const QString& text) const;
    /// Reads a folder path as typed; "\" or "/" is the root.
    QString ParseFolderPath(const QString& text) const;

    /// The named task, loaded; raises ctlNotFound when it or its folder does not exist.
    TTaskItem* Task(const CtlTaskPath& path);
    /// The 2.0 folder at `path`; raises ctlNotFound when it does not exist.
    ComPtr<ITaskFolder> Folder(const QString& path);
    /// Makes `path` the folder the scheduler lists, looks up and creates tasks in.
    void SelectFolder(const QString& path);
    /// Raises ctlUsage when the 1.0 generation is in force: `what` needs 2.0.
    void RequireGen2(const QString& what) const;

private:
    std::unique_ptr<TTaskScheduler> m_scheduler;
};
