#include "run/JsonText.h"

void JsonText::AppendString(QByteArray& out, QStringView text)
{
    static constexpr char Hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (uchar(c) >= 0x20) {
                out += c;
            } else {
                const char escape[] = {'\\', 'u', '0', '0', Hex[uchar(c) >> 4], Hex[uchar(c) & 0xf]};
                out.append(escape, sizeof escape);
            }
        }
    }
    out += '"';
}

void JsonText::AppendStrings(QByteArray& out, const QStringList& list)
{
    out += '[';
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0) out += ',';
        AppendString(out, list[i]);
    }
    out += ']';
}
