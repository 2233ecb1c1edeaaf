#pragma once
// The composer's unsent text, kept in the data folder ("SmsDraft.txt", CP1251,
// CR LF line breaks) so that it comes back at the next start.
#include <cstddef>
#include <string>

// The largest kept text that is read: far more than any message.
constexpr std::size_t SmsDraftSizeLimit = 64 * 1024;

// The kept text; empty when there is none. Read as the other data files are
// (UTF-8 converted; UTF-16 and binary files refused). Raises TError naming
// the file when it is there but cannot be read or is over SmsDraftSizeLimit;
// such a file must then not be written over.
std::string LoadSmsDraft();
// Keeps the text through a safe save; an empty text removes the file.
void SaveSmsDraft(const std::string& text);
