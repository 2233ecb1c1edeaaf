#pragma once
// Outgoing messages, the queue that holds them and the recipient list of the
// message being composed.
#include "model/AddressBook.h"
#include "model/Clock.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

// TSms::Status values.
constexpr int SmsStatusNone = 0;
constexpr int SmsStatusSent = 1;
constexpr int SmsStatusFailed = -1;
constexpr int SmsStatusCancelled = 2; // history format only; nothing sets it

// Why an attempt failed: the error text, and whether it failed for good.
struct TSmsFailure {
    std::string Text;
    bool Permanent = false;
};

// One message to one contact.
class TSms {
public:
    // Created = Now(); TryCount, Status 0; ErrorText empty.
    TSms(TContact* contact, std::string text);

    TContact* Contact; // not owned
    std::string Text;
    TDateTime Created;
    int TryCount = 0;
    int Status = SmsStatusNone;
    std::string ErrorText;
    // The last attempt failed for good (TPermanentError): no retry.
    bool PermanentFailure = false;
    // Its identifier in the queue's journal (0: the queue keeps no journal).
    std::uint64_t JournalId = 0;
    // An attempt was under way when the program stopped: the message may have
    // gone out already. Cleared when its next attempt begins.
    bool Interrupted = false;
    // Waits for the user's word before it is attempted (an Interrupted one, or
    // one that came due while the program was closed): never sent on its own.
    bool Held = false;
    // Not to be attempted before this moment (LocalSeconds; 0: at once): the
    // time the user chose (Scheduled), or the wait before a retry.
    long long NotBefore = 0;
    bool Scheduled = false;

    // One delivery attempt through the contact's current operator and phone
    // number. Never raises for a delivery failure: the outcome goes to Status
    // and ErrorText. `table` is passed on to Send (nullptr = the process table).
    void TrySend(const TTranslitTable* table = nullptr);

    // The steps of TrySend, for a caller that delivers elsewhere (a worker
    // thread with a copy of the operator): BeginAttempt, then the delivery
    // (DeliverSms), then FinishAttempt with its outcome.
    void BeginAttempt();
    void FinishAttempt(const std::optional<TSmsFailure>& failure);
};

// Sends a text through an operator; returns the failure when it fails (no
// operator included), nothing when it succeeds. Never raises.
std::optional<TSmsFailure> DeliverSms(TSmsSender* sender, const std::string& phone, const std::string& text,
                                      const TTranslitTable* table = nullptr);

// "Для абонента не указан оператор."
std::string NoSmsSenderErrorText();

// The messages waiting for delivery, first is next. Holds its messages.
class TSmsQueue {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    // Raises TError for a position outside the queue.
    TSms* Items(int index) const;
    // Removes the first message and hands it over; nullptr when empty.
    std::unique_ptr<TSms> TakeFirst();
    // Appends at the end; returns the position.
    int Add(std::unique_ptr<TSms> sms);
    // Puts a message back at the front (an attempt that was called off).
    void AddFirst(std::unique_ptr<TSms> sms);
    // Removes the message at the position and hands it over; raises TError
    // (and changes nothing) for a position outside the queue.
    std::unique_ptr<TSms> TakeAt(int index);
    // Removes and discards the message at the position; raises TError (and
    // changes nothing) for a position outside the queue.
    void Delete(int index);
    void Clear();

    // Messages given up since the user last opened the history (the history
    // window sets it back to 0).
    int FailedCount = 0;

private:
    std::deque<std::unique_ptr<TSms>> FItems;
};

// The addressees picked for the next message. Neither list owns its items.
class TRecipientList {
public:
    TRecipientList() : Contacts(false), Groups(false) {}
    TContactList Contacts;
    TGroupList Groups;
};
