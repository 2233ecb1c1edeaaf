#include "storage/SmsIo.h"

#include "model/AddressBook.h"
#include "model/Error.h"
#include "model/Text.h"
#include "storage/IniFile.h"

#include <algorithm>
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

// Calls `read` with the registry entry of every section that starts with the
// prefix (exact bytes) and names a registered class, from the last section to
// the first. A section that the file holds twice (names equal but for letter
// case) would be two objects of one name: `duplicateName` is raised instead
// of merging them.
template <class Fn>
void ForEachObjectSection(const TIniFile& ini, const std::string& prefix, const std::string& duplicateName, Fn read)
{
    const std::vector<std::string> sections = ini.ReadSections();
    for (size_t i = sections.size(); i-- > 0;) {
        const std::string& section = sections[i];
        if (section.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string className = IoClassName(section);
        if (className.empty())
            continue;
        TIoEntry* entry = IoRegistry().Find(className);
        if (!entry)
            continue;
        if (ini.SectionRepeated(section))
            throw TError(duplicateName);
        TIoObject object;
        entry->Read(ini, object, section);
        read(object);
    }
}

// Positions i (descending, each once) for which "Contact" i can hold a value
// in a section with `count` members. A count far beyond the keys the section
// has is answered from its keys, so a corrupt count cannot stall the reading;
// the members found are the same.
std::vector<int> MemberPositions(const TIniFile& ini, const std::string& section, int count)
{
    std::vector<int> positions;
    if (count <= 0)
        return positions;
    const std::vector<std::string> keys = ini.ReadSection(section);
    if (static_cast<size_t>(count) <= keys.size() + 16) {
        positions.reserve(static_cast<size_t>(count));
        for (int i = count - 1; i >= 0; --i)
            positions.push_back(i);
        return positions;
    }
    static const std::string stem = "CONTACT";
    for (const std::string& key : keys) {
        if (key.size() <= stem.size() || UpperCase(std::string_view(key).substr(0, stem.size())) != stem)
            continue;
        std::string_view digits = std::string_view(key).substr(stem.size());
        if (digits.size() > 1 && digits[0] == '0')
            continue; // "Contact" + IntToStr(i) never has a leading zero
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        int index = 0;
        if (TryStrToInt(digits, index) && index < count)
            positions.push_back(index);
    }
    std::sort(positions.begin(), positions.end(), std::greater<int>());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    return positions;
}

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
    std::string senderName = ini.ReadString(section, "SmsSenderName", "");
    if (!senderName.empty())
        contact->SmsSender = new TSmsSenderPlaceholder(senderName); // resolved after loading
}

void WriteContacts(TIniFile& ini, const TContactList& contacts, const std::string& prefix)
{
    WriteList(ini, contacts, PrefixOr(prefix, ContactPrefix));
}

void ReadContacts(const TIniFile& ini, TContactList& contacts, const std::string& prefix,
                  const std::function<void(TContact*)>& added)
{
    ForEachObjectSection(ini, PrefixOr(prefix, ContactPrefix), contacts.Messages().DuplicateName, [&](TIoObject& object) {
        TContact* contact = object.Contact();
        if (!contact)
            RaiseWrongType();
        if (contacts.Add(contact, false)) {
            object.Release();
            if (added)
                added(contact);
        }
    });
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
    for (int i : MemberPositions(ini, section, count)) {
        std::string name = ini.ReadString(section, "Contact" + IntToStr(i), "");
        if (name.empty())
            continue;
        // A placeholder known by name only, resolved after loading; a name
        // already among the members is skipped.
        auto placeholder = std::make_unique<TContact>();
        placeholder->SetName(std::move(name));
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
