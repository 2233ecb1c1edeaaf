#pragma once
// Phone numbers as people write them, and "sms:" links (RFC 5724).
#include <string>
#include <string_view>
#include <vector>

// The number with blanks, dashes, dots and brackets taken out, and an
// 11-digit Russian number's leading "8" written "+7", so that "8 (916)
// 123-45-67" and "+79161234567" compare equal.
std::string NormalizedPhone(std::string_view phone);
// Whether the text is a phone number rather than a name: an optional "+",
// then at least three digits among blanks, dashes, dots and brackets.
bool LooksLikePhone(std::string_view text);

// What an "sms:" link carries.
struct TSmsLink {
    std::vector<std::string> Phones; // as written in the link, percent-decoded
    std::string Body;                // CP1251 (the link carries UTF-8)
};
// Reads "sms:NUMBER[,NUMBER...][?body=TEXT]" (the scheme in any letter case,
// percent-encoding decoded, parameters after ";" in a number ignored). False
// for a text that is not such a link or names no number.
bool ParseSmsLink(std::string_view link, TSmsLink& result);
