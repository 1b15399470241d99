#pragma once
// A path in the generation 2.0 folder tree ("\", "\Reports", "\Reports\Daily") whose every
// name has passed the store's name rules, so no path can leave the store.

#include <QString>
#include <QStringList>
#include <optional>

class TaskPath {
public:
    /// The longest name, in characters and in UTF-8 bytes.
    static constexpr int MaxNameLength = 200;
    static constexpr int MaxNameBytes = 240;
    /// The deepest folder nesting.
    static constexpr int MaxDepth = 32;

    /// The root folder.
    TaskPath() = default;

    /// Parses backslash-separated names; a leading (and a single trailing) backslash is optional,
    /// "\" and the empty text are the root. On failure gives nothing and fills `error`.
    static std::optional<TaskPath> Parse(const QString& text, QString* error = nullptr);
    /// Why `name` cannot be a task or folder name (path separators, "." or "..", control
    /// characters, unpaired surrogates, too long), or empty when it can.
    static QString NameProblem(const QString& name);

    bool IsRoot() const { return m_names.isEmpty(); }
    const QStringList& Names() const { return m_names; }
    /// "\" for the root, else "\" before every name.
    QString ToString() const;
    /// The last name; "\" for the root.
    QString Name() const;
    TaskPath Parent() const;
    /// This path followed by `relative`; nothing when the result is too deep.
    std::optional<TaskPath> Join(const TaskPath& relative, QString* error = nullptr) const;
    /// This path followed by the one name `name`, which must pass NameProblem; nothing when it
    /// does not, or the result is too deep.
    std::optional<TaskPath> Child(const QString& name, QString* error = nullptr) const;

    friend bool operator==(const TaskPath&, const TaskPath&) = default;

private:
    explicit TaskPath(QStringList names) : m_names(std::move(names)) {}
    QStringList m_names;
};
