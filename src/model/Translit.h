#pragma once
// The transliteration table: every CP1251 byte maps to a replacement text.
// One table per process, filled with the Russian-to-Latin defaults at start;
// the transliteration dialog reads and writes its entries directly.
#include <array>
#include <string>
#include <string_view>

using TTranslitTable = std::array<std::string, 256>;

// The process table (UI thread only; a delivery worker gets a copy).
TTranslitTable& TranslitTable();

// A table holding the defaults, without touching the process table.
TTranslitTable DefaultTranslitTable();

// Sets the process table to its defaults.
void ResetTranslitTable();

// Defaults, then the file's entries on top. A bare name resolves in the
// program's folder. A missing file leaves the defaults (and is not created);
// any other read failure raises TError. The file is read as DataFileText
// reads (a file that is not text is refused, UTF-8 is converted).
void LoadTranslitTable(const std::string& fileName);

// Writes every entry that differs from its own byte, one "key TAB text" line
// each, through the safe writer. Raises TError on failure.
void SaveTranslitTable(const std::string& fileName);

// Parses the file format into the given table (entries are set on top of
// what the table holds).
void ParseTranslitText(TTranslitTable& table, std::string_view content);
// The file's bytes for a table.
std::string FormatTranslitText(const TTranslitTable& table);

// The process table's entry for one byte.
const std::string& TranslitChar(unsigned char c);

// The concatenation of the entries of the text's bytes.
std::string Translit(std::string_view text);
std::string Translit(const TTranslitTable& table, std::string_view text);
