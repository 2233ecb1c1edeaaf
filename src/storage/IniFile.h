#pragma once
// Profile (INI) files with the Windows rules the program's data files were
// always written with, kept whole in memory: a file is parsed once and written
// once.
//
// File form: CP1251 bytes; section lines "[" name "]", entry lines key "=" value;
// lines end with CR LF on writing and with CR, LF or CR LF on reading.
//
// Reading rules:
//  - section and key names match without regard to letter case (CP1251 rules,
//    Cyrillic included); blanks (space, tab) around names are ignored;
//  - a section name runs from "[" to the last "]" of its line, so a name may
//    itself hold "]";
//  - a value loses its leading and trailing blanks, then one pair of enclosing
//    double or single quotes;
//  - a section that occurs twice is one section (its keys are merged), and of a
//    key that occurs twice in a section the first value counts;
//  - empty lines, lines starting with ";", lines without "=", and entries
//    before the first section are ignored; so are the entries of a "[" line
//    without "]";
//  - nothing limits the length of a value or the number of sections.
//
// Writing rules (what a value cannot carry is made safe, so that whatever is
// written reads back the same and never spoils the lines that follow):
//  - a value or section name holding line breaks gets one blank for each break
//    (CR LF, CR or LF), at once, so the object reads back what the file will;
//  - a value with a blank or tab at either end, or enclosed in matching quotes,
//    is written inside one more pair of double quotes;
//  - a key name must be a plain name: not empty, no "=", no line break, not
//    starting with "[" or ";"; any other key is a programming error and raises
//    TError.
//
// New sections are added at the end, new keys at the end of their section;
// writing an existing key replaces its value in place.
//
// Load reads the file through DataFileText (model/DataFileText.h): a file that
// is not text is refused, a UTF-8 one is converted to CP1251.
//
// The loaded text is kept as one buffer and every name and value read from it
// is a range of that buffer (written ones are appended to it): loading parses
// in one pass without a string per entry.
#include "model/DataFileText.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TIniFile {
public:
    // An empty profile not bound to a file.
    TIniFile();
    // Binds the file name and loads the file; a missing file gives an empty
    // profile (the file is not created). Raises TError naming the file when it
    // exists but cannot be read (a folder, no permission).
    explicit TIniFile(std::string fileName);
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;
    TIniFile(TIniFile&&) noexcept;
    TIniFile& operator=(TIniFile&&) noexcept;

    const std::string& FileName() const { return Name; }
    void SetFileName(std::string fileName) { Name = std::move(fileName); }

    // Replaces the contents by the file's (missing file: empty). Raises
    // TError naming the file when it is not text (see DataFileText).
    void Load();
    // Lines of the file that are not text (see TOpaqueLine), for the loads
    // that follow.
    void SetOpaqueLines(TOpaqueLine opaque) { Opaque = std::move(opaque); }
    // Replaces the contents by the parsed bytes.
    void LoadFromText(std::string_view bytes);
    // The bytes the file would hold.
    std::string SaveToText() const;
    // Writes the file safely (temporary file, flush, rename); `mode` as in
    // SaveFileSafely (0 keeps the old file's permissions). Raises TError naming
    // the file on failure, leaving the old file whole.
    void Save(unsigned mode = 0) const;

    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // Decimal, or hexadecimal after "0x"/"0X"; anything else gives `def`.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    // Read as an integer: any value other than 0 is true.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    // The value as ReadString gives it, without a copy: false when the key is
    // missing. The view is valid until the profile changes.
    bool FindValue(std::string_view section, std::string_view key, std::string_view& value) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    // Section names in file order.
    std::vector<std::string> ReadSections() const;
    // The same, as views valid until the profile changes.
    std::vector<std::string_view> SectionNames() const;
    bool SectionExists(std::string_view section) const;
    // Whether the loaded text held nothing but blanks and line breaks.
    bool LoadedBlank() const;
    // Calls `visit` with every section's name, from the last section to the
    // first, and whether the loaded text had more than one line for it (names
    // equal without regard to letter case): the reading above merges them,
    // which readers of one-object-per-section files must refuse. Reading the
    // visited section from within `visit` needs no lookup by name.
    void ForEachSectionFromLast(const std::function<void(std::string_view name, bool repeated)>& visit) const;
    // Key names of one section in order (empty for a missing section).
    std::vector<std::string> ReadSection(std::string_view section) const;
    // Calls `visit` with every key and value of the section, in order (each
    // key once, with the value that ReadString gives).
    void ForEachValue(std::string_view section,
                      const std::function<void(std::string_view key, std::string_view value)>& visit) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    void DeleteKey(std::string_view section, std::string_view key);
    void EraseSection(std::string_view section);
    // Removes every section.
    void Clear();

    struct TImpl;

private:
    TImpl& D() const;
    void Parse(std::string&& bytes);
    std::string Name;
    TOpaqueLine Opaque;
    mutable std::unique_ptr<TImpl> Impl;
};

// A data file that holds text but no section its reader takes is no file of
// that kind (or one an editor spoiled): it is refused (RefuseDataFile, naming
// the file and `expected`, what such a file holds) rather than taken for an
// empty one that the next save would write over.
void RequireKnownSection(const TIniFile& ini, const std::function<bool(std::string_view section)>& known,
                         const std::string& expected);

// The lines TIniFile writes for a section and for an entry, with the same
// writing rules, for writers that build a profile straight as text (the key
// must be a plain name).
void AppendIniSectionLine(std::string& out, std::string_view name);
void AppendIniEntryLine(std::string& out, std::string_view key, std::string_view value);

// The integer reading rule of profile files, for other stores that keep
// numbers as text: decimal, or hexadecimal after "0x"/"0X" (more than two
// characters, up to 32 bits); anything else gives `def`.
int IniStrToInt(std::string_view text, int def);
