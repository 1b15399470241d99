#include "Registry.h"

#include "Exceptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <functional>

// The store is one JSON document per root. A key is {"name", "keys": [keys], "values":
// [values]} and a value {"name", "type": "REG_SZ" | "REG_DWORD", "data"}; arrays keep the
// order of creation, which is the order the platform's enumerations report.

namespace {

const QString kKeys = QStringLiteral("keys");
const QString kValues = QStringLiteral("values");
const QString kName = QStringLiteral("name");
const QString kType = QStringLiteral("type");
const QString kData = QStringLiteral("data");
const QString kString = QStringLiteral("REG_SZ");
const QString kInteger = QStringLiteral("REG_DWORD");

bool SameName(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

/// The index of the entry called `name` in `entries`, or -1.
qsizetype IndexOfName(const QJsonArray& entries, const QString& name)
{
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (SameName(entries.at(i).toObject().value(kName).toString(), name)) return i;
    }
    return -1;
}

QStringList NamesOf(const QJsonArray& entries)
{
    QStringList names;
    for (const QJsonValue& entry : entries) names << entry.toObject().value(kName).toString();
    return names;
}

using KeyEdit = std::function<bool(QJsonObject& key)>;

/// Applies `edit` to the key at parts[depth...] below `key`, creating missing keys when
/// `create`; false when a key is missing (and not created) or `edit` declines.
bool EditKeyAt(QJsonObject& key, const QStringList& parts, qsizetype depth, bool create, const KeyEdit& edit)
{
    if (depth == parts.size()) return edit(key);
    QJsonArray children = key.value(kKeys).toArray();
    qsizetype index = IndexOfName(children, parts.at(depth));
    QJsonObject child;
    if (index >= 0) {
        child = children.at(index).toObject();
    } else {
        if (!create) return false;
        child.insert(kName, parts.at(depth));
    }
    if (!EditKeyAt(child, parts, depth + 1, create, edit)) return false;
    if (index >= 0)
        children.replace(index, child);
    else
        children.append(child);
    key.insert(kKeys, children);
    return true;
}

/// Removes the key at `parts` (at least one component) below `key`; false when there is none.
bool RemoveKeyAt(QJsonObject& key, const QStringList& parts)
{
    const QStringList parentParts = parts.first(parts.size() - 1);
    return EditKeyAt(key, parentParts, 0, false, [&](QJsonObject& parent) {
        QJsonArray children = parent.value(kKeys).toArray();
        const qsizetype index = IndexOfName(children, parts.last());
        if (index < 0) return false;
        children.removeAt(index);
        parent.insert(kKeys, children);
        return true;
    });
}

bool StartsWithin(const QStringList& path, const QStringList& prefix)
{
    if (path.size() < prefix.size()) return false;
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        if (!SameName(path.at(i), prefix.at(i))) return false;
    }
    return true;
}

} // namespace

Registry::Registry(HKEY root) : m_root(root) {}

void Registry::SetRootKey(HKEY root)
{
    m_root = root;
    CloseKey();
}

QString Registry::StoreFilePath(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE) {
        QString dir = qEnvironmentVariable("TASKSCHEDULER_MACHINE_CONFIG");
        if (dir.isEmpty()) dir = QStringLiteral("/etc/taskscheduler");
        return QDir(dir).filePath(QStringLiteral("HKEY_LOCAL_MACHINE.json"));
    }
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).filePath(QStringLiteral("taskscheduler/HKEY_CURRENT_USER.json"));
}

bool Registry::SplitPath(const QString& key, QStringList& parts)
{
    QString path = key;
    if (path.startsWith(QLatin1Char('\\'))) path.remove(0, 1);
    if (path.endsWith(QLatin1Char('\\'))) path.chop(1);
    parts.clear();
    if (path.isEmpty()) return true;
    parts = path.split(QLatin1Char('\\'));
    for (const QString& part : std::as_const(parts)) {
        if (part.isEmpty()) return false;
    }
    return true;
}

bool Registry::LoadTree(QJsonObject& tree) const
{
    tree = {};
    QFile file(StoreFilePath(m_root));
    if (!file.exists()) return true;
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("Registry: cannot read %s: %s", qPrintable(file.fileName()), qPrintable(file.errorString()));
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qWarning("Registry: %s is damaged and is left as it is: %s", qPrintable(file.fileName()),
                 qPrintable(error.errorString()));
        return false;
    }
    tree = document.object();
    return true;
}

bool Registry::FindKey(const QStringList& parts, QJsonObject& found) const
{
    found = {};
    QJsonObject tree;
    if (!LoadTree(tree)) return false;
    QJsonObject key = tree;
    for (const QString& part : parts) {
        const QJsonArray children = key.value(kKeys).toArray();
        const qsizetype index = IndexOfName(children, part);
        if (index < 0) return false;
        key = children.at(index).toObject();
    }
    found = key;
    return true;
}

bool Registry::FindValue(const QString& name, QJsonObject& value) const
{
    QJsonObject key;
    if (!FindKey(m_path, key)) return false;
    const QJsonArray values = key.value(kValues).toArray();
    const qsizetype index = IndexOfName(values, name);
    if (index < 0) return false;
    value = values.at(index).toObject();
    return true;
}

template <typename Edit>
bool Registry::Modify(Edit edit)
{
    const QString path = StoreFilePath(m_root);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    QLockFile lock(path + QStringLiteral(".lock"));
    lock.setStaleLockTime(10000);
    if (!lock.tryLock(10000)) return false;
    QJsonObject tree;
    if (!LoadTree(tree)) return false;
    if (!edit(tree)) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(QJsonDocument(tree).toJson(QJsonDocument::Indented));
    return file.commit();
}

bool Registry::OpenKey(const QString& key, bool canCreate)
{
    QStringList parts;
    if (!SplitPath(key, parts)) return false;
    QJsonObject found;
    if (!FindKey(parts, found)) {
        if (!canCreate) return false;
        const bool created = Modify([&](QJsonObject& tree) {
            return EditKeyAt(tree, parts, 0, true, [](QJsonObject&) { return true; });
        });
        if (!created) return false;
    }
    m_path = parts;
    return true;
}

bool Registry::OpenKeyReadOnly(const QString& key)
{
    return OpenKey(key, false);
}

void Registry::CloseKey()
{
    m_path.clear();
}

bool Registry::KeyExists(const QString& key) const
{
    QStringList parts;
    QJsonObject found;
    return SplitPath(key, parts) && FindKey(parts, found);
}

bool Registry::ValueExists(const QString& name) const
{
    QJsonObject value;
    return FindValue(name, value);
}

RegDataType Registry::GetDataType(const QString& name) const
{
    QJsonObject value;
    if (!FindValue(name, value)) return rdUnknown;
    const QString type = value.value(kType).toString();
    if (type == kString) return rdString;
    if (type == kInteger) return rdInteger;
    return rdUnknown;
}

QStringList Registry::GetKeyNames() const
{
    QJsonObject key;
    FindKey(m_path, key);
    return NamesOf(key.value(kKeys).toArray());
}

QStringList Registry::GetValueNames() const
{
    QJsonObject key;
    FindKey(m_path, key);
    return NamesOf(key.value(kValues).toArray());
}

qint32 Registry::ReadInteger(const QString& name) const
{
    QJsonObject value;
    if (!FindValue(name, value)) throw ERegistryError(QStringLiteral("Failed to get data for '%1'").arg(name));
    const QJsonValue data = value.value(kData);
    const double number = data.toDouble();
    if (value.value(kType).toString() != kInteger || !data.isDouble() || number != static_cast<qint32>(number))
        throw ERegistryError(QStringLiteral("Invalid data type for '%1'").arg(name));
    return static_cast<qint32>(number);
}

QString Registry::ReadString(const QString& name) const
{
    QJsonObject value;
    if (!FindValue(name, value)) throw ERegistryError(QStringLiteral("Failed to get data for '%1'").arg(name));
    const QJsonValue data = value.value(kData);
    if (value.value(kType).toString() != kString || !data.isString())
        throw ERegistryError(QStringLiteral("Invalid data type for '%1'").arg(name));
    return data.toString();
}

void Registry::WriteValue(const QString& name, const QString& type, const QJsonValue& data)
{
    const bool stored = Modify([&](QJsonObject& tree) {
        return EditKeyAt(tree, m_path, 0, false, [&](QJsonObject& key) {
            QJsonArray values = key.value(kValues).toArray();
            const QJsonObject value{{kName, name}, {kType, type}, {kData, data}};
            const qsizetype index = IndexOfName(values, name);
            if (index >= 0)
                values.replace(index, value);
            else
                values.append(value);
            key.insert(kValues, values);
            return true;
        });
    });
    if (!stored) throw ERegistryError(QStringLiteral("Failed to set data for '%1'").arg(name));
}

void Registry::WriteInteger(const QString& name, qint32 value)
{
    WriteValue(name, kInteger, QJsonValue(value));
}

void Registry::WriteString(const QString& name, const QString& value)
{
    WriteValue(name, kString, QJsonValue(value));
}

bool Registry::DeleteValue(const QString& name)
{
    return Modify([&](QJsonObject& tree) {
        return EditKeyAt(tree, m_path, 0, false, [&](QJsonObject& key) {
            QJsonArray values = key.value(kValues).toArray();
            const qsizetype index = IndexOfName(values, name);
            if (index < 0) return false;
            values.removeAt(index);
            key.insert(kValues, values);
            return true;
        });
    });
}

bool Registry::DeleteKey(const QString& key)
{
    QStringList parts;
    if (!SplitPath(key, parts) || parts.isEmpty()) return false;
    if (!Modify([&](QJsonObject& tree) { return RemoveKeyAt(tree, parts); })) return false;
    if (StartsWithin(m_path, parts)) CloseKey();
    return true;
}
