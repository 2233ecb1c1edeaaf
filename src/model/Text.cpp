#include "model/Text.h"

#include <array>
#include <cstdint>
#include <charconv>
#include <cstdio>
#include <limits>
#include <unordered_map>

namespace {

// Unicode code points of CP1251 bytes 128..255; byte 152 is unassigned.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,};

const std::array<unsigned char, 256>& UpperTable()
{
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = static_cast<unsigned char>(i);
        for (int c = 'a'; c <= 'z'; ++c)
            t[c] = static_cast<unsigned char>(c - 'a' + 'A');
        for (int c = 0xE0; c <= 0xFF; ++c) // а..я -> А..Я
            t[c] = static_cast<unsigned char>(c - 0x20);
        t[0xB8] = 0xA8; // ё -> Ё
        t[0xBA] = 0xAA; // є -> Є
        t[0xB3] = 0xB2; // і -> І
        t[0xBF] = 0xAF; // ї -> Ї
        t[0xB4] = 0xA5; // ґ -> Ґ
        t[0xA2] = 0xA1; // ў -> Ў
        t[0x90] = 0x80; // ђ -> Ђ
        t[0x83] = 0x81; // ѓ -> Ѓ
        t[0x9A] = 0x8A; // љ -> Љ
        t[0x9C] = 0x8C; // њ -> Њ
        t[0x9D] = 0x8D; // ќ -> Ќ
        t[0x9E] = 0x8E; // ћ -> Ћ
        t[0x9F] = 0x8F; // џ -> Џ
        t[0xBC] = 0xA3; // ј -> Ј
        t[0xBE] = 0xBD; // ѕ -> Ѕ
        return t;
    }();
    return table;
}

const std::unordered_map<char32_t, unsigned char>& ReverseTable()
{
    static const std::unordered_map<char32_t, unsigned char> map = [] {
        std::unordered_map<char32_t, unsigned char> m;
        for (int i = 0; i < 128; ++i)
            if (kHighHalf[i] != 0xFFFD)
                m[kHighHalf[i]] = static_cast<unsigned char>(128 + i);
        return m;
    }();
    return map;
}

unsigned char EncodeCodePoint(char32_t cp)
{
    if (cp < 128)
        return static_cast<unsigned char>(cp);
    const auto& m = ReverseTable();
    auto it = m.find(cp);
    return it == m.end() ? '?' : it->second;
}

bool IsTrimmed(unsigned char c) { return c <= 32; }

} // namespace

std::string Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

std::string TrimLeft(std::string_view text)
{
    size_t b = 0;
    while (b < text.size() && IsTrimmed(static_cast<unsigned char>(text[b])))
        ++b;
    return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text)
{
    size_t e = text.size();
    while (e > 0 && IsTrimmed(static_cast<unsigned char>(text[e - 1])))
        --e;
    return std::string(text.substr(0, e));
}

unsigned char UpperCaseChar(unsigned char c) { return UpperTable()[c]; }

std::string UpperCase(std::string_view text)
{
    std::string r(text);
    for (char& c : r)
        c = static_cast<char>(UpperCaseChar(static_cast<unsigned char>(c)));
    return r;
}

const unsigned char* UpperCaseTable() { return UpperTable().data(); }

namespace {
// The two halves of the 128-bit product, folded: a fast mixer of good quality.
std::uint64_t FoldedProduct(std::uint64_t a, std::uint64_t b)
{
    const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}
} // namespace

size_t CaseFoldHash(std::string_view text)
{
    // Eight upper-cased bytes at a time, one multiplication for each eight.
    const unsigned char* t = UpperTable().data();
    const auto byte = [&](size_t i) { return static_cast<std::uint64_t>(t[static_cast<unsigned char>(text[i])]); };
    std::uint64_t h = 0x243F6A8885A308D3ull ^ text.size();
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t w = 0;
        for (size_t k = 0; k < 8; ++k)
            w |= byte(i + k) << (8 * k);
        h = FoldedProduct(h ^ w, 0x9E3779B97F4A7C15ull);
    }
    std::uint64_t w = 0;
    for (size_t k = 0; i < text.size(); ++i, ++k)
        w |= byte(i) << (8 * k);
    return static_cast<size_t>(FoldedProduct(h ^ w, 0xC2B2AE3D27D4EB4Full));
}

bool IsTrimmedText(std::string_view text)
{
    return text.empty() || (!IsTrimmed(static_cast<unsigned char>(text.front())) &&
                            !IsTrimmed(static_cast<unsigned char>(text.back())));
}

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    const auto& t = UpperTable();
    for (size_t i = 0; i < a.size(); ++i)
        if (t[static_cast<unsigned char>(a[i])] != t[static_cast<unsigned char>(b[i])])
            return false;
    return true;
}

std::string ControlCharsToSpaces(std::string_view text)
{
    std::string r(text);
    for (char& c : r)
        if (const auto u = static_cast<unsigned char>(c); u < 32 || u == 127 || u == 152)
            c = ' ';
    return r;
}

char32_t Cp1251CodePoint(unsigned char c) { return c < 128 ? c : kHighHalf[c - 128]; }

bool Cp1251ByteOf(char32_t cp, unsigned char& byte)
{
    if (cp < 128) {
        byte = static_cast<unsigned char>(cp);
        return true;
    }
    const auto& m = ReverseTable();
    const auto it = m.find(cp);
    if (it == m.end())
        return false;
    byte = it->second;
    return true;
}

std::u16string Cp1251ToUtf16(std::string_view text)
{
    std::u16string r;
    r.reserve(text.size());
    for (char c : text)
        r.push_back(static_cast<char16_t>(Cp1251CodePoint(static_cast<unsigned char>(c))));
    return r;
}

std::string Utf16ToCp1251(std::u16string_view text)
{
    std::string r;
    r.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        r.push_back(static_cast<char>(EncodeCodePoint(cp)));
    }
    return r;
}

std::string Cp1251ToUtf8(std::string_view text)
{
    std::string r;
    r.reserve(text.size() * 2);
    for (char ch : text)
        AppendUtf8(r, Cp1251CodePoint(static_cast<unsigned char>(ch)));
    return r;
}

std::string Utf8ToCp1251(std::string_view utf8)
{
    std::string r;
    r.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
        if (extra < 0 || i + extra >= utf8.size()) {
            r.push_back('?');
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            r.push_back('?');
            ++i;
            continue;
        }
        r.push_back(static_cast<char>(EncodeCodePoint(cp)));
        i += extra + 1;
    }
    return r;
}

std::string IntToStr(long long value) { return std::to_string(value); }

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool TryStrToInt(std::string_view text, int& value)
{
    if (text.empty())
        return false;
    size_t start = (text[0] == '+') ? 1 : 0;
    if (start == 1 && (text.size() == 1 || text[1] == '-'))
        return false;
    long long v = 0;
    auto [ptr, ec] = std::from_chars(text.data() + start, text.data() + text.size(), v);
    if (ec != std::errc() || ptr != text.data() + text.size())
        return false;
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(v);
    return true;
}

// The length of the well-formed UTF-8 sequence at `at` (1 for an ASCII
// byte) and its code point, or 0 when the bytes there are not one: no
// overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8SequenceLength(std::string_view s, size_t at, char32_t& cp)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = byte(at);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        cp = c & 0x0F;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        cp = c & 0x07;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > s.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = byte(at + k);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
            return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    return length;
}

// Whether the text is all well-formed UTF-8.
bool IsValidUtf8(std::string_view s)
{
    char32_t cp;
    for (size_t i = 0; i < s.size();) {
        // Runs of ASCII are the bulk of any data file.
        while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80)
            ++i;
        if (i == s.size())
            break;
        const size_t n = Utf8SequenceLength(s, i, cp);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string CodePointText(char32_t cp)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
    return buffer;
}
