#include "Gen2TaskFolder.h"

#include "Gen2Protocol.h"
#include "Gen2RegisteredTask.h"
#include "DaemonProtocol.h"
#include "ListingWire.h"
#include "TaskPath.h"
#include "gen2/PackedDocument.h"

#include <QCborArray>

using namespace Gen2;

QCborMap Gen2TaskFolder::Request(const QString& op, const QString& path) const
{
    return QCborMap{{DaemonProtocol::Key::Op, op}, {Gen2Protocol::Key::Folder, m_path}, {Gen2Protocol::Key::Path, path}};
}

HRESULT Gen2TaskFolder::get_Name(QString* pName)
{
    const auto path = TaskPath::Parse(m_path);
    return Out(pName, path ? path->Name() : m_path);
}

HRESULT Gen2TaskFolder::get_Path(QString* pPath) { return Out(pPath, m_path); }

HRESULT Gen2TaskFolder::GetFolder(const QString& path, ITaskFolder** ppFolder)
{
    if (!ppFolder) return E_POINTER;
    *ppFolder = nullptr;
    QCborMap reply;
    const HRESULT hr = m_session->Call(Request(Gen2Protocol::kFolderGet, path), &reply);
    if (FAILED(hr)) return hr;
    return OutObject(ppFolder, Gen2TaskFolder::Make(m_session, reply.value(Gen2Protocol::Key::Path).toString()));
}

HRESULT Gen2TaskFolder::GetFolders(LONG flags, ITaskFolderCollection** ppFolders)
{
    if (!ppFolders) return E_POINTER;
    *ppFolders = nullptr;
    if (flags != 0) return Fail(E_INVALIDARG, QStringLiteral("GetFolders takes no flags."));
    QCborMap reply;
    const HRESULT hr = m_session->Call(Request(Gen2Protocol::kFolderList, QString()), &reply);
    if (FAILED(hr)) return hr;
    QStringList names;
    for (const QCborValue& name : reply.value(Gen2Protocol::Key::Names).toArray()) names.append(name.toString());
    return OutObject(ppFolders, Gen2TaskFolderCollection::Make(m_session, m_path, names));
}

HRESULT Gen2TaskFolder::CreateFolder(const QString& subFolderName, VARIANT sddl, ITaskFolder** ppFolder)
{
    if (ppFolder) *ppFolder = nullptr;
    QCborMap request = Request(Gen2Protocol::kFolderCreate, subFolderName);
    request.insert(Gen2Protocol::Key::Sddl, Gen2Protocol::FromVariant(sddl));
    QCborMap reply;
    const HRESULT hr = m_session->Call(request, &reply);
    if (FAILED(hr) || !ppFolder) return hr;
    return OutObject(ppFolder, Gen2TaskFolder::Make(m_session, reply.value(Gen2Protocol::Key::Path).toString()));
}

HRESULT Gen2TaskFolder::DeleteFolder(const QString& subFolderName, LONG flags)
{
    if (flags != 0) return Fail(E_INVALIDARG, QStringLiteral("DeleteFolder takes no flags."));
    return m_session->Call(Request(Gen2Protocol::kFolderDelete, subFolderName));
}

HRESULT Gen2TaskFolder::GetTask(const QString& path, IRegisteredTask** ppTask)
{
    if (!ppTask) return E_POINTER;
    *ppTask = nullptr;
    QCborMap reply;
    const HRESULT hr = m_session->Call(Request(Gen2Protocol::kTaskGet, path), &reply);
    if (FAILED(hr)) return hr;
    return OutObject(ppTask, Gen2RegisteredTask::FromRecord(m_session, reply.value(Gen2Protocol::Key::Task).toMap()));
}

HRESULT Gen2TaskFolder::GetTasks(LONG flags, IRegisteredTaskCollection** ppTasks)
{
    if (!ppTasks) return E_POINTER;
    *ppTasks = nullptr;
    if ((flags & ~LONG(TASK_ENUM_HIDDEN)) != 0) return Fail(E_INVALIDARG, QStringLiteral("GetTasks takes only TASK_ENUM_HIDDEN."));
    const bool hidden = (flags & TASK_ENUM_HIDDEN) != 0;
    QCborMap request = Request(Gen2Protocol::kTaskList, QString());
    request.insert(Gen2Protocol::Key::Hidden, hidden);
    request.insert(Gen2Protocol::Key::Packed, true);
    // The texts as the service's cache holds them when its packed form is this one's.
    request.insert(Gen2Protocol::Key::PackedTexts, qint64(PackedDocument::FormatId()));
    QCborMap reply;
    const HRESULT hr = m_session->Call(request, &reply);
    if (FAILED(hr)) return hr;
    QList<Gen2RegisteredTaskCollection::Record> records;
    if (ListingWire::IsPacked(reply)) {
        const auto listing = ListingWire::Read(reply);
        const auto unreadable = [] { return Fail(E_UNEXPECTED, QStringLiteral("The service sent a listing that cannot be read.")); };
        if (!listing) return unreadable();
        records.reserve(listing->entries.size());
        if (listing->textForm) {
            // A form other than the one asked for cannot be unpacked here.
            if (*listing->textForm != qint64(PackedDocument::FormatId())) return unreadable();
            // The tasks keep pieces of the listing's bytes, which are held once.
            for (qsizetype i = 0; i < listing->entries.size(); ++i) {
                const ListingWire::Entry& e = listing->entries[i];
                auto text = StoredText::OfListing(listing->bytes, e.xmlAt, e.xmlSize);
                if (!text) return unreadable();
                records.append({listing->Path(i), std::move(*text)});
            }
        } else {
            for (qsizetype i = 0; i < listing->entries.size(); ++i) records.append({listing->Path(i), listing->Xml(i)});
        }
    } else {
        // A service that packs nothing sends a map for each task.
        records = Gen2RegisteredTaskCollection::RecordsOf(reply.value(Gen2Protocol::Key::Tasks).toArray());
    }
    // The statuses are asked for when the first of them is read: a listing for the
    // definitions alone costs the service nothing more.
    auto listing = std::make_shared<Gen2StatusBatch>(m_session, m_path, hidden);
    return OutObject(ppTasks, Gen2RegisteredTaskCollection::Make(m_session, std::move(records), std::move(listing)));
}

HRESULT Gen2TaskFolder::DeleteTask(const QString& name, LONG flags)
{
    if (flags != 0) return Fail(E_INVALIDARG, QStringLiteral("DeleteTask takes no flags."));
    return m_session->Call(Request(Gen2Protocol::kTaskDelete, name));
}

HRESULT Gen2TaskFolder::RegisterTask(const QString& path, const QString& xmlText, LONG flags, VARIANT userId, VARIANT password,
                                     TASK_LOGON_TYPE logonType, VARIANT sddl, IRegisteredTask** ppTask)
{
    if (ppTask) *ppTask = nullptr;
    QCborMap request = Request(Gen2Protocol::kTaskRegister, path);
    request.insert(Gen2Protocol::Key::Xml, xmlText.toUtf8());
    request.insert(Gen2Protocol::Key::Flags, flags);
    request.insert(Gen2Protocol::Key::UserId, Gen2Protocol::FromVariant(userId));
    request.insert(Gen2Protocol::Key::Password, Gen2Protocol::FromVariant(password));
    request.insert(Gen2Protocol::Key::LogonType, qint64(logonType));
    request.insert(Gen2Protocol::Key::Sddl, Gen2Protocol::FromVariant(sddl));
    QCborMap reply;
    const HRESULT hr = m_session->Call(request, &reply);
    if (FAILED(hr) || !ppTask || !reply.contains(Gen2Protocol::Key::Task)) return hr;
    return OutObject(ppTask, Gen2RegisteredTask::FromRecord(m_session, reply.value(Gen2Protocol::Key::Task).toMap()));
}

HRESULT Gen2TaskFolder::RegisterTaskDefinition(const QString& path, ITaskDefinition* pDefinition, LONG flags, VARIANT userId,
                                               VARIANT password, TASK_LOGON_TYPE logonType, VARIANT sddl,
                                               IRegisteredTask** ppTask)
{
    if (ppTask) *ppTask = nullptr;
    if (!pDefinition) return E_POINTER;
    QString xml;
    const HRESULT hr = pDefinition->get_XmlText(&xml);
    if (FAILED(hr)) return hr;
    return RegisterTask(path, xml, flags, std::move(userId), std::move(password), logonType, std::move(sddl), ppTask);
}

ComPtr<Gen2TaskFolder> Gen2TaskFolderCollection::Folder(const QString& name) const
{
    const QString path = m_parent == QLatin1String("\\") ? m_parent + name : m_parent + QLatin1Char('\\') + name;
    return Gen2TaskFolder::Make(m_session, path);
}

HRESULT Gen2TaskFolderCollection::get_Count(LONG* pCount) { return OutValue(pCount, m_names.size()); }

HRESULT Gen2TaskFolderCollection::get_Item(VARIANT index, ITaskFolder** ppFolder)
{
    if (!ppFolder) return E_POINTER;
    *ppFolder = nullptr;
    if (index.vt == VT_BSTR) {
        if (!m_names.contains(index.bstrVal)) return Fail(E_INVALIDARG, QStringLiteral("The collection holds no folder \"%1\".").arg(index.bstrVal));
        return OutObject(ppFolder, Folder(index.bstrVal));
    }
    if (index.vt != VT_I4) return Fail(E_INVALIDARG, QStringLiteral("A folder is fetched by its 1-based position or its name."));
    if (index.lVal < 1 || index.lVal > m_names.size())
        return Fail(E_INVALIDARG, QStringLiteral("There is no folder %1; the collection holds %2.").arg(index.lVal).arg(m_names.size()));
    return OutObject(ppFolder, Folder(m_names[index.lVal - 1]));
}
