#pragma once
// One delivery attempt, made in three steps so that the network exchange and
// the waits between pieces can run away from the window's thread:
//   1. TSmsManager::BeginDelivery (UI thread) takes the first queued message
//      and fills a delivery with a snapshot of what the attempt needs;
//   2. TSmsDelivery::Run (any thread) delivers using only that snapshot;
//   3. TSmsManager::FinishDelivery (UI thread) records the outcome in the
//      message and retries it, writes it to the history or counts it failed.
#include "model/DeliveryCancel.h"
#include "model/SmsQueue.h"
#include "model/SmsQueueJournal.h"
#include "model/Translit.h"
#include "storage/SmsOptions.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

class TSms;
class TSmsSender;

class TSmsDelivery {
public:
    ~TSmsDelivery();
    TSmsDelivery(const TSmsDelivery&) = delete;
    TSmsDelivery& operator=(const TSmsDelivery&) = delete;

    // Delivers the snapshot's text to its phone through the operator's copy.
    // Never raises: the outcome is kept for FinishDelivery. Runs once; later
    // calls do nothing.
    void Run();

    // Stops the attempt: the request or SMTP exchange under way and the pause
    // between pieces end at once, no further piece is sent, and the attempt
    // fails with CancelledErrorText(). Any thread.
    void Cancel() { FCancel.Cancel(); }
    bool CancelRequested() const { return FCancel.Cancelled(); }
    // Run has completed (FinishDelivery may be called).
    bool Done() const { return FState.load() == Finished; }

    // UI thread: the message being delivered (it is outside the queue while
    // the delivery is out), until FinishDelivery takes it back.
    TSms* Sms() const { return FSms.get(); }

    // The snapshot, readable after BeginDelivery.
    const std::string& Phone() const { return FPhone; }
    const std::string& Text() const { return FText; }
    const TSmsSender* SmsSender() const { return FSender.get(); }
    // After Run: the error text of a failed attempt, nothing when it succeeded.
    std::optional<std::string> Error() const { return FError ? std::optional(FError->Text) : std::nullopt; }
    // After Run: the attempt failed for good (no retry).
    bool PermanentFailure() const { return FError && FError->Permanent; }

    static std::string CancelledErrorText(); // "Отправка SMS прервана."

    // UI thread: a delivery that belongs to no queue (an operator's check):
    // the snapshot a queued message gets, without a message or a journal.
    static std::shared_ptr<TSmsDelivery> Detached(const TSmsSender& sender, const std::string& phone,
                                                  const std::string& text);
    // The transliteration table of the snapshot.
    const TTranslitTable& TranslitSnapshot() const { return FTranslit; }
    // The attempts the options of the snapshot allow a message.
    int MaxTryCount() const { return FOptions.MaxTryCount; }

private:
    friend class TSmsManager;
    TSmsDelivery();
    // UI thread: copies what Run needs, so that the worker reads nothing shared:
    // the operator (its copy reads the options snapshot), the transliteration table.
    void TakeSnapshot(const TSmsSender* sender, const std::string& phone, const std::string& text);

    enum { Ready, Running, Finished };

    // UI side.
    std::unique_ptr<TSms> FSms;
    // The snapshot, used by Run only.
    std::string FPhone;
    std::string FText;
    std::unique_ptr<TSmsSender> FSender; // nullptr: the contact has no operator
    TSmsOptions FOptions;
    TTranslitTable FTranslit;
    // The queue's journal: its record of the attempt is on the disk before
    // anything goes out (nullptr: no journal).
    std::shared_ptr<TSmsQueueJournal> FJournal;
    // The outcome.
    std::optional<TSmsFailure> FError;
    std::atomic<int> FState {Ready};
    TCancelToken FCancel;
};
