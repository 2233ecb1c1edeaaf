#include "engine/Charset.h"

#include "model/Error.h"
#include "model/Text.h"

#include <array>
#include <cerrno>
#include <iconv.h>

namespace {

constexpr char16_t kReplacementChar = 0xFFFD;

// What each CP1251 byte from 128 to 255 becomes in one target charset.
using TByteTable = std::array<std::string, 128>;

// Converts one Unicode character with glibc iconv; false when the target has no
// form for it.
bool IconvOneChar(iconv_t cd, char32_t cp, std::string& out)
{
    // UTF-32LE input: the character's four bytes, least significant first.
    char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                  static_cast<char>((cp >> 16) & 0xFF), static_cast<char>((cp >> 24) & 0xFF)};
    char buf[16];
    char* inPtr = in;
    size_t inLeft = sizeof in;
    char* outPtr = buf;
    size_t outLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, nullptr, nullptr); // reset shift state
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
        return false;
    out.assign(buf, static_cast<size_t>(outPtr - buf));
    return true;
}

// The table of the upper half for a target charset, built once through iconv
// one character at a time so that an unmappable character becomes "_".
TByteTable BuildTable(const char* iconvName, bool utf8)
{
    iconv_t cd = iconv_open(iconvName, "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw TError(Cp1251("Не удалось подготовить перекодировку текста в ") + iconvName + ".");
    TByteTable table;
    for (int b = 128; b < 256; ++b) {
        char32_t cp = Cp1251CodePoint(static_cast<unsigned char>(b));
        std::string& out = table[b - 128];
        if (cp == kReplacementChar && !utf8)
            out = "_"; // the unassigned CP1251 byte has no KOI8 form
        else if (!IconvOneChar(cd, cp, out))
            out = "_";
    }
    iconv_close(cd);
    return table;
}

const TByteTable& TableFor(TCharset charset)
{
    // Function-local statics: built on first use, thread-safely.
    switch (charset) {
    case TCharset::Koi8R: {
        static const TByteTable t = BuildTable("KOI8-R", false);
        return t;
    }
    case TCharset::Koi8U: {
        static const TByteTable t = BuildTable("KOI8-U", false);
        return t;
    }
    default: {
        static const TByteTable t = BuildTable("UTF-8", true);
        return t;
    }
    }
}

std::string ConvertByTable(std::string_view text, const TByteTable& table)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (char ch : text) {
        auto b = static_cast<unsigned char>(ch);
        if (b < 128)
            out.push_back(ch);
        else
            out += table[b - 128];
    }
    return out;
}

// The reverse of a single-byte table: each KOI8 byte to its CP1251 byte, "?"
// where CP1251 has no such character.
std::array<char, 128> ReverseTable(const TByteTable& table)
{
    std::array<char, 128> reverse;
    reverse.fill('?');
    for (int b = 128; b < 256; ++b) {
        const std::string& to = table[b - 128];
        auto k = to.size() == 1 ? static_cast<unsigned char>(to[0]) : 0;
        if (k >= 128)
            reverse[k - 128] = static_cast<char>(b);
    }
    return reverse;
}

// UTF-7 to UTF-8 through iconv.
std::string Utf7ToUtf8(std::string_view bytes)
{
    iconv_t cd = iconv_open("UTF-8", "UTF-7");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw TError(Cp1251("Не удалось подготовить перекодировку текста из UTF-7."));
    std::string out;
    std::string in(bytes);
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char buf[4096];
    while (inLeft > 0) {
        char* outPtr = buf;
        size_t outLeft = sizeof buf;
        size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buf, static_cast<size_t>(outPtr - buf));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            // A byte iconv's strict decoder refuses ("~", "\\" written directly, as our
            // own encoder does, or a broken run): ASCII is kept, anything else is "?".
            auto b = static_cast<unsigned char>(*inPtr);
            out.push_back(b < 128 && b != '+' ? static_cast<char>(b) : '?');
            ++inPtr;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Base64 of UTF-16 big-endian code units without the trailing "=".
void AppendBase64Utf16(const std::u16string& units, std::string& out)
{
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t u : units) {
        bytes.push_back(static_cast<char>(u >> 8));
        bytes.push_back(static_cast<char>(u & 0xFF));
    }
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                     (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out.push_back(kBase64[(v >> 18) & 63]);
        out.push_back(kBase64[(v >> 12) & 63]);
        out.push_back(kBase64[(v >> 6) & 63]);
        out.push_back(kBase64[v & 63]);
    }
    size_t rest = bytes.size() - i;
    if (rest == 1) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out.push_back(kBase64[(v >> 18) & 63]);
        out.push_back(kBase64[(v >> 12) & 63]);
    } else if (rest == 2) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out.push_back(kBase64[(v >> 18) & 63]);
        out.push_back(kBase64[(v >> 12) & 63]);
        out.push_back(kBase64[(v >> 6) & 63]);
    }
}

// UTF-7: characters below U+0080 go out as themselves ("+" as "+-"); each run
// of other characters is "+", base64 of its UTF-16BE units, and always "-".
std::string ConvertToUtf7(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 3);
    std::u16string run;
    for (size_t i = 0; i < text.size(); ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        if (b >= 128) {
            run.push_back(static_cast<char16_t>(Cp1251CodePoint(b)));
            continue;
        }
        if (!run.empty()) {
            out.push_back('+');
            AppendBase64Utf16(run, out);
            out.push_back('-');
            run.clear();
        }
        if (b == '+')
            out += "+-";
        else
            out.push_back(static_cast<char>(b));
    }
    if (!run.empty()) {
        out.push_back('+');
        AppendBase64Utf16(run, out);
        out.push_back('-');
    }
    return out;
}

} // namespace

TCharset CharsetFromName(std::string_view name)
{
    if (name == "CP1251")
        return TCharset::Windows1251;
    if (name == "KOI8-R")
        return TCharset::Koi8R;
    if (name == "KOI8-U")
        return TCharset::Koi8U;
    if (name == "UTF-8")
        return TCharset::Utf8;
    if (name == "UTF-7")
        return TCharset::Utf7;
    return TCharset::Windows1251;
}

std::string ConvertFromCp1251(std::string_view text, TCharset charset)
{
    switch (charset) {
    case TCharset::Windows1251:
        return std::string(text);
    case TCharset::Utf7:
        return ConvertToUtf7(text);
    case TCharset::Koi8R:
    case TCharset::Koi8U:
    case TCharset::Utf8:
        return ConvertByTable(text, TableFor(charset));
    }
    return std::string(text);
}

std::string ConvertToCp1251(std::string_view bytes, TCharset charset)
{
    switch (charset) {
    case TCharset::Windows1251:
        return std::string(bytes);
    case TCharset::Utf8:
        return Utf8ToCp1251(bytes);
    case TCharset::Utf7:
        return Utf8ToCp1251(Utf7ToUtf8(bytes));
    case TCharset::Koi8R:
    case TCharset::Koi8U: {
        static const std::array<char, 128> koi8r = ReverseTable(TableFor(TCharset::Koi8R));
        static const std::array<char, 128> koi8u = ReverseTable(TableFor(TCharset::Koi8U));
        const std::array<char, 128>& reverse = charset == TCharset::Koi8R ? koi8r : koi8u;
        std::string out(bytes);
        for (char& ch : out)
            if (static_cast<unsigned char>(ch) >= 128)
                ch = reverse[static_cast<unsigned char>(ch) - 128];
        return out;
    }
    }
    return std::string(bytes);
}

std::string CharsetMimeName(TCharset charset)
{
    switch (charset) {
    case TCharset::Windows1251:
        return "WINDOWS-1251";
    case TCharset::Koi8R:
        return "KOI8-R";
    case TCharset::Koi8U:
        return "KOI8-U";
    case TCharset::Utf8:
        return "UTF-8";
    case TCharset::Utf7:
        return "UNICODE-1-1-UTF-7";
    }
    return "WINDOWS-1251";
}
