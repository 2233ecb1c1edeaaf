#include "storage/IoRegistry.h"

#include "model/AddressBook.h"
#include "model/Error.h"
#include "model/ItemList.h"
#include "model/Text.h"
#include "storage/SmsIo.h"

#include <vector>

TIoObject::~TIoObject() { Dispose(); }

void TIoObject::Dispose()
{
    if (!FOwned)
        return;
    FOwned = false;
    if (FContact) {
        // A contact made by the reader: its operator is the reader's placeholder.
        if (dynamic_cast<TSmsSenderPlaceholder*>(FContact->SmsSender))
            delete FContact->SmsSender;
        delete FContact;
    } else if (FGroup) {
        // A group made by the reader: every member is one of its placeholders.
        std::vector<TContact*> members(FGroup->Contacts.begin(), FGroup->Contacts.end());
        if (!FGroup->Contacts.OwnsItems()) {
            FGroup->Contacts.Clear();
            if (!FKeepMembers)
                for (TContact* member : members)
                    delete member;
        }
        delete FGroup;
    } else {
        delete FSender;
    }
    FContact = nullptr;
    FGroup = nullptr;
    FSender = nullptr;
}

std::string TIoObject::ClassName() const
{
    if (FContact)
        return FContact->ClassName();
    if (FGroup)
        return FGroup->ClassName();
    if (FSender)
        return FSender->ClassName();
    return std::string();
}

std::string TIoObject::Name() const
{
    if (FContact)
        return FContact->Name();
    if (FGroup)
        return FGroup->Name();
    if (FSender)
        return FSender->Name();
    return std::string();
}

void TIoObject::Adopt(std::unique_ptr<TContact> contact)
{
    if (!Empty())
        throw SystemError("TIoObject.Adopt");
    FContact = contact.release();
    FOwned = FContact != nullptr;
}

void TIoObject::Adopt(std::unique_ptr<TGroup> group)
{
    if (!Empty())
        throw SystemError("TIoObject.Adopt");
    FGroup = group.release();
    FOwned = FGroup != nullptr;
}

void TIoObject::Adopt(std::unique_ptr<TSmsSender> sender)
{
    if (!Empty())
        throw SystemError("TIoObject.Adopt");
    FSender = sender.release();
    FOwned = FSender != nullptr;
}

void TIoRegistry::Register(std::unique_ptr<TIoEntry> entry)
{
    if (!entry)
        throw SystemError("TIoRegistry.Register(nil)");
    std::string key = UpperCase(entry->ClassName);
    if (FIndex.count(key))
        throw SystemError(Cp1251("Объект IO с таким именем уже зарегистрирован"));
    FIndex.emplace(std::move(key), entry.get());
    FEntries.push_back(std::move(entry));
}

void TIoRegistry::Register(const std::string& className, TIoWriteRoutine write, TIoReadRoutine read)
{
    Register(std::make_unique<TIoEntry>(className, write, read));
}

TIoEntry* TIoRegistry::Find(const std::string& className) const
{
    auto it = FIndex.find(UpperCase(className));
    return it == FIndex.end() ? nullptr : it->second;
}

TIoEntry* TIoRegistry::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw ListIndexError(index);
    return FEntries[static_cast<size_t>(index)].get();
}

void TIoRegistry::Delete(int index)
{
    TIoEntry* entry = Items(index);
    FIndex.erase(UpperCase(entry->ClassName));
    FEntries.erase(FEntries.begin() + index);
}

void TIoRegistry::Clear()
{
    FIndex.clear();
    FEntries.clear();
}

TIoRegistry& IoRegistry()
{
    static TIoRegistry registry;
    return registry;
}

void ResetIoRegistryForTests() { IoRegistry().Clear(); }

void RegisterStorageIoClasses()
{
    TIoRegistry& registry = IoRegistry();
    if (!registry.Find("TContact"))
        registry.Register("TContact", WriteContact, ReadContact);
    if (!registry.Find("TGroup"))
        registry.Register("TGroup", WriteGroup, ReadGroup);
    if (!registry.Find("TSmsSender"))
        registry.Register("TSmsSender", WriteSmsSender, ReadSmsSender);
}
