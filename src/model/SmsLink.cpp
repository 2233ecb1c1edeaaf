#include "model/SmsLink.h"

#include "model/Text.h"

#include <cctype>

namespace {

bool IsPhoneSeparator(char c) { return c == ' ' || c == '-' || c == '.' || c == '(' || c == ')' || c == '\t'; }

// "%XX" becomes its byte; a "%" not followed by two hex digits stays as it is.
std::string PercentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 && HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::string NormalizedPhone(std::string_view phone)
{
    std::string out;
    for (char c : phone)
        if (!IsPhoneSeparator(c))
            out += c;
    if (out.size() == 11 && out[0] == '8' && out.find_first_not_of("0123456789") == std::string::npos)
        out = "+7" + out.substr(1);
    return out;
}

bool LooksLikePhone(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i < text.size() && text[i] == '+')
        ++i;
    int digits = 0;
    for (; i < text.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])))
            ++digits;
        else if (!IsPhoneSeparator(text[i]))
            return false;
    }
    return digits >= 3;
}

bool ParseSmsLink(std::string_view link, TSmsLink& result)
{
    result = {};
    if (link.size() < 4 || !SameText(link.substr(0, 4), "sms:"))
        return false;
    std::string_view rest = link.substr(4);
    if (rest.substr(0, 2) == "//") // "sms://NUMBER", written by some programs
        rest.remove_prefix(2);
    const size_t question = rest.find('?');
    std::string_view numbers = rest.substr(0, question);
    while (!numbers.empty()) {
        const size_t comma = numbers.find(',');
        std::string_view one = numbers.substr(0, comma);
        one = one.substr(0, one.find(';'));
        const std::string phone = Trim(PercentDecoded(one));
        if (!phone.empty())
            result.Phones.push_back(phone);
        numbers = comma == std::string_view::npos ? std::string_view() : numbers.substr(comma + 1);
    }
    if (question != std::string_view::npos) {
        std::string_view query = rest.substr(question + 1);
        while (!query.empty()) {
            const size_t amp = query.find('&');
            const std::string_view field = query.substr(0, amp);
            const size_t eq = field.find('=');
            if (eq != std::string_view::npos && SameText(field.substr(0, eq), "body"))
                result.Body = Utf8ToCp1251(PercentDecoded(field.substr(eq + 1)));
            query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        }
    }
    return !result.Phones.empty();
}
