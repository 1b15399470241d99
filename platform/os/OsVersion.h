#pragma once
// The operating system version the platform reports. The library derives the scheduling
// service generation it may use from it: major version 6 or later offers generation 2.0.

#include <QStringView>
#include <optional>

class OsVersion {
public:
    constexpr OsVersion(int major, int minor) : m_major(major), m_minor(minor) {}

    int Major() const { return m_major; }
    int Minor() const { return m_minor; }
    friend bool operator==(const OsVersion&, const OsVersion&) = default;

    /// What this platform reports of itself: 6.1, a system that offers both service generations.
    static constexpr OsVersion Native() { return {6, 1}; }

    /// The version in force: the programmatic override when one is set, else the version named
    /// by the environment variable TASKSCHEDULER_OS_VERSION ("5.1" offers generation 1.0 only),
    /// else Native(). An environment value that does not parse is ignored with a warning.
    static OsVersion Current();

    /// Reads "major" or "major.minor" (decimal, surrounding blanks allowed); nullopt otherwise.
    static std::optional<OsVersion> Parse(QStringView text);

    /// Makes Current() answer `version` until cleared with nullopt (tests).
    static void SetOverride(std::optional<OsVersion> version);
    /// The override currently set, if any.
    static std::optional<OsVersion> Override();

    /// Sets an override for its own lifetime and then restores the previous one (tests).
    class ScopedOverride;

private:
    int m_major;
    int m_minor;
};

class OsVersion::ScopedOverride {
public:
    explicit ScopedOverride(OsVersion version) : m_previous(Override()) { SetOverride(version); }
    ~ScopedOverride() { SetOverride(m_previous); }
    ScopedOverride(const ScopedOverride&) = delete;
    ScopedOverride& operator=(const ScopedOverride&) = delete;

private:
    std::optional<OsVersion> m_previous;
};
