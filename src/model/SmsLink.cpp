#include "model/SmsLink.h"

#include "model/Text.h"

#include <cctype>

namespace {

// Blanks (the no-break space too), dashes (the CP1251 en and em dashes too), dots, brackets.
bool IsPhoneSeparator(char c)
{
    return c == ' ' || c == '-' || c == '.' || c == '(' || c == ')' || c == '\t' || c == '\xA0' || c == '\x96' ||
           c == '\x97';
}

bool IsDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

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

std::string GatePhone(std::string_view phone)
{
    std::string out;
    out.reserve(phone.size());
    for (char c : phone)
        if (!IsPhoneSeparator(c))
            out += c;
    return out;
}

std::string NormalizedPhone(std::string_view phone)
{
    const std::string compact = GatePhone(Trim(phone));
    const bool plus = !compact.empty() && compact[0] == '+';
    const std::string digits = compact.substr(plus ? 1 : 0);
    if (!IsDigits(digits))
        return compact; // not a number: compared as written, formatting aside
    if (!plus && digits.size() == 10)
        return "+7" + digits;
    if (digits.size() == 11 && (digits[0] == '7' || (!plus && digits[0] == '8')))
        return "+7" + digits.substr(1);
    return digits;
}

bool SamePhone(std::string_view a, std::string_view b) { return NormalizedPhone(a) == NormalizedPhone(b); }

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
    // "?" starts the fields; some phones write "sms:NUMBER&body=..." (no number holds a "&").
    const size_t question = rest.find_first_of("?&");
    std::string_view numbers = rest.substr(0, question);
    while (!numbers.empty()) {
        const size_t comma = numbers.find(',');
        std::string_view one = numbers.substr(0, comma);
        one = one.substr(0, one.find(';'));
        const std::string phone = Trim(PercentDecoded(one));
        if (!phone.empty() && !LooksLikePhone(phone)) {
            result.Phones.clear();
            result.Error = Cp1251("Ссылка sms: не открыта: «") + Utf8ToCp1251(phone) +
                           Cp1251("» - не номер телефона (номер - это цифры, возможно с «+» в начале).");
            return false;
        }
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
            if (eq != std::string_view::npos && SameText(field.substr(0, eq), "body")) {
                const std::string bytes = PercentDecoded(field.substr(eq + 1));
                result.Body = IsValidUtf8(bytes) ? bytes : Cp1251ToUtf8(bytes); // not UTF-8: a CP1251 page's link
            }
            query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        }
    }
    if (result.Phones.empty() && Trim(result.Body).empty()) {
        result.Error = Cp1251("Ссылка sms: не открыта: в ней нет ни номера телефона, ни текста сообщения.");
        return false;
    }
    return true;
}
