#include "run/JsonText.h"

void JsonText::AppendString(QByteArray& out, QStringView text)
{
    static constexpr char Hex[] = "0123456789abcdef";
    out += '"';
    const QByteArray utf8 = text.toUtf8();
    const char* from = utf8.constData();   // the start of the bytes that need no escape
    const char* const end = from + utf8.size();
    for (const char* p = from; p != end; ++p) {
        const char c = *p;
        if (uchar(c) >= 0x20 && c != '"' && c != '\\') continue;
        out.append(from, p - from);
        from = p + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            const char escape[] = {'\\', 'u', '0', '0', Hex[uchar(c) >> 4], Hex[uchar(c) & 0xf]};
            out.append(escape, sizeof escape);
        }
        }
    }
    out.append(from, end - from);
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
