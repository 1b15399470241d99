#pragma once
// Folders of the service's tree as the client sees them; every operation asks the service.

#include "Gen2Session.h"
#include "TaskService2.h"

#include <QStringList>
#include <memory>

class Gen2TaskFolder : public ComObject<Gen2TaskFolder, ITaskFolder> {
public:
    /// The folder at `path` (the service's canonical form, "\" or "\A\B").
    Gen2TaskFolder(std::shared_ptr<Gen2Session> session, QString path) : m_session(std::move(session)), m_path(std::move(path)) {}

    HRESULT get_Name(QString* pName) override;
    HRESULT get_Path(QString* pPath) override;
    HRESULT GetFolder(const QString& path, ITaskFolder** ppFolder) override;
    HRESULT GetFolders(LONG flags, ITaskFolderCollection** ppFolders) override;
    HRESULT CreateFolder(const QString& subFolderName, VARIANT sddl, ITaskFolder** ppFolder) override;
    HRESULT DeleteFolder(const QString& subFolderName, LONG flags) override;
    HRESULT GetTask(const QString& path, IRegisteredTask** ppTask) override;
    HRESULT GetTasks(LONG flags, IRegisteredTaskCollection** ppTasks) override;
    HRESULT DeleteTask(const QString& name, LONG flags) override;
    HRESULT RegisterTask(const QString& path, const QString& xmlText, LONG flags, VARIANT userId, VARIANT password,
                         TASK_LOGON_TYPE logonType, VARIANT sddl, IRegisteredTask** ppTask) override;
    HRESULT RegisterTaskDefinition(const QString& path, ITaskDefinition* pDefinition, LONG flags, VARIANT userId,
                                   VARIANT password, TASK_LOGON_TYPE logonType, VARIANT sddl,
                                   IRegisteredTask** ppTask) override;

private:
    QCborMap Request(const QString& op, const QString& path) const;

    std::shared_ptr<Gen2Session> m_session;
    QString m_path;
};

class Gen2TaskFolderCollection : public ComObject<Gen2TaskFolderCollection, ITaskFolderCollection> {
public:
    /// The sub-folders `names` of the folder `parent`.
    Gen2TaskFolderCollection(std::shared_ptr<Gen2Session> session, QString parent, QStringList names)
        : m_session(std::move(session)), m_parent(std::move(parent)), m_names(std::move(names)) {}

    HRESULT get_Count(LONG* pCount) override;
    HRESULT get_Item(VARIANT index, ITaskFolder** ppFolder) override;

private:
    ComPtr<Gen2TaskFolder> Folder(const QString& name) const;
    std::shared_ptr<Gen2Session> m_session;
    QString m_parent;
    QStringList m_names;
};
