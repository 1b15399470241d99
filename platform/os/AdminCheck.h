#pragma once
// Whether the program runs with administrator rights: on this system, as the superuser.

#include <optional>

class AdminCheck {
public:
    /// True when the override says so, or, without an override, when the effective user id is 0.
    static bool IsAdministrator();

    /// Makes IsAdministrator() answer `answer` until cleared with nullopt (tests).
    static void SetOverride(std::optional<bool> answer);
    /// The override currently set, if any.
    static std::optional<bool> Override();

    /// Sets an override for its own lifetime and then restores the previous one (tests).
    class ScopedOverride {
    public:
        explicit ScopedOverride(bool answer) : m_previous(Override()) { SetOverride(answer); }
        ~ScopedOverride() { SetOverride(m_previous); }
        ScopedOverride(const ScopedOverride&) = delete;
        ScopedOverride& operator=(const ScopedOverride&) = delete;

    private:
        std::optional<bool> m_previous;
    };
};
