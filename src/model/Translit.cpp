#include "model/Translit.h"

#include "model/DataFileText.h"
#include "model/DataPaths.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "model/TextLines.h"

#include <filesystem>

namespace {

struct TDefaultEntry {
    unsigned char Code;
    const char* Text;
};

// Replacements that differ from the byte itself: CP1251 code -> Latin text.
constexpr TDefaultEntry DefaultEntries[] = {
    {224, "a"},   {192, "A"},  {225, "b"},  {193, "B"},  {226, "v"},   {194, "V"},   {227, "g"},  {195, "G"},
    {228, "d"},   {196, "D"},  {229, "e"},  {197, "E"},  {184, "jo"},  {168, "JO"},  {230, "zh"}, {198, "ZH"},
    {231, "z"},   {199, "Z"},  {232, "i"},  {200, "I"},  {233, "jj"},  {201, "JJ"},  {234, "k"},  {202, "K"},
    {235, "l"},   {203, "L"},  {236, "m"},  {204, "M"},  {237, "n"},   {205, "N"},   {238, "o"},  {206, "O"},
    {239, "p"},   {207, "P"},  {240, "r"},  {208, "R"},  {241, "s"},   {209, "S"},   {242, "t"},  {210, "T"},
    {243, "u"},   {211, "U"},  {244, "f"},  {212, "F"},  {245, "kh"},  {213, "KH"},  {246, "c"},  {214, "C"},
    {247, "ch"},  {215, "CH"}, {248, "sh"}, {216, "SH"}, {249, "shh"}, {217, "SHH"}, {250, "\""}, {218, "\""},
    {251, "y"},   {219, "Y"},  {252, "'"},  {220, "'"},  {253, "eh"},  {221, "EH"},  {254, "ju"}, {222, "JU"},
    {255, "ja"},  {223, "JA"},
    // Outside the alphabet: the hyphen-minus becomes a space, the grave accent
    // an apostrophe, the typographic double quotes plain ones.
    {45, " "},    {96, "'"},   {147, "\""}, {148, "\""},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool EndsReplacement(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// One line of the file (without its line end).
void ParseLine(TTranslitTable& table, std::string_view line)
{
    size_t i = 0;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    if (i >= line.size())
        return;
    unsigned char key = static_cast<unsigned char>(line[i++]);
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    if (i >= line.size())
        return; // a key alone keeps the entry's current value
    size_t end = i;
    while (end < line.size() && !EndsReplacement(line[end]))
        ++end;
    table[key] = std::string(line.substr(i, end - i));
}

} // namespace

TTranslitTable DefaultTranslitTable()
{
    TTranslitTable table;
    for (int i = 0; i < 256; ++i)
        table[i] = std::string(1, static_cast<char>(i));
    for (const auto& entry : DefaultEntries)
        table[entry.Code] = entry.Text;
    return table;
}

TTranslitTable& TranslitTable()
{
    static TTranslitTable table = DefaultTranslitTable();
    return table;
}

void ResetTranslitTable() { TranslitTable() = DefaultTranslitTable(); }

void ParseTranslitText(TTranslitTable& table, std::string_view content)
{
    // A line ends at CR LF, at a lone LF or at a lone CR; the last line may
    // lack its line end.
    size_t start = 0;
    while (start < content.size()) {
        size_t end = FindLineBreak(content, start);
        if (end == std::string_view::npos) {
            ParseLine(table, content.substr(start));
            break;
        }
        ParseLine(table, content.substr(start, end - start));
        start = end + 1;
        if (content[end] == '\r' && start < content.size() && content[start] == '\n')
            ++start;
    }
}

std::string FormatTranslitText(const TTranslitTable& table)
{
    static const TTranslitTable defaults = DefaultTranslitTable();
    std::string out;
    for (int i = 0; i < 256; ++i) {
        const char key = static_cast<char>(i);
        const std::string& entry = table[i];
        // An entry that maps its byte to itself is normally left out; when the
        // default says otherwise (ж -> "ж") it is written, or loading would
        // bring the default back and lose the user's choice.
        if (entry.size() == 1 && entry[0] == key && defaults[i] == entry)
            continue;
        // A key that is a blank or a line end cannot be read back; its line
        // would instead set the entry of another byte, so it is not written.
        if (IsBlank(key) || key == '\r' || key == '\n')
            continue;
        std::string text = Trim(entry);
        // A line end inside the text would start a new line that sets another
        // byte's entry; the reader stops at the first blank anyway.
        size_t cut = FindLineBreak(text);
        if (cut != std::string::npos)
            text.resize(cut);
        out += key;
        out += '\t';
        out += text;
        out += "\r\n";
    }
    return out;
}

void LoadTranslitTable(const std::string& fileName)
{
    ResetTranslitTable();
    const std::string path = ResolveDataFilePath(fileName);
    // Only a file that is not there means "defaults"; anything else that
    // stops the read (a folder, no permission) is reported.
    std::error_code ec;
    if (std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found)
        return;
    const std::string content = ReadDataFileText(path);
    ParseTranslitText(TranslitTable(), content);
}

void SaveTranslitTable(const std::string& fileName)
{
    SaveFileSafely(ResolveDataFilePath(fileName), FormatTranslitText(TranslitTable()));
}

const std::string& TranslitChar(unsigned char c) { return TranslitTable()[c]; }

std::string Translit(std::string_view text) { return Translit(TranslitTable(), text); }

std::string Translit(const TTranslitTable& table, std::string_view text)
{
    size_t size = 0;
    for (char c : text)
        size += table[static_cast<unsigned char>(c)].size();
    std::string out;
    out.reserve(size);
    for (char c : text)
        out += table[static_cast<unsigned char>(c)];
    return out;
}
