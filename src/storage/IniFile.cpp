#include "storage/IniFile.h"

#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "model/TextLines.h"

#include <cerrno>
#include <cstdint>
#include <sys/stat.h>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// A section or key name as the file will give it back.
std::string NormalName(std::string_view name)
{
    if (HasLineBreak(name))
        return std::string(TrimBlanks(LineBreaksToBlanks(name)));
    return std::string(TrimBlanks(name));
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool EnclosedInQuotes(std::string_view v) { return v.size() >= 2 && IsQuote(v.front()) && v.front() == v.back(); }

std::string_view Unquote(std::string_view v)
{
    if (EnclosedInQuotes(v))
        return v.substr(1, v.size() - 2);
    return v;
}

bool ValueNeedsQuotes(std::string_view v)
{
    return !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) || EnclosedInQuotes(v));
}

void CheckKeyName(std::string_view key)
{
    std::string_view k = TrimBlanks(key);
    if (k.empty() || k.find('=') != std::string_view::npos || HasLineBreak(k) || k.front() == '[' ||
        k.front() == ';')
        throw SystemError(Cp1251("Недопустимое имя ключа INI-файла: ") + std::string(key));
}

} // namespace

int IniStrToInt(std::string_view text, int def)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint64_t v = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            int d = HexDigitValue(text[i]);
            if (d < 0)
                return def;
            v = v * 16 + static_cast<unsigned>(d);
            if (v > 0xFFFFFFFFu)
                return def;
        }
        // Eight hex digits cover the whole 32-bit pattern: 0xFFFFFFFF is -1.
        return static_cast<int>(static_cast<uint32_t>(v));
    }
    int value = 0;
    return TryStrToInt(text, value) ? value : def;
}

struct TIniFile::TSection {
    struct TEntry {
        std::string Key;
        std::string Value;
    };
    std::string Name;
    std::vector<TEntry> Entries;
    int Headers = 0; // section lines of this name in the loaded text
    // Upper-case key -> position; built only once a section grows past a few keys.
    std::unordered_map<std::string, size_t> Index;

    static constexpr size_t IndexFrom = 12;

    long Find(std::string_view key) const
    {
        if (Entries.size() > IndexFrom) {
            auto it = Index.find(UpperCase(key));
            return it == Index.end() ? -1 : static_cast<long>(it->second);
        }
        for (size_t i = 0; i < Entries.size(); ++i)
            if (SameText(Entries[i].Key, key))
                return static_cast<long>(i);
        return -1;
    }

    void Add(std::string key, std::string value)
    {
        Entries.push_back({std::move(key), std::move(value)});
        if (Entries.size() == IndexFrom + 1) {
            Index.reserve(Entries.size() * 2);
            for (size_t i = 0; i < Entries.size(); ++i)
                Index.emplace(UpperCase(Entries[i].Key), i);
        } else if (Entries.size() > IndexFrom + 1) {
            Index.emplace(UpperCase(Entries.back().Key), Entries.size() - 1);
        }
    }

    void Remove(size_t pos)
    {
        Entries.erase(Entries.begin() + static_cast<long>(pos));
        Index.clear();
        if (Entries.size() > IndexFrom)
            for (size_t i = 0; i < Entries.size(); ++i)
                Index.emplace(UpperCase(Entries[i].Key), i);
    }
};

TIniFile::TIniFile() = default;
TIniFile::~TIniFile() = default;
TIniFile::TIniFile(TIniFile&&) noexcept = default;
TIniFile& TIniFile::operator=(TIniFile&&) noexcept = default;

TIniFile::TIniFile(std::string fileName) : Name(std::move(fileName)) { Load(); }

void TIniFile::Load()
{
    struct stat st {};
    if (::stat(Name.c_str(), &st) != 0 && errno == ENOENT) {
        Clear();
        return;
    }
    // Anything that exists goes through the reader, which names the file when
    // it is a folder or cannot be read.
    LoadFromText(ReadWholeFile(Name));
}

void TIniFile::LoadFromText(std::string_view text)
{
    Clear();
    TSection* current = nullptr;
    size_t pos = 0;
    const size_t n = text.size();
    while (pos < n) {
        size_t eol = pos;
        while (eol < n && text[eol] != '\r' && text[eol] != '\n')
            ++eol;
        std::string_view line = TrimBlanks(text.substr(pos, eol - pos));
        pos = eol;
        if (pos < n && text[pos] == '\r') {
            ++pos;
            if (pos < n && text[pos] == '\n')
                ++pos;
        } else if (pos < n) {
            ++pos; // a line feed
        }

        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            size_t close = line.rfind(']');
            current = close == std::string_view::npos ? nullptr
                                                      : &ObtainSection(TrimBlanks(line.substr(1, close - 1)));
            if (current)
                ++current->Headers;
            continue;
        }
        if (!current)
            continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view key = TrimBlanks(line.substr(0, eq));
        if (key.empty() || current->Find(key) >= 0)
            continue;
        current->Add(std::string(key), std::string(Unquote(TrimBlanks(line.substr(eq + 1)))));
    }
}

std::string TIniFile::SaveToText() const
{
    std::string out;
    for (const auto& s : Sections) {
        if (!s)
            continue;
        out += '[';
        out += s->Name;
        out += "]\r\n";
        for (const auto& e : s->Entries) {
            out += e.Key;
            out += '=';
            if (ValueNeedsQuotes(e.Value)) {
                out += '"';
                out += e.Value;
                out += '"';
            } else {
                out += e.Value;
            }
            out += "\r\n";
        }
    }
    return out;
}

void TIniFile::Save(unsigned mode) const { SaveFileSafely(Name, SaveToText(), mode); }

const TIniFile::TSection* TIniFile::FindSection(std::string_view section) const
{
    auto it = SectionIndex.find(UpperCase(NormalName(section)));
    return it == SectionIndex.end() ? nullptr : Sections[it->second].get();
}

TIniFile::TSection* TIniFile::FindSection(std::string_view section)
{
    return const_cast<TSection*>(static_cast<const TIniFile*>(this)->FindSection(section));
}

TIniFile::TSection& TIniFile::ObtainSection(std::string_view section)
{
    std::string name = NormalName(section);
    auto [it, added] = SectionIndex.try_emplace(UpperCase(name), Sections.size());
    if (added) {
        auto s = std::make_unique<TSection>();
        s->Name = std::move(name);
        Sections.push_back(std::move(s));
    }
    return *Sections[it->second];
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    const TSection* s = FindSection(section);
    if (!s)
        return std::string(def);
    long i = s->Find(NormalName(key));
    return i < 0 ? std::string(def) : s->Entries[static_cast<size_t>(i)].Value;
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const
{
    const TSection* s = FindSection(section);
    if (!s)
        return def;
    long i = s->Find(NormalName(key));
    return i < 0 ? def : IniStrToInt(s->Entries[static_cast<size_t>(i)].Value, def);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    CheckKeyName(key);
    std::string k(TrimBlanks(key));
    std::string v = HasLineBreak(value) ? LineBreaksToBlanks(value) : std::string(value);
    TSection& s = ObtainSection(section);
    long i = s.Find(k);
    if (i >= 0)
        s.Entries[static_cast<size_t>(i)].Value = std::move(v);
    else
        s.Add(std::move(k), std::move(v));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value)
{
    WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

std::vector<std::string> TIniFile::ReadSections() const
{
    std::vector<std::string> names;
    names.reserve(Sections.size() - Erased);
    for (const auto& s : Sections)
        if (s)
            names.push_back(s->Name);
    return names;
}

bool TIniFile::SectionExists(std::string_view section) const { return FindSection(section) != nullptr; }

bool TIniFile::SectionRepeated(std::string_view section) const
{
    const TSection* s = FindSection(section);
    return s && s->Headers > 1;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const
{
    std::vector<std::string> keys;
    if (const TSection* s = FindSection(section)) {
        keys.reserve(s->Entries.size());
        for (const auto& e : s->Entries)
            keys.push_back(e.Key);
    }
    return keys;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const
{
    const TSection* s = FindSection(section);
    return s && s->Find(NormalName(key)) >= 0;
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key)
{
    if (TSection* s = FindSection(section)) {
        long i = s->Find(NormalName(key));
        if (i >= 0)
            s->Remove(static_cast<size_t>(i));
    }
}

void TIniFile::EraseSection(std::string_view section)
{
    auto it = SectionIndex.find(UpperCase(NormalName(section)));
    if (it == SectionIndex.end())
        return;
    Sections[it->second].reset();
    SectionIndex.erase(it);
    ++Erased;
    if (Erased > 64 && Erased > Sections.size() / 2)
        Compact();
}

void TIniFile::Compact()
{
    std::vector<std::unique_ptr<TSection>> live;
    live.reserve(Sections.size() - Erased);
    for (auto& s : Sections)
        if (s)
            live.push_back(std::move(s));
    Sections = std::move(live);
    SectionIndex.clear();
    for (size_t i = 0; i < Sections.size(); ++i)
        SectionIndex.emplace(UpperCase(Sections[i]->Name), i);
    Erased = 0;
}

void TIniFile::Clear()
{
    Sections.clear();
    SectionIndex.clear();
    Erased = 0;
}
