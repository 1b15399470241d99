#pragma once
// Where the names of the network connection profiles this machine knows come from.

#include <QStringList>
#include <optional>

/// A source of the machine's network profile names. The system's connection manager is the
/// source unless a test installs another one.
class NetworkProfileSource {
public:
    virtual ~NetworkProfileSource() = default;

    /// The names of the profiles, in the source's order; nullopt when the source is not
    /// available on this machine.
    virtual std::optional<QStringList> ProfileNames() const = 0;

    /// The source in use: the one installed with SetOverride, else the connection manager's.
    static const NetworkProfileSource& Current();
    /// Makes `source` (not owned) the source in use; null restores the connection manager's.
    static void SetOverride(const NetworkProfileSource* source);

    /// Installs a source for its own lifetime and then restores the previous one (tests).
    class ScopedOverride {
    public:
        explicit ScopedOverride(const NetworkProfileSource& source);
        ~ScopedOverride();
        ScopedOverride(const ScopedOverride&) = delete;
        ScopedOverride& operator=(const ScopedOverride&) = delete;

    private:
        const NetworkProfileSource* m_previous;
    };
};
