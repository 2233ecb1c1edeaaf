#include "engine/MailAddress.h"

#include "model/Text.h"

namespace {

// Position of the first character c outside double quotes, or npos.
size_t FindOutsideQuotes(std::string_view text, char c, size_t from = 0)
{
    bool quoted = false;
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == c && !quoted)
            return i;
    }
    return std::string_view::npos;
}

} // namespace

std::string MailDisplayName(std::string_view value)
{
    size_t open = value.find('"');
    if (open != std::string_view::npos) {
        size_t close = value.find('"', open + 1);
        std::string_view inner = value.substr(open + 1, close == std::string_view::npos ? std::string_view::npos
                                                                                        : close - open - 1);
        return Trim(inner);
    }
    size_t angle = value.find('<');
    if (angle != std::string_view::npos)
        return Trim(value.substr(0, angle));
    return {};
}

std::string BareMailAddress(std::string_view value)
{
    size_t angle = FindOutsideQuotes(value, '<');
    if (angle != std::string_view::npos) {
        std::string_view rest = value.substr(angle + 1);
        size_t close = rest.find('>');
        return Trim(rest.substr(0, close));
    }
    size_t open = value.find('"');
    if (open != std::string_view::npos) {
        size_t close = value.find('"', open + 1);
        if (close != std::string_view::npos)
            return Trim(value.substr(close + 1));
    }
    return Trim(value);
}

std::vector<std::string> SplitMailAddressList(std::string_view value)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = FindOutsideQuotes(value, ',', start);
        size_t end = comma == std::string_view::npos ? value.size() : comma;
        std::string piece = Trim(value.substr(start, end - start));
        if (!piece.empty())
            pieces.push_back(std::move(piece));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return pieces;
}

bool HasLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}
