#include "storage/IniFile.h"

#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "model/TextLines.h"

#include <cerrno>
#include <climits>
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

// A section or key name as the file will give it back; `buffer` holds it
// when it differs from a part of `name`.
std::string_view NormalName(std::string_view name, std::string& buffer)
{
    if (!HasLineBreak(name))
        return TrimBlanks(name);
    buffer = std::string(TrimBlanks(LineBreaksToBlanks(name)));
    return buffer;
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

namespace {

// A range of the profile's buffer.
struct TRef {
    uint32_t Off = 0;
    uint32_t Len = 0;
};

struct TEntry {
    TRef Key;
    TRef Value;
};

// Open addressing over item positions (position + 1; 0 is a free slot, Gone
// one whose item was erased), each with the high bits of its name's hash so
// that a probe compares names only when the hashes agree. The caller gives
// the hash of a name and tells whether the item at a position has that name.
constexpr uint32_t FreeSlot = 0;
constexpr uint32_t GoneSlot = UINT32_MAX;

struct TTable {
    struct TSlot {
        uint32_t Pos = FreeSlot;
        uint32_t Tag = 0;
    };
    std::vector<TSlot> Slots;
    size_t Used = 0; // slots that are not free (gone ones included)

    static uint32_t TagOf(size_t hash) { return static_cast<uint32_t>(static_cast<uint64_t>(hash) >> 32) ^ static_cast<uint32_t>(hash); }

    template <class Match>
    long Find(size_t hash, Match match) const
    {
        if (Slots.empty())
            return -1;
        const uint32_t tag = TagOf(hash);
        const size_t mask = Slots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const TSlot& v = Slots[i];
            if (v.Pos == FreeSlot)
                return -1;
            if (v.Pos != GoneSlot && v.Tag == tag && match(v.Pos - 1))
                return static_cast<long>(v.Pos - 1);
        }
    }
    // Whether a new item fits without a rebuild.
    bool HasRoomForOneMore() const { return !Slots.empty() && (Used + 1) * 2 <= Slots.size(); }
    void Place(size_t hash, size_t position)
    {
        const size_t mask = Slots.size() - 1;
        size_t i = hash & mask;
        while (Slots[i].Pos != FreeSlot)
            i = (i + 1) & mask;
        Slots[i] = {static_cast<uint32_t>(position + 1), TagOf(hash)};
        ++Used;
    }
    void Erase(size_t hash, size_t position)
    {
        const size_t mask = Slots.size() - 1;
        for (size_t i = hash & mask; Slots[i].Pos != FreeSlot; i = (i + 1) & mask)
            if (Slots[i].Pos == position + 1) {
                Slots[i].Pos = GoneSlot;
                return;
            }
    }
    void Reset(size_t items)
    {
        size_t size = 16;
        while (size < items * 2 + 2)
            size <<= 1;
        Slots.assign(size, TSlot {});
        Used = 0;
    }
    void Clear()
    {
        Slots.clear();
        Used = 0;
    }
};

} // namespace

struct TIniFile::TImpl {
    struct TSection {
        TRef Name;
        size_t Hash = 0;
        std::vector<TEntry> Entries;
        // Keys by name, built once a section grows past a few keys.
        mutable TTable Keys;
        uint32_t Headers = 0; // section lines of this name in the loaded text
        bool Live = true;
    };
    static constexpr size_t IndexKeysFrom = 12;

    // The loaded text, then every name and value written since.
    std::string Store;
    std::vector<TSection> Sections; // erased ones stay (not Live) until compacted
    TTable Index;                   // live sections by name
    mutable size_t LastFound = SIZE_MAX; // the section Find gave last
    size_t Erased = 0;
    bool Blank = true; // the loaded text had no line but blanks

    bool Holds(std::string_view text) const
    {
        return !text.empty() && text.data() >= Store.data() && text.data() < Store.data() + Store.size();
    }

    // A text given to a writer that lies in the buffer is copied out first:
    // appending to the buffer may move it.
    std::string_view Owned(std::string_view text, std::string& copy) const
    {
        if (!Holds(text))
            return text;
        copy.assign(text);
        return copy;
    }

    std::string_view View(TRef r) const { return std::string_view(Store.data() + r.Off, r.Len); }

    TRef RefOf(std::string_view inStore) const
    {
        return {static_cast<uint32_t>(inStore.data() - Store.data()), static_cast<uint32_t>(inStore.size())};
    }

    TRef Put(std::string_view text)
    {
        if (Store.size() + text.size() > UINT32_MAX)
            throw TError(Cp1251("Слишком большой INI-файл."));
        // A part of the buffer is used where it is (the parse names its
        // ranges so); writers never pass one (see Owned).
        if (Holds(text))
            return RefOf(text);
        TRef r {static_cast<uint32_t>(Store.size()), static_cast<uint32_t>(text.size())};
        Store.append(text);
        return r;
    }

    long FindSection(std::string_view name) const
    {
        return Index.Find(CaseFoldHash(name),
                          [&](size_t i) { return SameText(View(Sections[i].Name), name); });
    }

    void IndexSections()
    {
        Index.Reset(Sections.size() - Erased);
        for (size_t i = 0; i < Sections.size(); ++i)
            if (Sections[i].Live)
                Index.Place(Sections[i].Hash, i);
    }

    // The position of the section, added at the end when missing; `name` is
    // already in the form the file gives back.
    size_t ObtainSection(std::string_view name)
    {
        const size_t hash = CaseFoldHash(name);
        const long found = Index.Find(hash, [&](size_t i) { return SameText(View(Sections[i].Name), name); });
        if (found >= 0)
            return static_cast<size_t>(found);
        TSection s;
        s.Name = Put(name);
        s.Hash = hash;
        s.Entries.reserve(4);
        Sections.push_back(std::move(s));
        if (Index.HasRoomForOneMore())
            Index.Place(hash, Sections.size() - 1);
        else
            IndexSections();
        return Sections.size() - 1;
    }

    long FindKey(const TSection& s, std::string_view key) const
    {
        if (s.Entries.size() <= IndexKeysFrom) {
            for (size_t i = 0; i < s.Entries.size(); ++i)
                if (SameText(View(s.Entries[i].Key), key))
                    return static_cast<long>(i);
            return -1;
        }
        if (s.Keys.Slots.empty())
            IndexKeys(s);
        return s.Keys.Find(CaseFoldHash(key), [&](size_t i) { return SameText(View(s.Entries[i].Key), key); });
    }

    void IndexKeys(const TSection& s) const
    {
        s.Keys.Reset(s.Entries.size());
        for (size_t i = 0; i < s.Entries.size(); ++i)
            s.Keys.Place(CaseFoldHash(View(s.Entries[i].Key)), i);
    }

    void AddEntry(TSection& s, TRef key, TRef value)
    {
        s.Entries.push_back({key, value});
        if (s.Entries.size() <= IndexKeysFrom)
            return;
        if (s.Keys.HasRoomForOneMore())
            s.Keys.Place(CaseFoldHash(View(key)), s.Entries.size() - 1);
        else
            IndexKeys(s);
    }

    // Stored names are in normal form (no line break, no blank at either
    // end), so a name found as given is the one its normal form finds; only a
    // miss needs the normal form.
    const TSection* Find(std::string_view section) const
    {
        // A reader asks for one section several times in a row: the section
        // found last is checked first. Live names differ but for letter case
        // at least, so the live section that has exactly these bytes is the
        // one the index gives.
        if (LastFound < Sections.size()) {
            const TSection& last = Sections[LastFound];
            if (last.Live && View(last.Name) == section)
                return &last;
        }
        long i = FindSection(section);
        if (i < 0) {
            std::string buffer;
            const std::string_view normal = NormalName(section, buffer);
            if (normal.size() != section.size() || normal.data() != section.data())
                i = FindSection(normal);
        }
        if (i < 0)
            return nullptr;
        LastFound = static_cast<size_t>(i);
        return &Sections[LastFound];
    }

    const TEntry* Find(std::string_view section, std::string_view key) const
    {
        const TSection* s = Find(section);
        if (!s)
            return nullptr;
        long i = FindKey(*s, key);
        if (i < 0) {
            std::string buffer;
            const std::string_view normal = NormalName(key, buffer);
            if (normal.size() != key.size() || normal.data() != key.data())
                i = FindKey(*s, normal);
        }
        return i < 0 ? nullptr : &s->Entries[static_cast<size_t>(i)];
    }

    void Compact()
    {
        std::vector<TSection> live;
        live.reserve(Sections.size() - Erased);
        for (auto& s : Sections)
            if (s.Live)
                live.push_back(std::move(s));
        Sections = std::move(live);
        Erased = 0;
        IndexSections();
    }

    void Clear()
    {
        Store.clear();
        Sections.clear();
        Index.Clear();
        Erased = 0;
        Blank = true;
    }
};

TIniFile::TIniFile() : Impl(std::make_unique<TImpl>()) {}
TIniFile::~TIniFile() = default;
TIniFile::TIniFile(TIniFile&&) noexcept = default;
TIniFile& TIniFile::operator=(TIniFile&&) noexcept = default;

TIniFile::TIniFile(std::string fileName) : Name(std::move(fileName)), Impl(std::make_unique<TImpl>()) { Load(); }

void TIniFile::Load()
{
    struct stat st {};
    if (::stat(Name.c_str(), &st) != 0 && errno == ENOENT) {
        Clear();
        return;
    }
    // Anything that exists goes through the reader, which names the file when
    // it is a folder or cannot be read.
    Parse(ReadDataFileText(Name, Opaque));
}

void TIniFile::LoadFromText(std::string_view bytes) { Parse(std::string(bytes)); }

void TIniFile::Parse(std::string&& bytes)
{
    TImpl& d = D();
    d.Clear();
    if (bytes.size() > UINT32_MAX)
        throw TError(Cp1251("Слишком большой INI-файл."));
    d.Store = std::move(bytes);
    const std::string_view text = d.Store;
    // Room for the sections the text can hold (lines starting with "["):
    // counted, not trusted from anything the file says.
    size_t headers = !text.empty() && text.front() == '[';
    for (size_t at = text.find("\n["); at != std::string_view::npos; at = text.find("\n[", at + 2))
        ++headers;
    d.Sections.reserve(headers);
    long current = -1;
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

        if (line.empty())
            continue;
        d.Blank = false;
        if (line.front() == ';')
            continue;
        if (line.front() == '[') {
            size_t close = line.rfind(']');
            current = close == std::string_view::npos
                          ? -1
                          : static_cast<long>(d.ObtainSection(TrimBlanks(line.substr(1, close - 1))));
            if (current >= 0)
                ++d.Sections[static_cast<size_t>(current)].Headers;
            continue;
        }
        if (current < 0)
            continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view key = TrimBlanks(line.substr(0, eq));
        TImpl::TSection& s = d.Sections[static_cast<size_t>(current)];
        if (key.empty() || d.FindKey(s, key) >= 0)
            continue;
        d.AddEntry(s, d.RefOf(key), d.RefOf(Unquote(TrimBlanks(line.substr(eq + 1)))));
    }
}

std::string TIniFile::SaveToText() const
{
    const TImpl& d = D();
    std::string out;
    out.reserve(d.Store.size() + d.Sections.size() * 4 + 64);
    for (const auto& s : d.Sections) {
        if (!s.Live)
            continue;
        AppendIniSectionLine(out, d.View(s.Name));
        for (const auto& e : s.Entries)
            AppendIniEntryLine(out, d.View(e.Key), d.View(e.Value));
    }
    return out;
}

void TIniFile::Save(unsigned mode) const { SaveFileSafely(Name, SaveToText(), mode); }

bool TIniFile::FindValue(std::string_view section, std::string_view key, std::string_view& value) const
{
    const TEntry* e = D().Find(section, key);
    if (!e)
        return false;
    value = D().View(e->Value);
    return true;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    std::string_view value;
    return std::string(FindValue(section, key, value) ? value : def);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const
{
    std::string_view value;
    return FindValue(section, key, value) ? IniStrToInt(value, def) : def;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    CheckKeyName(key);
    TImpl& d = D();
    std::string sectionCopy, keyCopy, valueCopy, sectionBuffer, valueBuffer;
    section = d.Owned(section, sectionCopy);
    key = d.Owned(key, keyCopy);
    value = d.Owned(value, valueCopy);
    const std::string_view k = TrimBlanks(key);
    const size_t index = d.ObtainSection(NormalName(section, sectionBuffer));
    if (HasLineBreak(value)) {
        valueBuffer = LineBreaksToBlanks(value);
        value = valueBuffer;
    }
    const long i = d.FindKey(d.Sections[index], k);
    if (i >= 0) {
        const TRef v = d.Put(value);
        d.Sections[index].Entries[static_cast<size_t>(i)].Value = v;
    } else {
        const TRef kr = d.Put(k);
        const TRef vr = d.Put(value);
        d.AddEntry(d.Sections[index], kr, vr);
    }
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
    names.reserve(D().Sections.size() - D().Erased);
    for (const auto& s : D().Sections)
        if (s.Live)
            names.emplace_back(D().View(s.Name));
    return names;
}

std::vector<std::string_view> TIniFile::SectionNames() const
{
    std::vector<std::string_view> names;
    names.reserve(D().Sections.size() - D().Erased);
    for (const auto& s : D().Sections)
        if (s.Live)
            names.push_back(D().View(s.Name));
    return names;
}

bool TIniFile::SectionExists(std::string_view section) const { return D().Find(section) != nullptr; }

bool TIniFile::LoadedBlank() const { return D().Blank; }

void TIniFile::ForEachSectionFromLast(const std::function<void(std::string_view name, bool repeated)>& visit) const
{
    const TImpl& d = D();
    for (size_t i = d.Sections.size(); i-- > 0;) {
        const TImpl::TSection& s = d.Sections[i];
        if (!s.Live)
            continue;
        // The reads of this section that `visit` makes find it first.
        d.LastFound = i;
        visit(d.View(s.Name), s.Headers > 1);
    }
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const
{
    std::vector<std::string> keys;
    if (const TImpl::TSection* s = D().Find(section)) {
        keys.reserve(s->Entries.size());
        for (const auto& e : s->Entries)
            keys.emplace_back(D().View(e.Key));
    }
    return keys;
}

void TIniFile::ForEachValue(std::string_view section,
                            const std::function<void(std::string_view key, std::string_view value)>& visit) const
{
    if (const TImpl::TSection* s = D().Find(section))
        for (const auto& e : s->Entries)
            visit(D().View(e.Key), D().View(e.Value));
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const
{
    return D().Find(section, key) != nullptr;
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key)
{
    TImpl& d = D();
    const TImpl::TSection* found = d.Find(section);
    if (!found)
        return;
    auto& s = const_cast<TImpl::TSection&>(*found);
    std::string buffer;
    const long i = d.FindKey(s, NormalName(key, buffer));
    if (i < 0)
        return;
    s.Entries.erase(s.Entries.begin() + i);
    s.Keys.Clear();
}

void TIniFile::EraseSection(std::string_view section)
{
    TImpl& d = D();
    std::string buffer;
    const long i = d.FindSection(NormalName(section, buffer));
    if (i < 0)
        return;
    TImpl::TSection& s = d.Sections[static_cast<size_t>(i)];
    d.Index.Erase(s.Hash, static_cast<size_t>(i));
    s.Live = false;
    s.Entries.clear();
    s.Keys.Clear();
    ++d.Erased;
    if (d.Erased > 64 && d.Erased > d.Sections.size() / 2)
        d.Compact();
}

void TIniFile::Clear() { D().Clear(); }

TIniFile::TImpl& TIniFile::D() const
{
    if (!Impl) // moved from
        Impl = std::make_unique<TImpl>();
    return *Impl;
}

void RequireKnownSection(const TIniFile& ini, const std::function<bool(std::string_view section)>& known,
                         const std::string& expected)
{
    if (ini.LoadedBlank())
        return;
    for (std::string_view name : ini.SectionNames())
        if (known(name))
            return;
    RefuseDataFile(ini.FileName(), Cp1251("в нём нет ни одной секции, которую программа знает (") + expected + ")");
}

void AppendIniSectionLine(std::string& out, std::string_view name)
{
    std::string buffer;
    out += '[';
    out += NormalName(name, buffer);
    out += "]\r\n";
}

void AppendIniEntryLine(std::string& out, std::string_view key, std::string_view value)
{
    std::string buffer;
    if (HasLineBreak(value)) {
        buffer = LineBreaksToBlanks(value);
        value = buffer;
    }
    out += TrimBlanks(key);
    out += '=';
    if (ValueNeedsQuotes(value)) {
        out += '"';
        out += value;
        out += '"';
    } else {
        out += value;
    }
    out += "\r\n";
}
