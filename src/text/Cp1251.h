#pragma once

#include <cstddef>

#include <QString>

class QTextCodec;

// Russian messages are kept as Windows-1251 bytes and made into text by
// fromCp1251. The bytes are produced at compile time from readable UTF-8
// literals: constexpr auto kDone = cp1251("Готово");
template <std::size_t N> struct Cp1251Text
{
    char bytes[N] = {};
    constexpr const char* c_str() const { return bytes; }
};

namespace cp1251_detail {
// Windows-1251 byte for a code point outside ASCII and the basic Cyrillic
// block; 0 when the code page has none (a compile error at the call).
constexpr char fromSpecial(char32_t cp)
{
    switch (cp) {
    case 0x0401:
        return char(0xA8); // Ё
    case 0x0451:
        return char(0xB8); // ё
    case 0x00AB:
        return char(0xAB); // «
    case 0x00BB:
        return char(0xBB); // »
    case 0x2013:
        return char(0x96); // –
    case 0x2014:
        return char(0x97); // —
    case 0x2116:
        return char(0xB9); // №
    case 0x00A0:
        return char(0xA0); // no-break space
    default:
        return 0;
    }
}

[[noreturn]] inline void characterNotInCp1251()
{
    throw "character not in Windows-1251";
}
} // namespace cp1251_detail

template <std::size_t N> constexpr Cp1251Text<N> cp1251(const char (&utf8)[N])
{
    Cp1251Text<N> out;
    std::size_t o = 0;
    for (std::size_t i = 0; i + 1 < N;) {
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0;
        if (b0 < 0x80) {
            cp = b0;
            i += 1;
        } else if ((b0 & 0xE0) == 0xC0) {
            cp = (char32_t(b0 & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F);
            i += 2;
        } else if ((b0 & 0xF0) == 0xE0) {
            cp = (char32_t(b0 & 0x0F) << 12) |
                 (char32_t(static_cast<unsigned char>(utf8[i + 1]) & 0x3F) << 6) |
                 (static_cast<unsigned char>(utf8[i + 2]) & 0x3F);
            i += 3;
        } else {
            cp1251_detail::characterNotInCp1251();
        }
        if (cp < 0x80) {
            out.bytes[o++] = char(cp);
        } else if (cp >= 0x0410 && cp <= 0x044F) {
            out.bytes[o++] = char(0xC0 + (cp - 0x0410));
        } else if (const char special = cp1251_detail::fromSpecial(cp)) {
            out.bytes[o++] = special;
        } else {
            cp1251_detail::characterNotInCp1251();
        }
    }
    return out;
}

// The framework's codec named "Windows-1251"; null when the framework was
// built without it.
QTextCodec* cp1251Codec();

// The text that the codec "Windows-1251" makes of a NUL-terminated byte
// string. The codec is looked up on every call; without it the text is empty.
QString fromCp1251(const char* bytes);
