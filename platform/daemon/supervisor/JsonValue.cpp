#include "supervisor/JsonValue.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

class JsonValue::Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    bool Document(JsonValue* value)
    {
        return Value(value, 0) && (SkipSpace(), m_at == m_text.size() || Fail("text after the document"));
    }
    std::string Error() const { return m_error + " at offset " + std::to_string(m_at); }

private:
    static constexpr int MaxDepth = 64;

    bool Fail(const char* what)
    {
        if (m_error.empty()) m_error = what;
        return false;
    }
    void SkipSpace()
    {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\n' || m_text[m_at] == '\r'))
            ++m_at;
    }
    bool Literal(std::string_view word)
    {
        if (m_text.substr(m_at, word.size()) != word) return Fail("an unknown word");
        m_at += word.size();
        return true;
    }

    bool Value(JsonValue* value, int depth)
    {
        if (depth > MaxDepth) return Fail("values nested too deeply");
        SkipSpace();
        if (m_at >= m_text.size()) return Fail("a missing value");
        switch (m_text[m_at]) {
        case '{': return Object(value, depth);
        case '[': return Array(value, depth);
        case '"': value->m_kind = Kind::String; return String(&value->m_string);
        case 't': value->m_kind = Kind::Bool; value->m_bool = true; return Literal("true");
        case 'f': value->m_kind = Kind::Bool; return Literal("false");
        case 'n': return Literal("null");
        default: return Number(value);
        }
    }

    bool Object(JsonValue* value, int depth)
    {
        value->m_kind = Kind::Object;
        ++m_at;
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == '}') return ++m_at, true;
        for (;;) {
            SkipSpace();
            std::string name;
            if (m_at >= m_text.size() || m_text[m_at] != '"' || !String(&name)) return Fail("a missing member name");
            SkipSpace();
            if (m_at >= m_text.size() || m_text[m_at++] != ':') return Fail("a missing colon");
            if (!Value(&value->m_members[name], depth + 1)) return false;
            SkipSpace();
            if (m_at >= m_text.size()) return Fail("an unterminated object");
            const char c = m_text[m_at++];
            if (c == '}') return true;
            if (c != ',') return Fail("a missing comma");
        }
    }

    bool Array(JsonValue* value, int depth)
    {
        value->m_kind = Kind::Array;
        ++m_at;
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == ']') return ++m_at, true;
        for (;;) {
            value->m_elements.emplace_back();
            if (!Value(&value->m_elements.back(), depth + 1)) return false;
            SkipSpace();
            if (m_at >= m_text.size()) return Fail("an unterminated array");
            const char c = m_text[m_at++];
            if (c == ']') return true;
            if (c != ',') return Fail("a missing comma");
        }
    }

    bool Hex4(unsigned* code)
    {
        if (m_at + 4 > m_text.size()) return Fail("a short escape");
        unsigned n = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_at++];
            n <<= 4;
            if (c >= '0' && c <= '9') n |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f') n |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') n |= unsigned(c - 'A' + 10);
            else return Fail("a bad escape");
        }
        *code = n;
        return true;
    }

    static void AppendUtf8(std::string* out, unsigned code)
    {
        if (code < 0x80) {
            *out += char(code);
        } else if (code < 0x800) {
            *out += char(0xC0 | (code >> 6));
            *out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *out += char(0xE0 | (code >> 12));
            *out += char(0x80 | ((code >> 6) & 0x3F));
            *out += char(0x80 | (code & 0x3F));
        } else {
            *out += char(0xF0 | (code >> 18));
            *out += char(0x80 | ((code >> 12) & 0x3F));
            *out += char(0x80 | ((code >> 6) & 0x3F));
            *out += char(0x80 | (code & 0x3F));
        }
    }

    bool String(std::string* out)
    {
        ++m_at;
        for (;;) {
            if (m_at >= m_text.size()) return Fail("an unterminated string");
            const char c = m_text[m_at++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return Fail("a control character in a string");
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (m_at >= m_text.size()) return Fail("an unterminated string");
            switch (m_text[m_at++]) {
            case '"': *out += '"'; break;
            case '\\': *out += '\\'; break;
            case '/': *out += '/'; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                unsigned code = 0;
                if (!Hex4(&code)) return false;
                if (code >= 0xD800 && code < 0xDC00 && m_text.substr(m_at, 2) == "\\u") {
                    m_at += 2;
                    unsigned low = 0;
                    if (!Hex4(&low)) return false;
                    if (low >= 0xDC00 && low < 0xE000) code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    else AppendUtf8(out, 0xFFFD), code = low;
                }
                if (code >= 0xD800 && code < 0xE000) code = 0xFFFD; // a lone surrogate
                AppendUtf8(out, code);
                break;
            }
            default: return Fail("a bad escape");
            }
        }
    }

    bool Number(JsonValue* value)
    {
        const size_t begin = m_at;
        while (m_at < m_text.size() && std::string_view("+-0123456789.eE").find(m_text[m_at]) != std::string_view::npos) ++m_at;
        if (m_at == begin) return Fail("an unexpected character");
        const std::string_view text = m_text.substr(begin, m_at - begin);
        value->m_kind = Kind::Number;
        // The ids, times and counts of the files are integers: read without strtod, whose
        // locale tables and multi-precision code are pages each supervisor would fault in.
        if (Integer(text, &value->m_number)) return true;
        const std::string digits(text);
        char* end = nullptr;
        value->m_number = std::strtod(digits.c_str(), &end);
        if (end != digits.c_str() + digits.size()) return Fail("a bad number");
        return true;
    }

    // An optional '-' and up to 15 digits, which a double holds exactly, as strtod reads them.
    static bool Integer(std::string_view text, double* number)
    {
        const bool negative = !text.empty() && text.front() == '-';
        if (negative) text.remove_prefix(1);
        if (text.empty() || text.size() > 15) return false;
        int64_t n = 0;
        for (const char c : text) {
            if (c < '0' || c > '9') return false;
            n = n * 10 + (c - '0');
        }
        *number = negative ? -double(n) : double(n);
        return true;
    }

    std::string_view m_text;
    size_t m_at = 0;
    std::string m_error;
};

std::optional<JsonValue> JsonValue::Parse(std::string_view text, std::string* error)
{
    JsonValue value;
    Parser parser(text);
    if (parser.Document(&value)) return value;
    if (error) *error = parser.Error();
    return std::nullopt;
}

std::string JsonValue::Quote(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

namespace {
// Made as the program starts rather than on first use: a supervisor forked by the launcher
// then neither initialises it nor registers its destructor, each a page written after the fork.
const JsonValue NullValue;
}

const JsonValue& JsonValue::operator[](const std::string& name) const
{
    const auto it = m_members.find(name);
    return it == m_members.end() ? NullValue : it->second;
}

std::vector<std::string> JsonValue::ToStrings() const
{
    std::vector<std::string> out;
    for (const JsonValue& v : m_elements) out.push_back(v.ToString());
    return out;
}
