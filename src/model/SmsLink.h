#pragma once
// Phone numbers as people write them, and "sms:" links (RFC 5724).
#include <string>
#include <string_view>
#include <vector>

// The number as a gateway takes it: the characters people format a number
// with (blanks, dashes, dots, brackets) left out, everything else (digits, a
// leading "+") as written. No country code is added or removed.
std::string GatePhone(std::string_view phone);
// The key by which two numbers are "the same number", the one rule of every
// lookup (import duplicates, links, the command line, the history's retry):
// formatting left out; a ten-digit number and the same ten digits after "+7",
// "7" or "8" give "+7" and those ten digits; any other number its digits
// alone; a text that is no number, itself without the formatting.
std::string NormalizedPhone(std::string_view phone);
bool SamePhone(std::string_view a, std::string_view b);
// Whether the text is a phone number rather than a name: an optional "+",
// then at least three digits among blanks, dashes, dots and brackets.
bool LooksLikePhone(std::string_view text);

// What an "sms:" link carries.
struct TSmsLink {
    std::vector<std::string> Phones; // as written in the link, percent-decoded (UTF-8; digits and formatting)
    std::string Body;                // UTF-8, so that characters CP1251 lacks can be shown and marked
    std::string Error;               // CP1251: why the link opens nothing; empty when it is usable
};
// Reads "sms:NUMBER[,NUMBER...][?body=TEXT]" (the scheme in any letter case,
// percent-encoding decoded, parameters after ";" in a number ignored, the
// "sms:NUMBER&body=TEXT" some phones write too; a body that is not UTF-8 is
// read as CP1251). True for a usable link: numbers only, a body only, or both.
// False for a text that is not an "sms:" link (Error empty) or one that names
// something other than a number, or nothing (Error says why, in Russian).
bool ParseSmsLink(std::string_view link, TSmsLink& result);
