#pragma once
// The SMS manager: one object per process that owns the whole model (groups
// and through the all-contacts group every contact, operators, the recipient
// list, the queue, the history file, the templates), guards every change that
// could break it, turns a composed message into queued messages and works the
// queue off one attempt per call. It raises no events: callers refresh their
// own views after each call. Every operation runs on the UI thread, except
// TSmsDelivery::Run.
#include "engine/SmsDelivery.h"
#include "model/AddressBook.h"
#include "model/Error.h"
#include "model/SmsHistoryFile.h"
#include "model/SmsHistoryIndex.h"
#include "model/SmsQueue.h"
#include "model/SmsTemplateList.h"

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

// What a restore of the queue brought back.
struct TQueueRestore {
    int Restored = 0;    // messages back in the queue
    int Interrupted = 0; // of them, those whose attempt was under way (they may have gone out)
    int Failed = 0;      // messages whose contact or operator was gone: written to the history as failed
    int Unreadable = 0;  // records of a damaged journal that did not read
    bool Utf16 = false;  // the journal was UTF-16 and was read converted
    std::string KeptAs;  // where a damaged (or newer) journal was kept before it was rewritten; empty: it was not
};

// A queue journal written by a newer version of the program: not read, left
// as it is. The message (CP1251) says so.
class TNewerJournalError : public TError {
public:
    using TError::TError;
};

// What HoldRestored held back at the start.
struct TQueueHold {
    int Interrupted = 0; // cut mid-attempt: they may have gone out
    int Overdue = 0;     // came due while the program was closed
};

// Why a queued message is not attempted yet, and until when (LocalSeconds).
struct TQueueWait {
    enum TKind { None, Scheduled, Retry, Interval, DailyLimit, Held };
    TKind Kind = None;
    long long Until = 0;
};

// Seconds a failed attempt waits before the next one: 5 s after the first
// failure, 30 s after the second, 2 min after the third, 10 min after any later one.
int RetryWaitSeconds(int failedAttempts);

// Refuses a send time (LocalSeconds) that is not in the future.
void CheckSendTime(long long notBefore);

// The queue's journal in the data folder.
constexpr const char* QueueJournalFileName = "SmsQueue.journal";

class TSmsManager {
public:
    // Creation: binds the history and templates file names from the program
    // options, creates the lists, the two built-in groups, and loads the
    // templates (a missing file is created empty; a failure raises).
    TSmsManager();
    ~TSmsManager();
    TSmsManager(const TSmsManager&) = delete;
    TSmsManager& operator=(const TSmsManager&) = delete;

    // Declared so that members are destroyed in this order: the delivery
    // still out, History, Templates, Recipients, Queue, Groups (with every
    // contact), SmsSenders.
    TSmsSenderList SmsSenders {true};
    TGroupList Groups {true};
    TSmsQueue Queue;
    TRecipientList Recipients;
    TSmsTemplateList Templates;
    TSmsHistoryFile History;

    // The two built-in groups, held by Groups: "(Все Абоненты)" (id 1), whose
    // member list owns every contact of the program, and "(Найденные
    // Абоненты)" (id 2), the result of the last search.
    TSpecialGroup* AllContactsGroup = nullptr;
    TSpecialGroup* FoundContactsGroup = nullptr;

    // The master contact list.
    TContactList& Contacts() { return AllContactsGroup->Contacts; }
    const TContactList& Contacts() const { return AllContactsGroup->Contacts; }

    // --- the address book ---
    // Validated append to the master list, which then owns the contact.
    void AddContact(TContact* contact);
    // Validated append to the group (nothing happens when it is there already).
    void AddContactToGroup(TContact* contact, TGroup* group);
    // Takes the contact out of an ordinary group. The all-contacts group owns
    // its members: asking for it raises a system error and changes nothing.
    void RemoveContactFromGroup(TContact* contact, TGroup* group);
    // Validated append to Groups, which then owns the group.
    void AddGroup(TGroup* group);
    // Refused while a message to the contact waits or is being delivered;
    // otherwise removes it from every group, the recipients and the master
    // list, which destroys it.
    void DeleteContact(TContact* contact);
    // Refused for both built-in groups; otherwise removes the group from the
    // recipients and destroys it (its members stay).
    void DeleteGroup(TGroup* group);
    // Raises when a queued message, or the message being delivered, is
    // addressed to the contact.
    void CheckContactNotQueued(const TContact* contact) const;
    // Validated append to SmsSenders, which then owns the operator.
    void AddSmsSender(TSmsSender* sender);
    // Raises when a contact uses the operator, or a delivery out started with it.
    void CheckSmsSenderUnused(const TSmsSender* sender) const;
    // Refills the found group with the contacts whose caption holds the text
    // (letter case ignored), from the last contact of the master list to the
    // first. An empty text finds nothing.
    void SearchContacts(const std::string& text);
    // The first contact of the master list whose phone number is this one
    // written another way (NormalizedPhone), or nullptr.
    TContact* FindContactByPhone(const std::string& phone) const;

    // --- recipients ---
    void AddRecipientContact(TContact* contact);
    void AddRecipientGroup(TGroup* group);
    void RemoveRecipientContact(TContact* contact);
    void RemoveRecipientGroup(TGroup* group);
    void ClearRecipients();

    // --- the queue ---
    // One queued message per distinct addressee (groups expanded, at most 20).
    // With `notBefore` (LocalSeconds) the messages wait for that moment; a
    // moment that has passed already is refused. "{name}" and "{phone}" in the
    // text are filled in with each addressee's own (RecipientFields.h), the
    // names transliterated when `translitFields` says the text already was.
    void QueueSms(const std::string& text, long long notBefore = 0, bool translitFields = false);

    // --- when the queue may send ---
    // Why the message waits at the moment `now` (LocalSeconds): the user's
    // word (Held, Until 0), its own time, a retry's wait, or its operator's pace.
    TQueueWait WaitOf(const TSms& sms, long long now) const;
    // Whether `now` is inside the quiet hours of the options; `until` gets
    // their end.
    bool QuietAt(long long now, long long* until = nullptr) const;
    // The earliest moment something queued may be attempted (0: now, or
    // nothing queued that is not held).
    long long NextDue(long long now) const;
    // The queued message that comes due first, with its wait: the one NextDue
    // names (nullptr when something is due now, or only held messages wait).
    const TSms* NextWaiting(long long now, TQueueWait* wait) const;
    // Messages held for the user's word.
    int HeldCount() const;
    // The start of the program with the queue brought back: a message cut
    // mid-attempt, and one that is due at `now` (it came due while the
    // program was closed), are held; one whose time has not come waits for it
    // as before. Nothing goes out in a burst without the user's word.
    TQueueHold HoldRestored(long long now);
    // The user's word: the held message goes at its turn (nothing happens to a
    // message no longer queued); ReleaseOverdue lets go every held message
    // that was not cut mid-attempt. Returns how many were let go.
    void Release(const TSms* sms);
    int ReleaseOverdue();
    // One message to one contact of the address book (the history's "Повторить"):
    // the contact of that name and phone, else the one of that name, else the
    // one of that phone (phones compared by SamePhone). The text goes through
    // the composer's rule (ComposedMessageText). Raises
    // for an empty text or a contact no longer there; the recipient list is
    // not touched. The text is the one recorded, already filled in: it is not
    // filled in again (a name holding "{phone}" stays as it was sent).
    void QueueSmsTo(const std::string& name, const std::string& phone, const std::string& text);
    // Removes every queued message; FailedCount stays. A delivery out is not
    // touched: if it fails with attempts left it is queued again.
    void ClearQueue();
    // Removes one queued message (the queue window's "Удалить"); a message
    // that is no longer in the queue (taken out for delivery) is left alone.
    void DeleteQueued(const TSms* sms);

    // --- the queue on disk ---
    // Reads the queue's journal (after the operators and the address book are
    // loaded) and brings back the messages it owes, in their order and with
    // their attempt counts; a message whose attempt was under way comes back
    // Interrupted. A message whose contact or operator no longer exists is
    // written to the history as failed, with the reason, and counted failed.
    // From then on every change of the queue is in the journal before it is
    // in the queue. Raises for a journal that does not read (it stays as it is
    // and no journal is kept).
    // A journal with records that do not read brings back every message that
    // does; the file is first kept aside as it was (TQueueRestore::KeptAs).
    // A journal of a newer format raises TNewerJournalError and stays as it
    // is, unless `setAsideNewer`: it is then kept aside and the queue starts empty.
    TQueueRestore RestoreQueue(const std::string& path, bool setAsideNewer = false);
    bool KeepsJournal() const { return FJournal != nullptr; }

    // Step 1 of a delivery: takes the first queued message that is due (its
    // own time and its operator's pace allow it, outside the quiet hours),
    // counts the attempt and snapshots what it needs. Returns nullptr when
    // nothing is due or a delivery is already out (only one at a time).
    std::shared_ptr<TSmsDelivery> BeginDelivery();
    // The same for the queued message at `index` (the command line works off
    // only the messages it queued); nullptr also for a position outside the
    // queue and for a message that is not due. Called off before it ran, such
    // a message goes back to the front.
    std::shared_ptr<TSmsDelivery> BeginDelivery(int index);
    // Step 3: records the outcome; a failed message with attempts left goes to
    // the end of the queue, a finished one to the history (when on) and, if it
    // failed, into Queue.FailedCount. A delivery whose Run never started is
    // recorded as a cancelled attempt. A delivery that was cancelled (the
    // program's exit) goes back to the front of the queue: withdrawn when it
    // never ran, marked Interrupted when it had begun. Raises a system error for a delivery
    // that is not the one out or whose Run is still going; a history write
    // error passes on (the message is then gone and not counted).
    void FinishDelivery(const std::shared_ptr<TSmsDelivery>& delivery);
    // The message the last FinishDelivery finished for good (sent or given
    // up), as its history record; empty when it went back to the queue.
    std::optional<TSmsHistoryRecord> Finished;
    // The delivery out, or nullptr.
    const std::shared_ptr<TSmsDelivery>& CurrentDelivery() const { return FDelivery; }
    // The three steps in one call. False when nothing was attempted (the queue
    // was empty, or a delivery is out).
    bool SendNext();

    // --- files (operators first, then the address book) ---
    // Reads the operators file anew (created empty when missing). Contacts
    // keep their operators by name: after the reading each points at the
    // operator of that name, or at none.
    void LoadSmsSenders(const std::string& fileName);
    // Writes the operators file anew through a safe save.
    void SaveSmsSenders(const std::string& fileName);
    // Adds the operators of another operators file in the order of its
    // sections, each with a fresh identifier; an operator whose name is empty
    // or taken already is dropped without a word. Returns how many were added.
    // A file that cannot be read, or whose operators clash among themselves,
    // raises and adds nothing.
    int ImportSmsSenders(const std::string& fileName);
    // Appends the file's contacts to the master list, replaces the ordinary
    // groups by the file's, then resolves member and operator names. A failed
    // load raises after resolving what it had read, so no placeholder stays.
    void LoadAddressBook(const std::string& fileName);
    // Writes the contacts, then the ordinary groups, through a safe save.
    void SaveAddressBook(const std::string& fileName);
    // Puts the master contact of the same name in place of every member of the
    // ordinary groups, dropping members whose name no contact has.
    void ResolveGroupMembers();
    // Points every contact's operator at the operator of the same name, or at
    // none when there is no such operator.
    void ResolveContactSenders();

private:
    void ResolveMembersOf(TGroup* group);
    TJournalEntry JournalEntryOf(const TSms& sms) const;
    void RewriteJournalIfDue();

    std::shared_ptr<TSmsQueueJournal> FJournal; // nullptr: the queue is kept in memory only
    // Each operator's use, by SenderId, for its pace limits.
    std::unordered_map<int, TJournalPace> FPace;
    int PiecesOf(const TSms& sms) const;
    void ResolveSenderOf(TContact* contact);

    std::shared_ptr<TSmsDelivery> FDelivery;     // the delivery out, if any
    const TSmsSender* FDeliverySender = nullptr; // the operator it started with
};

// The one manager of the process, created on first use (after the program
// options have been loaded).
TSmsManager& SmsManager();
// Tests: destroys the manager, so that the next SmsManager() creates a new one.
void ResetSmsManagerForTests();
