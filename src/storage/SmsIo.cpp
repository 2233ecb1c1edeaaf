#include "storage/SmsIo.h"

#include "model/AddressBook.h"
#include "model/Error.h"
#include "model/Text.h"
#include "model/TextLines.h"
#include "storage/IniFile.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>
#include <vector>

std::string WrongObjectTypeFault() { return Cp1251("Некорректный тип объекта"); }
std::string EmptySectionNameFault() { return Cp1251("Пустое имя секции"); }

namespace {

[[noreturn]] void RaiseWrongType() { throw SystemError(WrongObjectTypeFault()); }

void CheckSectionName(const std::string& section)
{
    if (section.empty())
        throw SystemError(EmptySectionNameFault());
}

std::string PrefixOr(const std::string& prefix, const char* fallback)
{
    return prefix.empty() ? fallback : prefix;
}

// The registry entry of a class, the last one remembered (a list holds one
// class almost always).
class TEntryCache {
public:
    TIoEntry* Find(const std::string& className)
    {
        if (!FFound || className != FClass) {
            FEntry = IoRegistry().Find(className);
            FClass = className;
            FFound = true;
        }
        return FEntry;
    }

private:
    std::string FClass;
    TIoEntry* FEntry = nullptr;
    bool FFound = false;
};

// Calls `read` with the registry entry of every section that starts with the
// prefix (exact bytes) and names a registered class, from the last section to
// the first. A section that the file holds twice (names equal but for letter
// case) would be two objects of one name: `duplicateName` is raised instead
// of merging them.
template <class Fn, class Ahead = void (*)(std::string_view)>
void ForEachObjectSection(const TIniFile& ini, const std::string& prefix, const std::string& duplicateName, Fn read,
                          Ahead ahead = [](std::string_view) {})
{
    // Neighbouring sections mostly name the same class: its entry is looked up once.
    TEntryCache entries;
    std::string section;
    ini.ForEachSectionFromLast([&](std::string_view name, bool repeated) {
        if (name.substr(0, prefix.size()) != prefix)
            return;
        const std::string className = IoClassName(name);
        if (className.empty())
            return;
        TIoEntry* entry = entries.Find(className);
        if (!entry)
            return;
        if (repeated)
            throw TError(duplicateName);
        // The name the section gives the object, told before the reading.
        ahead(name.substr(std::min(name.size(), prefix.size() + className.size() + 2)));
        section.assign(name);
        TIoObject object;
        entry->Read(ini, object, section);
        read(object);
    });
}

// The number of sections that start with the prefix: room to reserve in a
// list before reading (never more than the file holds).
size_t SectionsWithPrefix(const TIniFile& ini, const std::string& prefix)
{
    size_t count = 0;
    for (std::string_view name : ini.SectionNames())
        count += name.substr(0, prefix.size()) == prefix;
    return count;
}

// The members of a group section: the values of "Contact" i for i from 0 up
// to count - 1 (the member at position i), skipping missing and empty ones. One pass over the
// section's keys; a key counts only as IntToStr(i) spells it (no sign, no
// leading zero), so a corrupt count cannot stall the reading.
std::vector<std::string_view> MemberNames(const TIniFile& ini, const std::string& section, int count)
{
    std::vector<std::pair<int, std::string_view>> found;
    if (count <= 0)
        return {};
    static constexpr std::string_view stem = "CONTACT";
    // The writer puts the highest number first: the keys mostly come in
    // descending order and are turned round at the end.
    bool descending = true;
    ini.ForEachValue(section, [&](std::string_view key, std::string_view value) {
        if (key.size() <= stem.size() || !SameText(key.substr(0, stem.size()), stem) || value.empty())
            return;
        const std::string_view digits = key.substr(stem.size());
        if ((digits.size() > 1 && digits[0] == '0') ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return;
        int index = 0;
        if (!TryStrToInt(digits, index) || index >= count)
            return;
        if (!found.empty() && found.back().first < index)
            descending = false;
        found.emplace_back(index, value);
    });
    if (descending)
        std::reverse(found.begin(), found.end());
    else
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string_view> names;
    names.reserve(found.size());
    for (const auto& member : found)
        names.push_back(member.second);
    return names;
}

thread_local const TNameResolvers* gResolvers = nullptr;

// Writes every object of a list, from the last to the first, through the
// writer registered for its class; objects of unregistered classes are skipped.
template <class TList>
void WriteList(TIniFile& ini, const TList& list, const std::string& prefix)
{
    for (int i = list.Count() - 1; i >= 0; --i) {
        auto* item = list.Items(i);
        if (TIoEntry* entry = IoRegistry().Find(item->ClassName()))
            entry->Write(ini, TIoObject(item), prefix);
    }
}

} // namespace

bool IsObjectSection(std::string_view section, std::string_view prefix)
{
    if (section.substr(0, prefix.size()) != prefix)
        return false;
    const std::string className = IoClassName(section);
    return !className.empty() && IoRegistry().Find(className) != nullptr;
}

std::string IoSectionName(const std::string& prefix, const std::string& className, const std::string& name)
{
    return prefix + ":" + className + ":" + name;
}

std::string IoClassName(std::string_view section)
{
    size_t first = section.find(':');
    if (first == std::string_view::npos)
        return std::string();
    size_t second = section.find(':', first + 2);
    if (second == std::string_view::npos)
        return std::string();
    return std::string(section.substr(first + 1, second - first - 1));
}

std::string EncodeNotes(std::string_view notes)
{
    std::string out;
    out.reserve(notes.size());
    for (char c : notes) {
        if (c == '\r')
            out += "{LF}";
        else if (c != '\n')
            out += c;
    }
    return out;
}

std::string DecodeNotes(std::string_view stored)
{
    static constexpr std::string_view mark = "{LF}";
    std::string out;
    out.reserve(stored.size());
    size_t pos = 0;
    while (true) {
        size_t at = stored.find(mark, pos);
        if (at == std::string_view::npos) {
            out.append(stored.substr(pos));
            return out;
        }
        out.append(stored.substr(pos, at - pos));
        out += "\r\n";
        pos = at + mark.size();
    }
}

// --- contacts ---

void WriteContact(TIniFile& ini, const TIoObject& object, const std::string& prefix)
{
    const TContact* contact = object.Contact();
    if (!contact)
        RaiseWrongType();
    const std::string section = IoSectionName(prefix, contact->ClassName(), contact->Name());
    ini.WriteInteger(section, "ContactId", contact->ContactId());
    ini.WriteString(section, "Name", contact->Name());
    ini.WriteString(section, "PhoneNumber", contact->PhoneNumber);
    if (contact->SmsSender)
        ini.WriteString(section, "SmsSenderName", contact->SmsSender->Name());
}

void ReadContact(const TIniFile& ini, TIoObject& object, const std::string& section)
{
    if (!object.Empty() && !object.Contact())
        RaiseWrongType();
    CheckSectionName(section);
    if (object.Empty())
        object.Adopt(std::make_unique<TContact>());
    TContact* contact = object.Contact();
    contact->SetContactId(ini.ReadInteger(section, "ContactId", contact->ContactId()));
    contact->SetName(ini.ReadString(section, "Name", contact->Name()));
    contact->PhoneNumber = ini.ReadString(section, "PhoneNumber", contact->PhoneNumber);
    std::string_view senderName;
    if (ini.FindValue(section, "SmsSenderName", senderName) && !senderName.empty()) {
        if (gResolvers && gResolvers->SmsSender)
            contact->SmsSender = gResolvers->SmsSender(senderName);
        else
            contact->SmsSender = new TSmsSenderPlaceholder(std::string(senderName)); // resolved after loading
    }
}

void WriteContacts(TIniFile& ini, const TContactList& contacts, const std::string& prefix)
{
    WriteList(ini, contacts, PrefixOr(prefix, ContactPrefix));
}

void ReadContacts(const TIniFile& ini, TContactList& contacts, const std::string& prefix,
                  const std::function<void(TContact*)>& added)
{
    contacts.Reserve(static_cast<size_t>(contacts.Count()) + SectionsWithPrefix(ini, PrefixOr(prefix, ContactPrefix)));
    ForEachObjectSection(
        ini, PrefixOr(prefix, ContactPrefix), contacts.Messages().DuplicateName,
        [&](TIoObject& object) {
            TContact* contact = object.Contact();
            if (!contact)
                RaiseWrongType();
            if (contacts.Add(contact, false)) {
                object.Release();
                if (added)
                    added(contact);
            }
        },
        // The contact's name is mostly the one in its section's: the list's
        // index is fetched while the section is read.
        [&](std::string_view name) { contacts.PrefetchName(name); });
}

// --- groups ---

void WriteGroup(TIniFile& ini, const TIoObject& object, const std::string& prefix)
{
    const TGroup* group = object.Group();
    if (!group)
        RaiseWrongType();
    const std::string section = IoSectionName(prefix, group->ClassName(), group->Name());
    ini.WriteInteger(section, "GroupId", group->GroupId());
    ini.WriteString(section, "Name", group->Name());
    const int count = group->Contacts.Count();
    ini.WriteInteger(section, "ContactCount", count);
    for (int i = count - 1; i >= 0; --i)
        ini.WriteString(section, "Contact" + IntToStr(i), group->Contacts.Items(i)->Name());
}

void ReadGroup(const TIniFile& ini, TIoObject& object, const std::string& section)
{
    if (!object.Empty() && !object.Group())
        RaiseWrongType();
    CheckSectionName(section);
    if (object.Empty())
        object.Adopt(std::make_unique<TGroup>(false));
    TGroup* group = object.Group();
    group->SetGroupId(ini.ReadInteger(section, "GroupId", group->GroupId()));
    group->SetName(ini.ReadString(section, "Name", group->Name()));
    const int count = ini.ReadInteger(section, "ContactCount", 0);
    const std::vector<std::string_view> names = MemberNames(ini, section, count);
    if (gResolvers && gResolvers->Contacts && !group->Contacts.OwnsItems() && group->Contacts.Empty()) {
        // Each name becomes its contact at once; a name that no contact has is
        // dropped, a contact named twice is kept once.
        std::vector<std::string_view> keys(names);
        std::vector<std::string> trimmed; // room for all once one is needed: the views stay valid
        for (size_t i = 0; i < keys.size(); ++i) {
            if (IsTrimmedText(keys[i]))
                continue;
            if (trimmed.empty())
                trimmed.reserve(keys.size());
            trimmed.push_back(Trim(keys[i]));
            if (trimmed.back().empty())
                throw TError(group->Contacts.Messages().MissingName);
            keys[i] = trimmed.back();
        }
        std::vector<TContact*> found;
        gResolvers->Contacts(keys, found);
        std::vector<TContact*> members;
        members.reserve(names.size());
        std::unordered_set<TContact*> seen;
        for (TContact* contact : found) {
            if (!contact)
                continue;
            bool fresh;
            if (members.size() < 64) {
                fresh = std::find(members.begin(), members.end(), contact) == members.end();
            } else {
                if (seen.empty())
                    seen.insert(members.begin(), members.end());
                fresh = seen.insert(contact).second;
            }
            if (fresh)
                members.push_back(contact);
        }
        object.KeepMembers();
        group->Contacts.AssignDistinct(std::move(members));
        return;
    }
    for (std::string_view name : names) {
        // A placeholder known by name only, resolved after loading; a name
        // already among the members is skipped.
        auto placeholder = std::make_unique<TContact>();
        placeholder->SetName(std::string(name));
        if (group->Contacts.Add(placeholder.get(), true))
            placeholder.release();
    }
}

void WriteGroups(TIniFile& ini, const TGroupList& groups, const std::string& prefix)
{
    WriteList(ini, groups, PrefixOr(prefix, GroupPrefix));
}

void ReadGroups(const TIniFile& ini, TGroupList& groups, const std::string& prefix,
                const std::function<void(TGroup*)>& added)
{
    groups.ClearNonSpecial();
    ForEachObjectSection(ini, PrefixOr(prefix, GroupPrefix), groups.Messages().DuplicateName, [&](TIoObject& object) {
        TGroup* group = object.Group();
        if (!group)
            RaiseWrongType();
        if (groups.Add(group, false)) {
            object.Release();
            if (added)
                added(group);
        }
    });
}

// --- operators ---

void WriteSmsSender(TIniFile& ini, const TIoObject& object, const std::string& prefix)
{
    const TSmsSender* sender = object.SmsSender();
    if (!sender)
        RaiseWrongType();
    const std::string section = IoSectionName(prefix, sender->ClassName(), sender->Name());
    ini.WriteString(section, "Name", sender->Name());
    ini.WriteInteger(section, "SenderId", sender->SenderId());
    ini.WriteBool(section, "TranslitFlag", sender->TranslitFlag);
    ini.WriteInteger(section, "MaxSmsLen", sender->MaxSmsLen);
    ini.WriteString(section, "Charset", sender->Charset);
    // The pace limits are written only when set, so files that never used them stay as they were.
    if (sender->MinSendInterval > 0)
        ini.WriteInteger(section, "MinSendInterval", sender->MinSendInterval);
    if (sender->DailyLimit > 0)
        ini.WriteInteger(section, "DailyLimit", sender->DailyLimit);
}

void ReadSmsSender(const TIniFile& ini, TIoObject& object, const std::string& section)
{
    TSmsSender* sender = object.SmsSender();
    if (!sender)
        RaiseWrongType(); // a plain operator is never created by reading
    CheckSectionName(section);
    sender->SetName(ini.ReadString(section, "Name", sender->Name()));
    sender->SetSenderId(ini.ReadInteger(section, "SenderId", sender->SenderId()));
    sender->TranslitFlag = ini.ReadBool(section, "TranslitFlag", sender->TranslitFlag);
    sender->MaxSmsLen = ini.ReadInteger(section, "MaxSmsLen", sender->MaxSmsLen);
    sender->Charset = ini.ReadString(section, "Charset", sender->Charset);
    sender->MinSendInterval = std::max(0, ini.ReadInteger(section, "MinSendInterval", sender->MinSendInterval));
    sender->DailyLimit = std::max(0, ini.ReadInteger(section, "DailyLimit", sender->DailyLimit));
}

void WriteSmsSenders(TIniFile& ini, const TSmsSenderList& senders, const std::string& prefix)
{
    WriteList(ini, senders, PrefixOr(prefix, SmsSenderPrefix));
}

void ReadSmsSenders(const TIniFile& ini, TSmsSenderList& senders, const std::string& prefix)
{
    senders.Clear();
    ForEachObjectSection(ini, PrefixOr(prefix, SmsSenderPrefix), senders.Messages().DuplicateName, [&](TIoObject& object) {
        TSmsSender* sender = object.SmsSender();
        if (!sender)
            RaiseWrongType();
        if (senders.Add(sender))
            object.Release();
    });
}

TScopedNameResolvers::TScopedNameResolvers(const TNameResolvers& resolvers) : FPrevious(gResolvers)
{
    gResolvers = &resolvers;
}

TScopedNameResolvers::~TScopedNameResolvers() { gResolvers = FPrevious; }

namespace {

void AppendInt(std::string& out, int value)
{
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// Whether every object of the list is written by `routine` (other classes
// are skipped by the writers) and no two of their sections would merge: the
// list's own name index tells whether any two names are alike.
template <class TList>
bool WrittenAlone(const TList& list, TIoWriteRoutine routine)
{
    TEntryCache entries;
    for (const auto* item : list) {
        const TIoEntry* entry = entries.Find(item->ClassName());
        if (!entry)
            continue;
        if (entry->Write != routine || HasLineBreak(item->Name()))
            return false;
    }
    return list.NamesDistinct();
}

} // namespace

bool AddressBookTextPossible(const TContactList& contacts, const TGroupList& groups)
{
    return WrittenAlone(contacts, WriteContact) && WrittenAlone(groups, WriteGroup);
}

void WriteAddressBookText(const TContactList& contacts, const TGroupList& groups, const TByteWriter& write)
{
    // The text goes out in pieces of about this size: no buffer the size of
    // the file, and the pieces are reused memory.
    constexpr size_t Piece = 256 * 1024;
    std::string out;
    out.reserve(Piece + 4096);
    const auto flushFull = [&] {
        if (out.size() >= Piece) {
            write(out);
            out.clear();
        }
    };
    std::string key;
    TEntryCache entries;
    for (int i = contacts.Count() - 1; i >= 0; --i) {
        const TContact* contact = contacts.Items(i);
        if (!entries.Find(contact->ClassName()))
            continue;
        key.assign(ContactPrefix).append(":").append(contact->ClassName()).append(":").append(contact->Name());
        AppendIniSectionLine(out, key);
        out += "ContactId=";
        AppendInt(out, contact->ContactId());
        out += "\r\n";
        AppendIniEntryLine(out, "Name", contact->Name());
        AppendIniEntryLine(out, "PhoneNumber", contact->PhoneNumber);
        if (contact->SmsSender)
            AppendIniEntryLine(out, "SmsSenderName", contact->SmsSender->Name());
        flushFull();
    }
    for (int g = groups.Count() - 1; g >= 0; --g) {
        const TGroup* group = groups.Items(g);
        if (!entries.Find(group->ClassName()))
            continue;
        key.assign(GroupPrefix).append(":").append(group->ClassName()).append(":").append(group->Name());
        AppendIniSectionLine(out, key);
        out += "GroupId=";
        AppendInt(out, group->GroupId());
        out += "\r\n";
        AppendIniEntryLine(out, "Name", group->Name());
        const int count = group->Contacts.Count();
        out += "ContactCount=";
        AppendInt(out, count);
        out += "\r\n";
        // The members lie anywhere in memory: each contact is fetched eight
        // members ahead of its line and its name four ahead.
        const auto members = group->Contacts.begin();
        for (int i = count - 1; i >= 0; --i) {
            if (i >= 8)
                __builtin_prefetch(members[i - 8]);
            if (i >= 4)
                __builtin_prefetch(members[i - 4]->Name().data());
            key.assign("Contact");
            AppendInt(key, i);
            AppendIniEntryLine(out, key, members[i]->Name());
            flushFull();
        }
    }
    if (!out.empty())
        write(out);
}

bool AddressBookText(const TContactList& contacts, const TGroupList& groups, std::string& out)
{
    out.clear();
    if (!AddressBookTextPossible(contacts, groups))
        return false;
    WriteAddressBookText(contacts, groups, [&out](std::string_view bytes) { out.append(bytes); });
    return true;
}
