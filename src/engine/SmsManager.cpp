#include "engine/SmsManager.h"
#include "engine/DeliveryTracker.h"

#include "engine/StdSmsSender.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/MessageText.h"
#include "model/RecipientFields.h"
#include "model/SmsLink.h"
#include "model/Text.h"
#include "model/Translit.h"
#include "storage/DeliveryStatusFile.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_map>

namespace {

// Most contacts one message may go to.
constexpr int MaxRecipientContacts = 20;

std::unique_ptr<TSmsManager>& Instance()
{
    static std::unique_ptr<TSmsManager> manager;
    return manager;
}

// yyyymmdd of local seconds.
int DayOf(long long seconds)
{
    const TDateTime t = FromLocalSeconds(seconds);
    return t.Year * 10000 + t.Month * 100 + t.Day;
}

std::string ContactQueuedText() { return Cp1251("Нельзя удалить Абонента,\rт.к. ему в данный момент отсылается SMS."); }

} // namespace

TSmsManager& SmsManager()
{
    std::unique_ptr<TSmsManager>& manager = Instance();
    if (!manager)
        manager = std::make_unique<TSmsManager>();
    return *manager;
}

void ResetSmsManagerForTests() { Instance().reset(); }

TSmsManager::TSmsManager()
    : Templates(ProgramOptions().TemplatesFileName), History(ProgramOptions().HistoryFileName)
{
    auto all = std::make_unique<TSpecialGroup>(true);
    all->SetName(Cp1251("(Все Абоненты)"));
    all->SetGroupId(1);
    Groups.Add(all.get());
    AllContactsGroup = all.release();

    auto found = std::make_unique<TSpecialGroup>(false);
    found->SetName(Cp1251("(Найденные Абоненты)"));
    found->SetGroupId(2);
    Groups.Add(found.get());
    FoundContactsGroup = found.release();

    Templates.LoadFromFile();
}

TSmsManager::~TSmsManager() = default;

// --- the address book ---

void TSmsManager::AddContact(TContact* contact) { Contacts().Add(contact, false); }

void TSmsManager::AddContactToGroup(TContact* contact, TGroup* group) { group->Contacts.Add(contact, false); }

void TSmsManager::RemoveContactFromGroup(TContact* contact, TGroup* group)
{
    // The all-contacts group's list owns the contact: removing it there would
    // destroy a contact that others still refer to.
    if (group == AllContactsGroup || group->Contacts.OwnsItems())
        throw SystemError("TSmsManager.RemoveContactFromGroup(AllContactsGroup)");
    group->Contacts.Remove(contact);
}

void TSmsManager::AddGroup(TGroup* group) { Groups.Add(group, false); }

void TSmsManager::DeleteContact(TContact* contact)
{
    CheckContactNotQueued(contact);
    for (TGroup* group : Groups)
        if (group != AllContactsGroup)
            group->Contacts.Remove(contact);
    Recipients.Contacts.Remove(contact);
    Contacts().Remove(contact);
}

void TSmsManager::DeleteGroup(TGroup* group)
{
    // The search keeps using the found group for the manager's whole life.
    if (group == AllContactsGroup || group == FoundContactsGroup)
        throw TError(Cp1251("Данную группу удалять нельзя."));
    Recipients.Groups.Remove(group);
    Groups.Remove(group);
}

void TSmsManager::CheckContactNotQueued(const TContact* contact) const
{
    for (int i = 0; i < Queue.Count(); ++i)
        if (Queue.Items(i)->Contact == contact)
            throw TError(ContactQueuedText());
    if (FDelivery && FDelivery->Sms() && FDelivery->Sms()->Contact == contact)
        throw TError(ContactQueuedText());
}

void TSmsManager::AddSmsSender(TSmsSender* sender) { SmsSenders.Add(sender); }

void TSmsManager::CheckSmsSenderUnused(const TSmsSender* sender) const
{
    const std::string text = Cp1251("Нельзя удалить оператора,\rт.к. есть абоненты, которые его используют.");
    if (FDelivery && FDeliverySender == sender)
        throw TError(text);
    for (const TContact* contact : Contacts())
        if (contact->SmsSender == sender)
            throw TError(text);
}

void TSmsManager::SearchContacts(const std::string& text)
{
    TContactList& found = FoundContactsGroup->Contacts;
    const std::string key = UpperCase(text);
    if (key.empty()) {
        found.Clear();
        return;
    }
    // The master list holds distinct contacts with distinct names and ids, so
    // the matches go into the found group as they are.
    const TContactList& all = Contacts();
    std::vector<TContact*> matches;
    for (auto it = all.end(); it != all.begin();) {
        TContact* contact = *--it;
        if (contact->UpperCaption().find(key) != std::string::npos)
            matches.push_back(contact);
    }
    found.AssignDistinct(std::move(matches));
}

TContact* TSmsManager::FindContactByPhone(const std::string& phone) const
{
    const std::string wanted = NormalizedPhone(phone);
    if (wanted.empty())
        return nullptr;
    for (TContact* contact : Contacts())
        if (NormalizedPhone(contact->PhoneNumber) == wanted)
            return contact;
    return nullptr;
}

// --- recipients ---

void TSmsManager::AddRecipientContact(TContact* contact) { Recipients.Contacts.Add(contact, false); }
void TSmsManager::AddRecipientGroup(TGroup* group) { Recipients.Groups.Add(group, false); }
void TSmsManager::RemoveRecipientContact(TContact* contact) { Recipients.Contacts.Remove(contact); }
void TSmsManager::RemoveRecipientGroup(TGroup* group) { Recipients.Groups.Remove(group); }

void TSmsManager::ClearRecipients()
{
    Recipients.Contacts.Clear();
    Recipients.Groups.Clear();
}

// --- the queue ---

int RetryWaitSeconds(int failedAttempts)
{
    static constexpr int waits[] = {5, 30, 120, 600};
    return waits[std::clamp(failedAttempts, 1, 4) - 1];
}

void CheckSendTime(long long notBefore)
{
    if (notBefore <= LocalSeconds(Now()))
        throw TError(Cp1251("Время отправки уже прошло: выберите время в будущем."));
}

void TSmsManager::QueueSms(const std::string& text, long long notBefore, bool translitFields)
{
    if (notBefore > 0)
        CheckSendTime(notBefore);
    TContactSet set;
    FillRecipientSet(Recipients, set);
    const int n = set.Count();
    if (n < 1)
        throw TError(Cp1251("Список адресатов пуст."));
    if (n > MaxRecipientContacts)
        throw TError(Cp1251("Превышено допустимое количество адресатов (20 Абонентов)"));
    // All messages first, so that a failure leaves the queue as it was; the
    // journal takes them in one write before the queue shows them.
    std::vector<std::unique_ptr<TSms>> messages;
    std::vector<TJournalEntry> entries;
    messages.reserve(static_cast<size_t>(n));
    const bool fields = HasRecipientFields(text);
    for (int i = n - 1; i >= 0; --i) {
        TContact* contact = set[i];
        std::string own = text;
        if (fields)
            own = ExpandRecipientFields(text, translitFields ? Translit(contact->Name()) : contact->Name(),
                                        contact->PhoneNumber);
        messages.push_back(std::make_unique<TSms>(contact, std::move(own)));
        messages.back()->NotBefore = notBefore;
        messages.back()->Scheduled = notBefore > 0;
        if (FJournal) {
            messages.back()->JournalId = FJournal->NewId();
            entries.push_back(JournalEntryOf(*messages.back()));
        }
    }
    if (FJournal)
        FJournal->Queued(entries);
    for (auto& sms : messages)
        Queue.Add(std::move(sms));
}

void TSmsManager::QueueSmsTo(const std::string& name, const std::string& phone, const std::string& text)
{
    const std::string composed = ComposedMessageText(text);
    if (composed.empty())
        throw TError(Cp1251("Не указан текст сообщения."));
    // The contact of that name, the one with that number (written any way)
    // first; with nobody of that name, the contact with that number.
    TContact* contact = nullptr;
    for (TContact* c : Contacts())
        if (c->Name() == name && (!contact || SamePhone(c->PhoneNumber, phone)))
            contact = c;
    if (!contact && !phone.empty())
        contact = FindContactByPhone(phone);
    if (!contact)
        throw TError(Cp1251("Абонента «") + name + Cp1251("» нет в адресной книге: сообщение не поставлено в очередь."));
    auto sms = std::make_unique<TSms>(contact, composed);
    if (FJournal) {
        sms->JournalId = FJournal->NewId();
        FJournal->Queued({JournalEntryOf(*sms)});
    }
    Queue.Add(std::move(sms));
}

void TSmsManager::ClearQueue()
{
    if (FJournal) {
        std::vector<std::uint64_t> ids;
        for (int i = 0; i < Queue.Count(); ++i)
            ids.push_back(Queue.Items(i)->JournalId);
        FJournal->Removed(ids);
    }
    Queue.Clear();
}

void TSmsManager::DeleteQueued(const TSms* sms)
{
    for (int i = 0; i < Queue.Count(); ++i) {
        if (Queue.Items(i) == sms) {
            if (FJournal)
                FJournal->Removed({sms->JournalId});
            Queue.Delete(i);
            return;
        }
    }
}

TJournalEntry TSmsManager::JournalEntryOf(const TSms& sms) const
{
    TJournalEntry entry;
    entry.Id = sms.JournalId;
    entry.Created = sms.Created;
    entry.TryCount = sms.TryCount;
    entry.Interrupted = sms.Interrupted;
    entry.Text = sms.Text;
    entry.NotBefore = sms.NotBefore;
    entry.Scheduled = sms.Scheduled;
    if (const TContact* contact = sms.Contact) {
        entry.ContactId = contact->ContactId();
        entry.ContactName = contact->Name();
        entry.Phone = contact->PhoneNumber;
        if (contact->SmsSender)
            entry.SenderId = contact->SmsSender->SenderId();
    }
    return entry;
}

void TSmsManager::RewriteJournalIfDue()
{
    if (!FJournal || !FJournal->WantsRewrite())
        return;
    std::vector<TJournalEntry> live;
    if (FDelivery && FDelivery->Sms())
        live.push_back(JournalEntryOf(*FDelivery->Sms()));
    for (int i = 0; i < Queue.Count(); ++i)
        live.push_back(JournalEntryOf(*Queue.Items(i)));
    FJournal->Open(live, FJournal->Pace());
    // The rewrite lost the record that the delivery out had begun.
    if (FDelivery && FDelivery->Sms())
        FJournal->Begun(FDelivery->Sms()->JournalId);
}

TQueueRestore TSmsManager::RestoreQueue(const std::string& path, bool setAsideNewer)
{
    auto journal = std::make_shared<TSmsQueueJournal>(path);
    TJournalRead read = journal->Read();
    TQueueRestore result;
    if (read.NewerVersion > 0 && !setAsideNewer)
        throw TNewerJournalError(Cp1251("Файл очереди сообщений \"") + PathText(path) +
                                 Cp1251("\" записан более новой версией программы (формат ") +
                                 IntToStr(read.NewerVersion) +
                                 Cp1251("), эта версия не умеет его читать. Файл оставлен без изменений."));
    // The file is kept as it was before the rewrite below drops what did not read.
    if (read.NewerVersion > 0 || read.Damaged())
        result.KeptAs = journal->KeepAside();
    result.Unreadable = read.Unreadable;
    result.Utf16 = read.Utf16;
    const std::vector<TJournalEntry>& entries = read.Entries;
    std::vector<TJournalPace>& pace = read.Pace;
    std::unordered_map<int, TContact*> contacts;
    if (!entries.empty()) // an empty queue (most starts) needs no index of the book
        for (TContact* contact : Contacts())
            contacts.emplace(contact->ContactId(), contact);
    std::vector<std::unique_ptr<TSms>> restored;
    std::vector<TJournalEntry> live;
    for (const TJournalEntry& entry : entries) {
        // The contact of that id, unless both its name and its phone differ
        // from the message's: then it is somebody else who took a freed id.
        const auto found = contacts.find(entry.ContactId);
        TContact* contact = found == contacts.end() ? nullptr : found->second;
        if (contact && !SameText(contact->Name(), entry.ContactName) && contact->PhoneNumber != entry.Phone)
            contact = nullptr;
        std::string reason;
        if (!contact)
            reason = Cp1251("Абонент «") + entry.ContactName + Cp1251("» удалён из адресной книги: сообщение не отправлено.");
        else if (!contact->SmsSender)
            reason = Cp1251("Оператор абонента «") + contact->Name() + Cp1251("» удалён: сообщение не отправлено.");
        if (!reason.empty()) {
            // The history names the addressee as the message was queued.
            TContact gone;
            gone.SetName(entry.ContactName);
            gone.PhoneNumber = entry.Phone;
            TSms sms(&gone, entry.Text);
            sms.Created = entry.Created;
            sms.TryCount = entry.TryCount;
            sms.FinishAttempt(TSmsFailure {reason, true});
            if (SmsOptions().HistoryFlag)
                History.AddSms(sms);
            ++Queue.FailedCount;
            ++result.Failed;
            continue;
        }
        auto sms = std::make_unique<TSms>(contact, entry.Text);
        sms->Created = entry.Created;
        sms->TryCount = entry.TryCount;
        sms->Interrupted = entry.Interrupted;
        sms->JournalId = entry.Id;
        sms->NotBefore = entry.NotBefore;
        sms->Scheduled = entry.Scheduled;
        live.push_back(entry);
        restored.push_back(std::move(sms));
        ++result.Restored;
        result.Interrupted += entry.Interrupted ? 1 : 0;
    }
    journal->Open(live, pace);
    FJournal = std::move(journal);
    for (const TJournalPace& p : pace)
        FPace[p.SenderId] = p;
    for (auto& sms : restored)
        Queue.Add(std::move(sms));
    return result;
}

int TSmsManager::PiecesOf(const TSms& sms) const
{
    const TSmsSender* sender = sms.Contact ? sms.Contact->SmsSender : nullptr;
    if (!sender)
        return 1;
    const std::string sent = sender->TranslitFlag ? Translit(TranslitTable(), sms.Text) : sms.Text;
    return static_cast<int>(SmsPieces(sent, sender->MaxSmsLen).size());
}

bool TSmsManager::QuietAt(long long now, long long* until) const
{
    const TSmsOptions& options = SmsOptions();
    if (!options.QuietHoursOn())
        return false;
    const long long day = now - now % 86400;
    const int minute = static_cast<int>(now % 86400 / 60);
    const int from = options.QuietFrom, to = options.QuietTo;
    // From 21:00 to 09:00 crosses midnight; from 13:00 to 14:00 does not.
    const bool inside = from < to ? (minute >= from && minute < to) : (minute >= from || minute < to);
    if (inside && until)
        *until = day + to * 60LL + (from > to && minute >= from ? 86400 : 0);
    return inside;
}

TQueueWait TSmsManager::WaitOf(const TSms& sms, long long now) const
{
    if (sms.Held)
        return {TQueueWait::Held, 0};
    if (sms.NotBefore > now)
        return {sms.Scheduled ? TQueueWait::Scheduled : TQueueWait::Retry, sms.NotBefore};
    const TSmsSender* sender = sms.Contact ? sms.Contact->SmsSender : nullptr;
    if (!sender)
        return {};
    const auto found = FPace.find(sender->SenderId());
    if (found == FPace.end())
        return {};
    const TJournalPace& pace = found->second;
    if (sender->DailyLimit > 0 && pace.Day == DayOf(now) && pace.Pieces >= sender->DailyLimit)
        return {TQueueWait::DailyLimit, now - now % 86400 + 86400};
    if (sender->MinSendInterval > 0 && pace.LastAttempt + sender->MinSendInterval > now)
        return {TQueueWait::Interval, pace.LastAttempt + sender->MinSendInterval};
    return {};
}

long long TSmsManager::NextDue(long long now) const
{
    TQueueWait wait;
    return NextWaiting(now, &wait) ? wait.Until : 0;
}

const TSms* TSmsManager::NextWaiting(long long now, TQueueWait* wait) const
{
    const TSms* next = nullptr;
    *wait = {};
    for (int i = 0; i < Queue.Count(); ++i) {
        const TQueueWait own = WaitOf(*Queue.Items(i), now);
        if (own.Kind == TQueueWait::None) {
            *wait = {};
            return nullptr;
        }
        if (own.Kind != TQueueWait::Held && (!next || own.Until < wait->Until)) {
            next = Queue.Items(i);
            *wait = own;
        }
    }
    return next;
}

int TSmsManager::HeldCount() const
{
    int held = 0;
    for (int i = 0; i < Queue.Count(); ++i)
        held += Queue.Items(i)->Held ? 1 : 0;
    return held;
}

TQueueHold TSmsManager::HoldRestored(long long now)
{
    TQueueHold hold;
    const bool quiet = QuietAt(now);
    for (int i = 0; i < Queue.Count(); ++i) {
        TSms* sms = Queue.Items(i);
        if (sms->Held)
            continue;
        if (sms->Interrupted) {
            sms->Held = true;
            ++hold.Interrupted;
        } else if (!quiet && WaitOf(*sms, now).Kind == TQueueWait::None) {
            sms->Held = true;
            ++hold.Overdue;
        }
    }
    return hold;
}

void TSmsManager::Release(const TSms* sms)
{
    for (int i = 0; i < Queue.Count(); ++i)
        if (Queue.Items(i) == sms)
            Queue.Items(i)->Held = false;
}

int TSmsManager::ReleaseOverdue()
{
    int released = 0;
    for (int i = 0; i < Queue.Count(); ++i) {
        TSms* sms = Queue.Items(i);
        if (sms->Held && !sms->Interrupted) {
            sms->Held = false;
            ++released;
        }
    }
    return released;
}

std::shared_ptr<TSmsDelivery> TSmsManager::BeginDelivery()
{
    if (FDelivery || Queue.Count() == 0)
        return nullptr;
    const long long now = LocalSeconds(Now());
    if (QuietAt(now))
        return nullptr;
    // The first message that is due; the ones before it wait their turn.
    int index = 0;
    while (index < Queue.Count() && WaitOf(*Queue.Items(index), now).Kind != TQueueWait::None)
        ++index;
    return BeginDelivery(index);
}

std::shared_ptr<TSmsDelivery> TSmsManager::BeginDelivery(int index)
{
    if (FDelivery || index < 0 || index >= Queue.Count())
        return nullptr;
    const long long now = LocalSeconds(Now());
    if (QuietAt(now) || WaitOf(*Queue.Items(index), now).Kind != TQueueWait::None)
        return nullptr;
    // The snapshot is taken before the message leaves the queue, so that a
    // failure here leaves the queue as it was.
    TSms* first = Queue.Items(index);
    std::shared_ptr<TSmsDelivery> delivery(new TSmsDelivery());
    TContact* contact = first->Contact;
    delivery->TakeSnapshot(contact ? contact->SmsSender : nullptr, contact ? contact->PhoneNumber : std::string(),
                           first->Text);
    delivery->FJournal = FJournal;

    if (FJournal)
        FJournal->Begun(first->JournalId);
    // The operator's pace counts this attempt.
    if (contact && contact->SmsSender) {
        const TSmsSender* sender = contact->SmsSender;
        TJournalPace& pace = FPace[sender->SenderId()];
        pace.SenderId = sender->SenderId();
        if (pace.Day != DayOf(now)) {
            pace.Day = DayOf(now);
            pace.Pieces = 0;
        }
        pace.Pieces += PiecesOf(*first);
        pace.LastAttempt = now;
        if (FJournal && (sender->DailyLimit > 0 || sender->MinSendInterval > 0))
            FJournal->Paced(pace);
    }
    delivery->FSms = Queue.TakeAt(index);
    delivery->FSms->BeginAttempt();
    delivery->FSms->Interrupted = false;
    delivery->FSms->Held = false;
    FDelivery = delivery;
    FDeliverySender = contact ? contact->SmsSender : nullptr;
    return delivery;
}

void TSmsManager::FinishDelivery(const std::shared_ptr<TSmsDelivery>& delivery)
{
    if (!delivery || delivery != FDelivery)
        throw SystemError("TSmsManager.FinishDelivery: not the delivery in progress");
    int state = TSmsDelivery::Ready;
    const bool neverRan = delivery->FState.compare_exchange_strong(state, TSmsDelivery::Finished);
    if (neverRan)
        delivery->FError = TSmsFailure {TSmsDelivery::CancelledErrorText()};
    else if (state == TSmsDelivery::Running)
        throw SystemError("TSmsManager.FinishDelivery: the delivery is still running");
    Finished.reset();

    std::unique_ptr<TSms> sms = std::move(delivery->FSms);
    FDelivery.reset();
    FDeliverySender = nullptr;

    // Called off (the program's exit): the message stays owed, at the front.
    // One that never ran has not used its attempt; one cut short may have
    // reached the gateway, and the journal's open record of the attempt says
    // so at the next start.
    if (delivery->CancelRequested() && (neverRan || delivery->FError)) {
        if (neverRan) {
            if (FJournal)
                FJournal->Withdrawn(sms->JournalId);
            --sms->TryCount;
        } else {
            sms->Interrupted = true;
        }
        Queue.AddFirst(std::move(sms));
        return;
    }

    sms->FinishAttempt(delivery->FError);
    const TSmsOptions& options = SmsOptions();
    if (sms->Status == SmsStatusFailed && !sms->PermanentFailure && sms->TryCount < options.MaxTryCount) {
        // The next attempt waits, longer after each failure; the others go on meanwhile.
        sms->NotBefore = LocalSeconds(Now()) + RetryWaitSeconds(sms->TryCount);
        sms->Scheduled = false;
        if (FJournal)
            FJournal->Requeued(sms->JournalId, sms->NotBefore);
        Queue.Add(std::move(sms));
        return;
    }
    // The history first: a crash between the two leaves the attempt open in
    // the journal, and the message comes back marked, never silently lost.
    if (options.HistoryFlag)
        History.AddSms(*sms);
    if (sms->Status == SmsStatusFailed)
        ++Queue.FailedCount;
    Finished = HistoryRecordOf(*sms);
    // A message the gateway accepted from an operator that tells what became of it.
    if (const auto* sent = dynamic_cast<const TStdSmsSender*>(delivery->SmsSender());
        sent && sms->Status == SmsStatusSent && sent->AsksDeliveryStatus())
        DeliveryTracker().Accepted(*Finished, *sent, delivery->Phone(), delivery->Text(),
                                   DeliveryStatusFileName(History.FileName()));
    if (FJournal)
        FJournal->Removed({sms->JournalId});
    RewriteJournalIfDue();
}

bool TSmsManager::SendNext()
{
    std::shared_ptr<TSmsDelivery> delivery = BeginDelivery();
    if (!delivery)
        return false;
    delivery->Run();
    FinishDelivery(delivery);
    return true;
}
