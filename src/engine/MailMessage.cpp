#include "engine/MailMessage.h"

#include "engine/MailAddress.h"

#include <cstdlib>
#include <cstring>

namespace {

const size_t kLongestHeaderLine = 77; // lines of 78 characters or more are folded
const size_t kLongestEncodedWord = 32; // encoded text past this is cut at the next space

bool IsHeaderSpecial(unsigned char c)
{
    return c != 0 && std::strchr("\"(),/:;<=>?@[\\]", c) != nullptr;
}

void AppendHex(std::string& out, unsigned char c)
{
    static const char digits[] = "0123456789ABCDEF";
    out += '=';
    out += digits[c >> 4];
    out += digits[c & 15];
}

std::string TwoDigits(int value)
{
    std::string s(2, '0');
    s[0] = static_cast<char>('0' + value / 10 % 10);
    s[1] = static_cast<char>('0' + value % 10);
    return s;
}

// Day of the week of a date of the Gregorian calendar, 0 = Sunday.
int WeekDay(int year, int month, int day)
{
    // Days since 1970-01-01 (a Thursday) by the civil-from-days inverse.
    long long y = year - (month <= 2 ? 1 : 0);
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long long days = era * 146097 + doe - 719468;
    long long wd = (days + 4) % 7;
    return static_cast<int>(wd < 0 ? wd + 7 : wd);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void AddHeader(std::vector<std::string>& lines, const std::string& line)
{
    for (auto& piece : FoldHeaderLine(line))
        lines.push_back(std::move(piece));
}

} // namespace

bool NeedsEncodedWords(std::string_view text)
{
    for (unsigned char c : text)
        if (c < 32 || c >= 127 || IsHeaderSpecial(c))
            return true;
    return false;
}

std::string EncodeHeaderText(std::string_view text, std::string_view mimeCharset)
{
    if (!NeedsEncodedWords(text))
        return std::string(text);
    std::string result, word;
    auto closeWord = [&] {
        if (!result.empty())
            result += ' ';
        result += "=?";
        result += mimeCharset;
        result += "?Q?";
        result += word;
        result += "?=";
        word.clear();
    };
    for (unsigned char c : text) {
        if (c == ' ') {
            word += '_';
            if (word.size() > kLongestEncodedWord)
                closeWord();
        } else if (c < 32 || c >= 127 || c == '_' || IsHeaderSpecial(c)) {
            AppendHex(word, c);
        } else {
            word += static_cast<char>(c);
        }
    }
    if (!word.empty())
        closeWord();
    return result;
}

std::string MailAddressForm(std::string_view value, std::string_view mimeCharset, const TNameConverter& convertName)
{
    if (value.find_first_of("\"<") == std::string_view::npos)
        return std::string(value);
    std::string result;
    for (const auto& piece : SplitMailAddressList(value)) {
        if (!result.empty())
            result += ", ";
        std::string name = MailDisplayName(piece);
        std::string address = BareMailAddress(piece);
        if (name.empty()) {
            result += address;
            continue;
        }
        if (convertName)
            name = convertName(name);
        result += "\"" + EncodeHeaderText(name, mimeCharset) + "\"<" + address + ">";
    }
    return result;
}

std::string Rfc5322Date(const TDateTime& when)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int month = when.Month >= 1 && when.Month <= 12 ? when.Month : 1;
    int offset = std::abs(when.UtcOffsetMinutes);
    std::string s;
    s += days[WeekDay(when.Year, month, when.Day)];
    s += ", " + std::to_string(when.Day) + " " + months[month - 1] + " " + std::to_string(when.Year) + " ";
    s += TwoDigits(when.Hour) + ":" + TwoDigits(when.Minute) + ":" + TwoDigits(when.Second) + " ";
    s += when.UtcOffsetMinutes < 0 ? '-' : '+';
    s += TwoDigits(offset / 60 % 100) + TwoDigits(offset % 60);
    return s;
}

std::vector<std::string> FoldHeaderLine(std::string_view line)
{
    std::vector<std::string> out;
    // The first fold may not come before the blank that follows "Name:".
    size_t colon = line.find(':');
    size_t firstAllowed = colon == std::string_view::npos ? 1 : colon + 2;
    while (line.size() > kLongestHeaderLine) {
        size_t cut = std::string_view::npos;
        // The last blank run that starts within the limit, else the first one after it.
        for (size_t p = firstAllowed; p < line.size(); ++p) {
            if (!IsBlank(line[p]) || IsBlank(line[p - 1]))
                continue;
            if (p <= kLongestHeaderLine || cut == std::string_view::npos)
                cut = p;
            if (p > kLongestHeaderLine)
                break;
        }
        if (cut == std::string_view::npos)
            break;
        out.emplace_back(line.substr(0, cut));
        line.remove_prefix(cut);
        firstAllowed = 1;
    }
    out.emplace_back(line);
    return out;
}

std::vector<std::string> SplitBodyLines(std::string_view body)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(body.substr(start));
            break;
        }
        lines.emplace_back(body.substr(start, end - start));
        start = end + (body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

std::vector<std::string> ComposeMailLines(const TMailMessage& message, const TDateTime& now)
{
    const std::string& cs = message.MimeCharset;
    std::vector<std::string> lines;
    AddHeader(lines, "From: " + MailAddressForm(message.From, cs, message.ConvertName));
    AddHeader(lines, "To: " + MailAddressForm(message.To, cs, message.ConvertName));
    if (!message.Subject.empty())
        AddHeader(lines, "Subject: " + EncodeHeaderText(message.Subject, cs));
    AddHeader(lines, "Date: " + Rfc5322Date(now));
    AddHeader(lines, "MIME-Version: 1.0");
    AddHeader(lines, "X-mailer: Velotext");
    AddHeader(lines, "Reply-To: " + BareMailAddress(message.From));
    AddHeader(lines, "Content-type: text/plain; charset=" + cs);
    AddHeader(lines, "Content-Description: Message text");
    AddHeader(lines, "Content-Disposition: inline");
    AddHeader(lines, "Content-Transfer-Encoding: 8bit");
    lines.emplace_back();
    for (auto& line : SplitBodyLines(message.Body))
        lines.push_back(std::move(line));
    return lines;
}

std::string JoinMailLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}
