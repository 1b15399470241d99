#pragma once
// The platform's registry: a tree of keys holding named, typed values, one tree per root.
// HKEY_CURRENT_USER is the current user's settings store in the user's configuration folder;
// HKEY_LOCAL_MACHINE is the machine's, read from the system configuration folder.

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>

/// The roots of the registry (the platform's predefined key handles).
enum HKEY : quint32 {
    HKEY_CURRENT_USER = 0x80000001,
    HKEY_LOCAL_MACHINE = 0x80000002,
};

/// The type of a stored value.
enum RegDataType : quint8 { rdUnknown, rdString, rdInteger };

/// Access to one root of the registry through one open key at a time, in the manner of a
/// registry editor's object: open a key, read and write its values, close it.
///
/// Key paths are backslash-separated ("Software\Maker\Product") and, like value names,
/// compared ignoring letter case; the case they were created with is kept. Paths are
/// counted from the root, a leading backslash being optional. Every write reaches the store
/// at once and is crash-safe: the store file is replaced whole, under a lock shared with the
/// other processes of the user, so concurrent writers never lose each other's values.
/// A store file that does not parse is reported and never overwritten.
class Registry {
public:
    /// Access to `root`, with its root key as the current key.
    explicit Registry(HKEY root = HKEY_CURRENT_USER);

    /// The root the keys are counted from.
    HKEY RootKey() const { return m_root; }
    /// Changes the root; closes the current key.
    void SetRootKey(HKEY root);

    /// Makes `key` the current key. When it does not exist: creates it (and its missing
    /// parents) when `canCreate`, else fails. False also for a malformed path, and when the
    /// key would have to be created but the store cannot be written.
    bool OpenKey(const QString& key, bool canCreate);
    /// Makes an existing `key` the current key for reading; false when it does not exist.
    bool OpenKeyReadOnly(const QString& key);
    /// Makes the root key the current key again.
    void CloseKey();
    /// The path of the current key as opened; empty for the root key.
    QString CurrentPath() const { return m_path.join(QLatin1Char('\\')); }

    /// Whether `key` exists.
    bool KeyExists(const QString& key) const;
    /// Whether the current key holds a value named `name`.
    bool ValueExists(const QString& name) const;
    /// The type of value `name` of the current key; rdUnknown when there is none.
    RegDataType GetDataType(const QString& name) const;
    /// The names of the current key's sub-keys, in the order they were created.
    QStringList GetKeyNames() const;
    /// The names of the current key's values, in the order they were created.
    QStringList GetValueNames() const;

    /// The 32-bit integer `name` of the current key. Raises ERegistryError "Failed to get
    /// data for '%s'" when there is no such value and "Invalid data type for '%s'" when it
    /// holds something else.
    qint32 ReadInteger(const QString& name) const;
    /// The string `name` of the current key; raises like ReadInteger.
    QString ReadString(const QString& name) const;
    /// Stores `value` as the 32-bit integer `name` of the current key, replacing any value of
    /// that name. Raises ERegistryError "Failed to set data for '%s'" when it cannot be stored.
    void WriteInteger(const QString& name, qint32 value);
    /// Stores `value` as the string `name` of the current key; raises like WriteInteger.
    void WriteString(const QString& name, const QString& value);

    /// Deletes value `name` of the current key; false when there was none or it could not be deleted.
    bool DeleteValue(const QString& name);
    /// Deletes `key` with everything below it; the root key cannot be deleted. False when
    /// there was no such key or it could not be deleted. Closes the current key when it lay below.
    bool DeleteKey(const QString& key);

    /// The file that holds the tree of `root`: for HKEY_CURRENT_USER in the user's
    /// configuration folder (XDG_CONFIG_HOME or ~/.config) below "taskscheduler", for
    /// HKEY_LOCAL_MACHINE in $TASKSCHEDULER_MACHINE_CONFIG, else /etc/taskscheduler.
    static QString StoreFilePath(HKEY root);

private:
    /// The path's components, or false for a malformed path (an empty inner component).
    static bool SplitPath(const QString& key, QStringList& parts);
    /// The stored tree; false when the file exists but cannot be read or parsed.
    bool LoadTree(QJsonObject& tree) const;
    /// The key object at `parts` in the current tree; empty and false when it does not exist.
    bool FindKey(const QStringList& parts, QJsonObject& found) const;
    /// The value object `name` of the current key; false when there is none.
    bool FindValue(const QString& name, QJsonObject& value) const;
    /// Reads, changes with `edit` and writes back the tree under the store's lock. `edit`
    /// returns false to leave the store unchanged. False when the store cannot be read or written.
    template <typename Edit>
    bool Modify(Edit edit);
    /// Stores value `name` of type `type` in the current key; raises on failure.
    void WriteValue(const QString& name, const QString& type, const QJsonValue& data);

    HKEY m_root;
    QStringList m_path;
};
