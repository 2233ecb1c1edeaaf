#pragma once
// Contacts, groups and operators, the typed lists that hold them, and the
// duplicate-free contact collection.
#include "model/ItemList.h"
#include "model/Translit.h"

#include <memory>
#include <string>

class TSmsSender;

class TContact : public TListedItem {
public:
    TContact() = default;
    TContact(const TContact&) = default;
    TContact& operator=(const TContact&) = default;
    virtual ~TContact() = default;
    virtual std::string ClassName() const { return "TContact"; }

    int ContactId() const { return ItemId(); }
    void SetContactId(int id) { SetItemId(id); }

    TSmsSender* SmsSender = nullptr; // not owned
    std::string PhoneNumber;         // exactly as typed, passed to the operator unchanged

    // ContactCaption in upper case, for the search: kept with the contact and
    // made anew once the name or the phone number has changed.
    const std::string& UpperCaption() const;

private:
    mutable std::string FUpperCaption;
    mutable std::string FCaptionPhone; // the phone number the caption was made with
    mutable std::uint64_t FCaptionNameVersion = 0;
    mutable bool FCaptionMade = false;
};

// "Name (PhoneNumber)": the one-line form of a contact in every window.
std::string ContactCaption(const TContact& contact);
std::string ContactCaption(const TContact* contact);

// The longest name and phone number the contact editor takes, and the longest
// group name the group editor takes (characters).
constexpr int ContactNameLimit = 64;
constexpr int PhoneNumberLimit = 16; // digits and "+"
// A number as written, with room for blanks, brackets and dashes
// ("+7 (916) 123-45-03" is 18 characters): a formatted number is never cut.
constexpr int PhoneFieldLimit = 40;
constexpr int GroupNameLimit = 64;

class TContactList : public TItemList<TContact> {
public:
    explicit TContactList(bool ownsItems);
    // Validated append; see TItemList::AddItem for the result.
    bool Add(TContact* contact, bool quiet = false) { return AddItem(contact, quiet); }
};

// A non-owning contact list used as a set: adds skip a contact whose name or
// id is already present.
class TContactSet : public TContactList {
public:
    TContactSet() : TContactList(false) {}
    bool AddContact(TContact* contact) { return Add(contact, true); }
    // Adds every member of the group, from its last member to its first.
    void AddGroup(const class TGroup* group);
};

class TGroup : public TListedItem {
public:
    // ownsContacts: only the built-in all-contacts group owns its members.
    explicit TGroup(bool ownsContacts = false) : Contacts(ownsContacts) {}
    TGroup(const TGroup&) = delete;
    TGroup& operator=(const TGroup&) = delete;
    virtual ~TGroup() = default;
    virtual std::string ClassName() const { return "TGroup"; }

    int GroupId() const { return ItemId(); }
    void SetGroupId(int id) { SetItemId(id); }

    TContactList Contacts;
};

// Marks the two built-in groups: never stored, kept by ClearNonSpecial.
class TSpecialGroup : public TGroup {
public:
    explicit TSpecialGroup(bool ownsContacts = false) : TGroup(ownsContacts) {}
    std::string ClassName() const override { return "TSpecialGroup"; }
};

class TGroupList : public TItemList<TGroup> {
public:
    explicit TGroupList(bool ownsItems);
    bool Add(TGroup* group, bool quiet = false) { return AddItem(group, quiet); }
    // Deletes every group that is not a TSpecialGroup, from the last to the first.
    void ClearNonSpecial();
};

// The pieces an operator sends a text in: the whole text when it fits
// `maxSmsLen` (or that is 10 or less), else pieces of maxSmsLen - 10 bytes,
// each behind a "k iz N) " header.
std::vector<std::string> SmsPieces(const std::string& text, int maxSmsLen);

// One operator (gateway). A plain TSmsSender cannot deliver anything.
class TSmsSender : public TListedItem {
public:
    TSmsSender() = default;
    virtual ~TSmsSender() = default;
    virtual std::string ClassName() const { return "TSmsSender"; }

    int SenderId() const { return ItemId(); }
    void SetSenderId(int id) { SetItemId(id); }

    bool TranslitFlag = false;
    int MaxSmsLen = 0;   // longest text accepted in one piece, in bytes
    std::string Charset; // "CP1251", "KOI8-R", "KOI8-U", "UTF-8" or "UTF-7"
    // The operator's pace (0: no limit): at most one message every
    // MinSendInterval seconds, at most DailyLimit pieces a day.
    int MinSendInterval = 0;
    int DailyLimit = 0;

    // Delivers exactly one piece; raises TError on any failure.
    virtual void DoSend(const std::string& phone, const std::string& text) = 0;
    // Applies TranslitFlag (with the given table; nullptr = the process table),
    // splits by MaxSmsLen into "k iz N) " pieces, calls DoSend for each and
    // waits 3000 ms after each piece. A DoSend error ends it at once.
    virtual void Send(const std::string& phone, const std::string& text, const TTranslitTable* table = nullptr);
    // A free-standing copy (for a delivery on a worker thread).
    virtual std::unique_ptr<TSmsSender> Clone() const = 0;

protected:
    TSmsSender(const TSmsSender&) = default;
    TSmsSender& operator=(const TSmsSender&) = default;
};

// An operator known only by name while an address book loads (resolved later).
// Delivering through it fails.
class TSmsSenderPlaceholder final : public TSmsSender {
public:
    TSmsSenderPlaceholder() = default;
    explicit TSmsSenderPlaceholder(const std::string& name) { SetName(name); }
    TSmsSenderPlaceholder(const TSmsSenderPlaceholder&) = default;
    void DoSend(const std::string& phone, const std::string& text) override;
    std::unique_ptr<TSmsSender> Clone() const override;
};

class TSmsSenderList : public TItemList<TSmsSender> {
public:
    explicit TSmsSenderList(bool ownsItems);
    bool Add(TSmsSender* sender) { return AddItem(sender, false); }
};

// The wait after each piece of a split text, in milliseconds.
constexpr int SmsPieceWaitMs = 3000;
