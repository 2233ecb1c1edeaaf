#pragma once
// The composer's unsent text, kept in the data folder ("SmsDraft.txt", CP1251,
// CR LF line breaks) so that it comes back at the next start.
#include <string>

// The kept text; empty when there is none. Raises TError when the file is
// there but cannot be read.
std::string LoadSmsDraft();
// Keeps the text through a safe save; an empty text removes the file.
void SaveSmsDraft(const std::string& text);
