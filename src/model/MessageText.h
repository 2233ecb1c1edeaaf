#pragma once
// The one rule for a message's text, whichever way it comes in: the composer,
// the command line (--text, --text-file, standard input), an "sms:" link's
// body, the history's "Повторить".
#include <string>
#include <string_view>
#include <vector>

// The longest text the composer takes, in characters.
constexpr int MaxMessageLength = 480;

// The text that is sent: trimmed, every line break (CR LF, CR or LF) one
// blank, so that a line break never glues two words ("ab", CR LF, "cd" gives
// "ab cd").
std::string ComposedMessageText(std::string_view text);

// Why bytes read from a file or standard input are not a message text
// (CP1251, Russian), or empty when they are UTF-8 text: NUL bytes (UTF-16
// named as such), control characters of binary data, bytes that are not UTF-8.
// A leading UTF-8 byte-order mark is fine.
std::string MessageBytesProblem(std::string_view bytes);

// The characters of a UTF-8 text that CP1251 has no byte for, each once, in
// their order.
std::vector<char32_t> CharsCp1251Lacks(std::string_view utf8);
