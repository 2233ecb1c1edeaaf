#pragma once
// Reading and writing the address book (contacts, groups) and the operators
// as INI sections, one section per object, named
// prefix ":" class name ":" object name; the class name's registered routines
// do the work (IoRegistry.h).
#include "model/SafeFile.h"
#include "storage/IoRegistry.h"

#include <functional>
#include <string>
#include <string_view>

class TContactList;
class TGroupList;
class TSmsSenderList;
class TIniFile;

// The list prefixes that stored files use (an empty prefix means these).
inline constexpr const char* SmsSenderPrefix = "SmsSender";
inline constexpr const char* ContactPrefix = "Contact";
inline constexpr const char* GroupPrefix = "Group";

// Lists: writers go from the last object to the first and skip objects of
// unregistered classes; readers go from the last section to the first, take
// the sections whose names start with the prefix (case-sensitive) and whose
// class is registered, and append what the class's read routine produced with
// the list's validated append (whose errors end the reading, leaving the
// objects added so far). ReadSmsSenders empties the list first, ReadGroups
// deletes the ordinary groups first (the built-in ones stay), ReadContacts
// appends. A section whose class produces an object of another kind than the
// list holds raises "Некорректный тип объекта". `added`, when given, is called
// with each object right after the list has taken it (the manager resolves
// its names there, so that big files never hold every placeholder at once).
void WriteSmsSenders(TIniFile& ini, const TSmsSenderList& senders, const std::string& prefix = "");
void ReadSmsSenders(const TIniFile& ini, TSmsSenderList& senders, const std::string& prefix = "");
void WriteContacts(TIniFile& ini, const TContactList& contacts, const std::string& prefix = "");
void ReadContacts(const TIniFile& ini, TContactList& contacts, const std::string& prefix = "",
                  const std::function<void(TContact*)>& added = {});
void WriteGroups(TIniFile& ini, const TGroupList& groups, const std::string& prefix = "");
void ReadGroups(const TIniFile& ini, TGroupList& groups, const std::string& prefix = "",
                const std::function<void(TGroup*)>& added = {});

// The routines of the three storage-level classes. Writers: keys in a fixed
// order. Readers: every key read with the object's current value as default.
// The contact reader leaves a name-only placeholder operator
// (TSmsSenderPlaceholder) on a contact whose section names one; the group
// reader leaves name-only placeholder contacts as members. Both are resolved
// against the real lists after loading.
void WriteContact(TIniFile& ini, const TIoObject& object, const std::string& prefix);
void ReadContact(const TIniFile& ini, TIoObject& object, const std::string& section);
void WriteGroup(TIniFile& ini, const TIoObject& object, const std::string& prefix);
void ReadGroup(const TIniFile& ini, TIoObject& object, const std::string& section);
// The five keys every operator has. The reader needs an existing operator: a
// plain operator cannot be created by reading.
void WriteSmsSender(TIniFile& ini, const TIoObject& object, const std::string& prefix);
void ReadSmsSender(const TIniFile& ini, TIoObject& object, const std::string& section);

// The address-book file as WriteContacts and then WriteGroups (default
// prefixes) write it into an empty TIniFile, built straight as text. Returns
// false, leaving `out` empty, when it cannot vouch for the same bytes: an
// object whose class has other routines than the contact and group writers,
// or two objects whose sections the profile would merge (names equal but for
// letter case or line breaks); the caller then goes through TIniFile.
bool AddressBookText(const TContactList& contacts, const TGroupList& groups, std::string& out);
// The same in two steps: whether the text can be built straight, and the
// text itself handed to `write` piece by piece (for a save that streams it).
bool AddressBookTextPossible(const TContactList& contacts, const TGroupList& groups);
void WriteAddressBookText(const TContactList& contacts, const TGroupList& groups, const TByteWriter& write);

// While a TScopedNameResolvers lives on this thread, the readers put real
// objects in place of the names they read instead of name-only placeholders:
// the contact reader gives a contact the operator that `SmsSender` returns for
// its operator name (nullptr: none), and the group reader makes the members
// the contacts that `Contacts` gives for the member names, all of a group at
// once, one contact or nullptr per name (nullptr: the member is dropped; a
// contact named twice is kept once). What the lists end up holding is what
// resolving the placeholders afterwards gives.
struct TNameResolvers {
    std::function<TSmsSender*(std::string_view name)> SmsSender;
    std::function<void(const std::vector<std::string_view>& names, std::vector<TContact*>& contacts)> Contacts;
};
class TScopedNameResolvers {
public:
    explicit TScopedNameResolvers(const TNameResolvers& resolvers);
    ~TScopedNameResolvers();
    TScopedNameResolvers(const TScopedNameResolvers&) = delete;
    TScopedNameResolvers& operator=(const TScopedNameResolvers&) = delete;

private:
    const TNameResolvers* FPrevious;
};

// Whether the list readers take the section for the list of this prefix: the
// name starts with the prefix and names a registered class.
bool IsObjectSection(std::string_view section, std::string_view prefix);

// prefix ":" class name ":" name.
std::string IoSectionName(const std::string& prefix, const std::string& className, const std::string& name);
// The class name in a section name: the text after the first ":" up to the
// next ":", searched from two characters after the first; empty when either
// is missing.
std::string IoClassName(std::string_view section);

// Notes on one line: every CR becomes "{LF}", then every LF is removed; and
// back: every "{LF}" becomes CR LF.
std::string EncodeNotes(std::string_view notes);
std::string DecodeNotes(std::string_view stored);

// The fault texts of the system errors raised here.
std::string WrongObjectTypeFault();  // "Некорректный тип объекта"
std::string EmptySectionNameFault(); // "Пустое имя секции"
