#include "model/MessageText.h"

#include "model/Text.h"
#include "model/TextLines.h"

#include <algorithm>

std::string ComposedMessageText(std::string_view text) { return LineBreaksToBlanks(Trim(text)); }

namespace {

// UTF-16 text holds a NUL beside nearly every Latin letter, digit and blank;
// its byte-order mark says so at once.
bool LooksLikeUtf16(std::string_view bytes)
{
    if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF')))
        return true;
    size_t evenNuls = 0, oddNuls = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\0')
            ++(i % 2 ? oddNuls : evenNuls);
    const size_t half = bytes.size() / 2;
    return std::max(evenNuls, oddNuls) >= 2 && std::max(evenNuls, oddNuls) * 2 >= half &&
           std::min(evenNuls, oddNuls) * 8 < half;
}

} // namespace

std::string MessageBytesProblem(std::string_view bytes)
{
    if (LooksLikeUtf16(bytes))
        return Cp1251("текст в кодировке UTF-16; сохраните его в UTF-8");
    if (const size_t nul = bytes.find('\0'); nul != std::string_view::npos)
        return Cp1251("в тексте нулевой байт (NUL) в позиции ") + IntToStr(static_cast<long long>(nul) + 1) +
               Cp1251(": это не текст");
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if ((c < 32 && c != '\t' && c != '\n' && c != '\r') || c == 127)
            return Cp1251("в тексте управляющий байт 0x") + "0123456789ABCDEF"[c >> 4] + "0123456789ABCDEF"[c & 15] +
                   Cp1251(" в позиции ") +
                   IntToStr(static_cast<long long>(i) + 1) + Cp1251(": это двоичные данные, а не текст");
    }
    char32_t cp;
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = Utf8SequenceLength(bytes, i, cp);
        if (length == 0)
            return Cp1251("текст не в кодировке UTF-8 (неверный байт в позиции ") +
                   IntToStr(static_cast<long long>(i) + 1) + ")";
        i += length;
    }
    return {};
}

std::vector<char32_t> CharsCp1251Lacks(std::string_view utf8)
{
    std::vector<char32_t> lacking;
    char32_t cp;
    unsigned char byte;
    for (size_t i = 0; i < utf8.size();) {
        const size_t length = Utf8SequenceLength(utf8, i, cp);
        if (length == 0) {
            cp = 0xFFFD;
            ++i;
        } else {
            i += length;
        }
        if (!Cp1251ByteOf(cp, byte) && std::find(lacking.begin(), lacking.end(), cp) == lacking.end())
            lacking.push_back(cp);
    }
    return lacking;
}
