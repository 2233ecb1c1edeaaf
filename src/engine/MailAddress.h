#pragma once
// E-mail address texts as the user types them: a bare address ("a@b.ru"), a
// quoted display name with an address ("\"Ivan\" <a@b.ru>"), a name before
// angle brackets ("Ivan <a@b.ru>"), and lists of these separated by commas.
#include <string>
#include <string_view>
#include <vector>

// The display name of an address text: the text inside the first pair of
// double quotes, otherwise the text before "<"; trimmed; empty when there is none.
std::string MailDisplayName(std::string_view value);

// The address alone: the text inside the angle brackets when there are any
// (outside quotes), otherwise the text after a quoted display name, otherwise
// the whole text; trimmed.
std::string BareMailAddress(std::string_view value);

// Splits an address list at commas that are not inside double quotes; each
// piece is trimmed, empty pieces are skipped.
std::vector<std::string> SplitMailAddressList(std::string_view value);

// True when the text holds a carriage return, a line feed or a NUL: such a
// text must never reach a mail header or a protocol command.
bool HasLineBreakOrNul(std::string_view text);
