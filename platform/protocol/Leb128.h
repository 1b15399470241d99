#pragma once
// Unsigned LEB128 numbers, seven bits a byte, low bits first, the high bit set on every byte
// but the last: the compact numbers of the packed replies.

#include <QtGlobal>
#include <optional>

namespace Leb128 {

/// The longest form of a 64-bit number.
inline constexpr int MaxBytes = 10;

/// Writes `number` at `out`, which has room for MaxBytes; gives the byte after it.
inline uchar* Write(uchar* out, quint64 number)
{
    while (number >= 0x80) {
        *out++ = uchar(number | 0x80);
        number >>= 7;
    }
    *out++ = uchar(number);
    return out;
}

/// Reads the number at `*at`, ending before `end`, and moves `*at` past it. Nothing when it is
/// cut off or takes more than `maxBytes` bytes.
inline std::optional<quint64> Read(const uchar** at, const uchar* end, int maxBytes = MaxBytes)
{
    quint64 number = 0;
    for (int shift = 0; shift < 7 * maxBytes; shift += 7) {
        if (*at == end) return std::nullopt;
        const uchar byte = *(*at)++;
        number |= quint64(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return number;
    }
    return std::nullopt;
}

} // namespace Leb128
