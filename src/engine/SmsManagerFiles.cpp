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
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Full path of a data file with its folder chain created; with createMissing,
// a missing file is created empty.
std::string PrepareDataFile(const std::string& fileName, bool createMissing)
{
    const std::string path = ResolveDataFilePath(fileName);
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec)
            throw TError(Cp1251("Не удалось создать папку \"") + folder.string() + "\":\r" +
                         std::strerror(ec.value()));
    }
    if (createMissing && !FileExists(path))
        SaveFileSafely(path, std::string());
    return path;
}

} // namespace

void TSmsManager::LoadSmsSenders(const std::string& fileName)
{
    RegisterIoClasses();
    TIniFile ini(PrepareDataFile(fileName, true));
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

void TSmsManager::LoadAddressBook(const std::string& fileName)
{
    RegisterIoClasses();
    TIniFile ini(PrepareDataFile(fileName, true));
    // The ordinary groups are about to be replaced: the recipient list lets go of them.
    for (int i = Recipients.Groups.Count() - 1; i >= 0; --i)
        if (!dynamic_cast<TSpecialGroup*>(Recipients.Groups[i]))
            Recipients.Groups.Delete(i);
    try {
        ReadContacts(ini, Contacts());
        ReadGroups(ini, Groups);
    } catch (...) {
        // What was read stays; its names become references all the same.
        ResolveGroupMembers();
        ResolveContactSenders();
        throw;
    }
    ResolveGroupMembers();
    ResolveContactSenders();
}

void TSmsManager::SaveAddressBook(const std::string& fileName)
{
    RegisterIoClasses();
    TIniFile ini;
    ini.SetFileName(PrepareDataFile(fileName, false));
    WriteContacts(ini, Contacts());
    WriteGroups(ini, Groups);
    ini.Save();
}

void TSmsManager::ResolveGroupMembers()
{
    const TContactList& master = Contacts();
    for (int g = Groups.Count() - 1; g >= 0; --g) {
        TGroup* group = Groups[g];
        if (group == AllContactsGroup || group == FoundContactsGroup || group->Contacts.OwnsItems())
            continue;
        TContactList& members = group->Contacts;
        const std::vector<TContact*> old(members.begin(), members.end());
        std::vector<TContact*> resolved;
        resolved.reserve(old.size());
        bool changed = false;
        for (TContact* member : old) {
            const int index = master.IndexOfName(member->Name());
            TContact* real = index >= 0 ? master[index] : nullptr;
            changed = changed || real != member;
            if (real)
                resolved.push_back(real);
        }
        if (!changed)
            continue;
        // The same order, with master contacts in place of the names.
        members.Clear();
        for (TContact* contact : resolved)
            members.Add(contact, true);
        for (TContact* member : old)
            if (master.IndexOf(member) < 0)
                delete member; // a placeholder
    }
}

void TSmsManager::ResolveContactSenders()
{
    const TContactList& master = Contacts();
    for (int i = master.Count() - 1; i >= 0; --i) {
        TContact* contact = master[i];
        TSmsSender* old = contact->SmsSender;
        if (!old)
            continue;
        const int index = SmsSenders.IndexOfName(old->Name());
        contact->SmsSender = index >= 0 ? SmsSenders[index] : nullptr;
        if (contact->SmsSender != old && SmsSenders.IndexOf(old) < 0)
            delete old; // a placeholder
    }
}
