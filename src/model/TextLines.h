#pragma once
// Line handling shared by the text files and profile files.
#include <string>
#include <string_view>
#include <vector>

// The lines of a text: a line ends at CR, LF or CR LF; a final line break
// adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

// A copy with one blank for every line break (CR LF, CR or LF).
std::string LineBreaksToBlanks(std::string_view text);
// A text of several lines (an error text) for a one-line display: its
// non-empty lines, trimmed, joined by "; ".
std::string JoinLines(std::string_view text);

// The position of the first CR or LF at or after `from`, or npos.
size_t FindLineBreak(std::string_view text, size_t from = 0);
bool HasLineBreak(std::string_view text);
