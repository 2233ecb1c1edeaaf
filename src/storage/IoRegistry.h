#pragma once
// The registry of per-class readers and writers of address-book objects. A
// section of the address-book and operators files is named
// prefix ":" class name ":" object name; the class name picks the routines
// that write and read the object, so that one file can hold objects of several
// classes and a reader creates each object with the right class.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class TContact;
class TGroup;
class TSmsSender;
class TIniFile;

// A reference to one address-book object (a contact, a group or an operator),
// or to none. A read routine given an empty reference creates the object and
// the reference owns it until Release(); an owned object that nobody took is
// destroyed with the reference, together with the name-only placeholders that
// the readers hang on it (a contact's operator, a group's members).
class TIoObject {
public:
    TIoObject() = default;
    explicit TIoObject(TContact* contact) : FContact(contact) {}
    explicit TIoObject(TGroup* group) : FGroup(group) {}
    explicit TIoObject(TSmsSender* sender) : FSender(sender) {}
    ~TIoObject();
    TIoObject(const TIoObject&) = delete;
    TIoObject& operator=(const TIoObject&) = delete;

    bool Empty() const { return !FContact && !FGroup && !FSender; }
    TContact* Contact() const { return FContact; }
    TGroup* Group() const { return FGroup; }
    TSmsSender* SmsSender() const { return FSender; }
    // The class name the object reports; empty for an empty reference.
    std::string ClassName() const;
    // The object's display name; empty for an empty reference.
    std::string Name() const;

    // Fill an empty reference with a new object owned by this reference.
    void Adopt(std::unique_ptr<TContact> contact);
    void Adopt(std::unique_ptr<TGroup> group);
    void Adopt(std::unique_ptr<TSmsSender> sender);
    bool Owned() const { return FOwned; }
    // The object has been taken over (by a list): it is no longer destroyed here.
    void Release() { FOwned = false; }
    // The group's members are real contacts (resolved while reading), not
    // placeholders: an owned group that nobody took is destroyed without them.
    void KeepMembers() { FKeepMembers = true; }

private:
    void Dispose();
    TContact* FContact = nullptr;
    TGroup* FGroup = nullptr;
    TSmsSender* FSender = nullptr;
    bool FOwned = false;
    bool FKeepMembers = false;
};

// Writes the object's section into the INI file under the list prefix.
using TIoWriteRoutine = void (*)(TIniFile& ini, const TIoObject& object, const std::string& prefix);
// Reads one section into the referenced object, creating it when the reference is empty.
using TIoReadRoutine = void (*)(const TIniFile& ini, TIoObject& object, const std::string& section);

// One registered class.
class TIoEntry {
public:
    TIoEntry(std::string className, TIoWriteRoutine write, TIoReadRoutine read)
        : ClassName(std::move(className)), Write(write), Read(read)
    {
    }
    std::string ClassName;
    TIoWriteRoutine Write;
    TIoReadRoutine Read;
};

// The registered classes, each under its class name; lookup ignores letter
// case and a class name occurs at most once. Owns its entries.
class TIoRegistry {
public:
    // Raises "Объект IO с таким именем уже зарегистрирован" (system error form)
    // when the class name is taken; the entry is then discarded.
    void Register(std::unique_ptr<TIoEntry> entry);
    void Register(const std::string& className, TIoWriteRoutine write, TIoReadRoutine read);
    // The entry of the class name, or nullptr.
    TIoEntry* Find(const std::string& className) const;
    int Count() const { return static_cast<int>(FEntries.size()); }
    // Entries in registration order; raises the list index error outside the range.
    TIoEntry* Items(int index) const;
    // Destroys the entry at the position.
    void Delete(int index);
    // Destroys every entry.
    void Clear();

private:
    std::vector<std::unique_ptr<TIoEntry>> FEntries;
    std::unordered_map<std::string, TIoEntry*> FIndex; // upper-cased class name -> entry
};

// The one registry of the process, created empty on first use.
TIoRegistry& IoRegistry();
// Tests: empties the registry.
void ResetIoRegistryForTests();

// Registers the contact, group and base operator routines, in this order,
// each unless its class is already registered. The standard operator's
// routines are registered after these by the engine.
void RegisterStorageIoClasses();
