#include "model/DataFileText.h"

#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "model/TextLines.h"

#include <cstring>

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

bool IsAscii(std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// The number (from 1) of the line holding the byte at `at`: a line ends at
// CR LF, CR or LF, as every reader of the data files has it.
size_t LineNumberAt(std::string_view s, size_t at)
{
    size_t line = 1;
    for (size_t i = 0; i < at && i < s.size(); ++i)
        if (s[i] == '\n' || (s[i] == '\r' && (i + 1 >= s.size() || s[i + 1] != '\n')))
            ++line;
    return line;
}

// Calls `visit` with every line of the text and the offset where it starts
// (line breaks excluded).
template <class Visit>
void ForEachLine(std::string_view s, Visit visit)
{
    size_t start = 0;
    while (start < s.size()) {
        size_t end = FindLineBreak(s, start);
        if (end == std::string_view::npos)
            end = s.size();
        if (!visit(s.substr(start, end - start), start))
            return;
        start = end + (end < s.size());
        if (end < s.size() && s[end] == '\r' && start < s.size() && s[start] == '\n')
            ++start;
    }
}

// Whether the file is UTF-8: valid, with a multi-byte character outside the
// opaque lines.
bool LooksUtf8(std::string_view s, const TOpaqueLine& opaque)
{
    if (!opaque)
        return !IsAscii(s) && IsValidUtf8(s);
    bool multiByte = false, valid = true;
    ForEachLine(s, [&](std::string_view line, size_t) {
        if (opaque(line) || IsAscii(line))
            return true;
        multiByte = true;
        valid = IsValidUtf8(line);
        return valid;
    });
    return multiByte && valid;
}

} // namespace

void RefuseDataFile(const std::string& path, const std::string& reason)
{
    throw TError(Cp1251("Не удалось прочитать файл \"") + PathText(path) + "\":\r" + reason +
                 Cp1251(".\rФайл оставлен без изменений."));
}

std::string DataFileText(const std::string& path, std::string bytes, const TOpaqueLine& opaque)
{
    if (std::memchr(bytes.data(), '\0', bytes.size()))
        RefuseDataFile(path, Cp1251("в нём есть нулевые байты: это не текст в кодировке Windows-1251 или UTF-8 "
                                    "(возможно, файл сохранён в UTF-16 или это не текстовый файл)"));
    const bool bom = std::string_view(bytes).substr(0, Bom.size()) == Bom;
    const std::string_view text = std::string_view(bytes).substr(bom ? Bom.size() : 0);
    if (!bom && !LooksUtf8(text, opaque))
        return bytes;
    std::string out;
    out.reserve(text.size());
    const auto decode = [&](std::string_view line, size_t offset) {
        if (opaque && opaque(line) && !IsAscii(line)) {
            // Converted when it converts whole, else kept as it is.
            std::string converted;
            converted.reserve(line.size());
            bool whole = true;
            for (size_t i = 0; i < line.size() && whole;) {
                char32_t cp;
                unsigned char byte = 0;
                const size_t n = Utf8SequenceLength(line, i, cp);
                whole = n > 0 && Cp1251ByteOf(cp, byte);
                converted += static_cast<char>(byte);
                i += n;
            }
            if (whole)
                out.append(converted);
            else
                out.append(line);
            return true;
        }
        char32_t cp;
        for (size_t i = 0; i < line.size();) {
            const size_t n = Utf8SequenceLength(line, i, cp);
            if (n == 0)
                RefuseDataFile(path, Cp1251("файл начинается с метки UTF-8, но строка ") +
                                         IntToStr(static_cast<long long>(LineNumberAt(text, offset + i))) +
                                         Cp1251(" не в кодировке UTF-8"));
            unsigned char byte;
            if (!Cp1251ByteOf(cp, byte))
                RefuseDataFile(path, Cp1251("в строке ") +
                                         IntToStr(static_cast<long long>(LineNumberAt(text, offset + i))) +
                                         Cp1251(" есть символ ") + CodePointText(cp) +
                                         Cp1251(", которого нет в кодировке Windows-1251"));
            out += static_cast<char>(byte);
            i += n;
        }
        return true;
    };
    if (!opaque) {
        decode(text, 0);
        return out;
    }
    // Line by line, keeping the line breaks as they are.
    size_t copied = 0;
    ForEachLine(text, [&](std::string_view line, size_t offset) {
        out.append(text.substr(copied, offset - copied));
        decode(line, offset);
        copied = offset + line.size();
        return true;
    });
    out.append(text.substr(copied));
    return out;
}

std::string ReadDataFileText(const std::string& path, const TOpaqueLine& opaque)
{
    return DataFileText(path, ReadWholeFile(path), opaque);
}
