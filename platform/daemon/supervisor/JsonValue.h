#pragma once
// The JSON the supervisor reads, on the standard library alone: the supervisor starts before
// every task's program, and loading a framework first would cost more than the fork and exec.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// One parsed JSON value. Numbers are doubles, strings UTF-8. Immutable once parsed.
class JsonValue {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    /// The document `text`, or nothing with `error` filled when it is not valid JSON.
    static std::optional<JsonValue> Parse(std::string_view text, std::string* error);
    /// `text` as a JSON string literal, quotes included.
    static std::string Quote(std::string_view text);

    Kind kind() const { return m_kind; }
    bool IsObject() const { return m_kind == Kind::Object; }
    /// The member `name` of an object; a null value when there is none or this is no object.
    const JsonValue& operator[](const std::string& name) const;
    /// The string, or `fallback` for another kind.
    std::string ToString(const std::string& fallback = {}) const { return m_kind == Kind::String ? m_string : fallback; }
    /// The number, or `fallback` for another kind.
    double ToNumber(double fallback = 0) const { return m_kind == Kind::Number ? m_number : fallback; }
    /// The elements of an array; empty for another kind.
    const std::vector<JsonValue>& Elements() const { return m_elements; }
    /// The strings of an array of strings (other elements give empty strings).
    std::vector<std::string> ToStrings() const;

private:
    class Parser;
    Kind m_kind = Kind::Null;
    bool m_bool = false;
    double m_number = 0;
    std::string m_string;
    std::vector<JsonValue> m_elements;
    std::map<std::string, JsonValue> m_members;
};
