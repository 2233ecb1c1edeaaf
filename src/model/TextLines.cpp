#include "model/TextLines.h"

#include "model/Text.h"

#include <cstdint>
#include <cstring>

size_t FindLineBreak(std::string_view text, size_t from)
{
    // A plain scan: std::string_view::find_first_of calls memchr on the set
    // of two characters for every character of the text.
    for (size_t i = from; i < text.size(); ++i)
        if (text[i] == '\r' || text[i] == '\n')
            return i;
    return std::string_view::npos;
}

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    const size_t n = text.size();
    while (pos < n) {
        size_t end = FindLineBreak(text, pos);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(pos));
            break;
        }
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
        if (text[end] == '\r' && pos < n && text[pos] == '\n')
            ++pos;
    }
    return lines;
}

std::string JoinLines(std::string_view text)
{
    std::string r;
    for (const std::string& line : SplitLines(text)) {
        const std::string trimmed = Trim(line);
        if (trimmed.empty())
            continue;
        if (!r.empty())
            r += "; ";
        r += trimmed;
    }
    return r;
}

std::string LineBreaksToBlanks(std::string_view text)
{
    std::string r;
    r.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            r += ' ';
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            r += text[i];
        }
    }
    return r;
}

bool HasLineBreak(std::string_view text)
{
    // Eight bytes at a time: a byte equal to CR or LF makes the XOR with it
    // zero, and (v - 0x01..) & ~v & 0x80.. is not zero exactly when some
    // byte of v is zero.
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t v;
        std::memcpy(&v, text.data() + i, 8);
        const std::uint64_t cr = v ^ (ones * '\r');
        const std::uint64_t lf = v ^ (ones * '\n');
        if ((((cr - ones) & ~cr) | ((lf - ones) & ~lf)) & highs)
            return true;
    }
    return FindLineBreak(text, i) != std::string_view::npos;
}
