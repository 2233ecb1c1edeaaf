// TSmsManager: loading and saving the operators file and the address book,
// and turning the names these files store into references.
#include "engine/SmsManager.h"

#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "storage/IniFile.h"
#include "storage/SmsIo.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Full path of a data file with its folder chain created; with createMissing,
// a missing file is created empty.
std::string PrepareDataFile(const std::string& fileName, bool createMissing)
{
    const std::string path = ResolveDataFilePath(fileName);
    CreatePrivateFolders(fs::path(path).parent_path().string());
    // Only a path where nothing is gets an empty file: a folder or a pipe in
    // its place is left for the reader, which reports it as unreadable.
    if (createMissing && PathMissing(path))
        SaveFileSafely(path, std::string());
    return path;
}

void RequireOperators(const TIniFile& ini)
{
    RequireKnownSection(
        ini, [](std::string_view section) { return IsObjectSection(section, SmsSenderPrefix); },
        Cp1251("в файле операторов ожидались секции [SmsSender:...]"));
}

} // namespace

void TSmsManager::LoadSmsSenders(const std::string& fileName)
{
    RegisterIoClasses();
    TIniFile ini(PrepareDataFile(fileName, true));
    RequireOperators(ini);
    // The reading destroys the current operators: contacts keep theirs by name
    // and find it again afterwards.
    for (TContact* contact : Contacts())
        if (contact->SmsSender && SmsSenders.IndexOf(contact->SmsSender) >= 0)
            contact->SmsSender = new TSmsSenderPlaceholder(contact->SmsSender->Name());
    FDeliverySender = nullptr; // the delivery works on its own copy
    try {
        ReadSmsSenders(ini, SmsSenders);
    } catch (...) {
        ResolveContactSenders();
        throw;
    }
    ResolveContactSenders();
}

void TSmsManager::SaveSmsSenders(const std::string& fileName)
{
    RegisterIoClasses();
    TIniFile ini;
    ini.SetFileName(PrepareDataFile(fileName, false));
    WriteSmsSenders(ini, SmsSenders);
    ini.Save();
}

int TSmsManager::ImportSmsSenders(const std::string& fileName)
{
    RegisterIoClasses();
    TIniFile ini(ResolveDataFilePath(fileName));
    TSmsSenderList read(true);
    ReadSmsSenders(ini, read);
    int added = 0;
    // The reader appends from the last section to the first.
    for (int i = read.Count() - 1; i >= 0; --i) {
        std::unique_ptr<TSmsSender> sender(read.Extract(read[i]));
        sender->SetSenderId(0);
        try {
            AddSmsSender(sender.get());
        } catch (const TError&) {
            continue; // refused by the list: dropped
        }
        sender.release();
        ++added;
    }
    return added;
}

void TSmsManager::LoadAddressBook(const std::string& fileName)
{
    RegisterIoClasses();
    TIniFile ini(PrepareDataFile(fileName, true));
    RequireKnownSection(
        ini,
        [](std::string_view section) {
            return IsObjectSection(section, ContactPrefix) || IsObjectSection(section, GroupPrefix);
        },
        Cp1251("в адресной книге ожидались секции [Contact:...] и [Group:...]"));
    // The ordinary groups are about to be replaced: the recipient list lets go of them.
    for (int i = Recipients.Groups.Count() - 1; i >= 0; --i)
        if (!dynamic_cast<TSpecialGroup*>(Recipients.Groups[i]))
            Recipients.Groups.Delete(i);
    const int before = Contacts().Count();
    try {
        // The readers take the operators and contacts by name as each object
        // arrives (the operators are complete before the first contact, the
        // master list before the first group): what resolving placeholders at
        // the end gives, without making one.
        const TContactList& master = Contacts();
        TNameResolvers resolvers;
        resolvers.SmsSender = [this](std::string_view name) -> TSmsSender* {
            const int index = SmsSenders.IndexOfName(name);
            return index >= 0 ? SmsSenders[index] : nullptr;
        };
        std::vector<int> positions;
        resolvers.Contacts = [&master, &positions](const std::vector<std::string_view>& names,
                                                   std::vector<TContact*>& contacts) {
            master.IndexesOfNames(names, positions);
            contacts.clear();
            for (int index : positions)
                contacts.push_back(index >= 0 ? master[index] : nullptr);
        };
        TScopedNameResolvers scope(resolvers);
        ReadContacts(ini, Contacts());
        ReadGroups(ini, Groups);
    } catch (...) {
        // What was read stays; its names become references all the same.
        ResolveGroupMembers();
        ResolveContactSenders();
        throw;
    }
    // Every contact and group just read holds listed operators and master
    // contacts already; the contacts that were there before the load keep
    // only operators that are in the list.
    for (int i = 0; i < before; ++i)
        ResolveSenderOf(Contacts()[i]);
}

void TSmsManager::SaveAddressBook(const std::string& fileName)
{
    RegisterIoClasses();
    const std::string path = PrepareDataFile(fileName, false);
    // Streamed straight as text when the bytes are sure to be the same;
    // otherwise through the profile.
    if (AddressBookTextPossible(Contacts(), Groups)) {
        SaveFileSafely(path, [this](const TByteWriter& write) { WriteAddressBookText(Contacts(), Groups, write); });
        return;
    }
    TIniFile ini;
    WriteContacts(ini, Contacts());
    WriteGroups(ini, Groups);
    SaveFileSafely(path, ini.SaveToText());
}

void TSmsManager::ResolveGroupMembers()
{
    for (int g = Groups.Count() - 1; g >= 0; --g)
        if (Groups[g] != AllContactsGroup && Groups[g] != FoundContactsGroup)
            ResolveMembersOf(Groups[g]);
}

void TSmsManager::ResolveMembersOf(TGroup* group)
{
    TContactList& members = group->Contacts;
    if (members.OwnsItems())
        return;
    const TContactList& master = Contacts();
    const std::vector<TContact*> old(members.begin(), members.end());
    std::vector<TContact*> resolved;
    resolved.reserve(old.size());
    bool changed = false;
    for (int i = static_cast<int>(old.size()) - 1; i >= 0; --i) {
        TContact* member = old[static_cast<size_t>(i)];
        const int index = master.IndexOfName(member->Name());
        TContact* real = index >= 0 ? master[index] : nullptr;
        changed = changed || real != member;
        if (real)
            resolved.push_back(real);
    }
    if (!changed)
        return;
    // The same order, with master contacts in place of the names.
    members.Clear();
    for (auto it = resolved.rbegin(); it != resolved.rend(); ++it)
        members.Add(*it, true);
    for (TContact* member : old)
        if (master.IndexOf(member) < 0)
            delete member; // a placeholder
}

void TSmsManager::ResolveContactSenders()
{
    const TContactList& master = Contacts();
    for (int i = master.Count() - 1; i >= 0; --i)
        ResolveSenderOf(master[i]);
}

void TSmsManager::ResolveSenderOf(TContact* contact)
{
    TSmsSender* old = contact->SmsSender;
    if (!old)
        return;
    const int index = SmsSenders.IndexOfName(old->Name());
    contact->SmsSender = index >= 0 ? SmsSenders[index] : nullptr;
    if (contact->SmsSender != old && SmsSenders.IndexOf(old) < 0)
        delete old; // a placeholder
}
