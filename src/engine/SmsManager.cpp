#include "engine/SmsManager.h"

#include "engine/StdSmsSender.h"
#include "model/Error.h"
#include "model/Text.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"

#include <array>
#include <string_view>

namespace {

// Most contacts one message may go to.
constexpr int MaxRecipientContacts = 20;

std::unique_ptr<TSmsManager>& Instance()
{
    static std::unique_ptr<TSmsManager> manager;
    return manager;
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

void TSmsManager::QueueSms(const std::string& text)
{
    TContactSet set;
    for (int i = Recipients.Contacts.Count() - 1; i >= 0; --i)
        set.AddContact(Recipients.Contacts[i]);
    for (int i = Recipients.Groups.Count() - 1; i >= 0; --i)
        set.AddGroup(Recipients.Groups[i]);
    const int n = set.Count();
    if (n < 1)
        throw TError(Cp1251("Список адресатов пуст."));
    if (n > MaxRecipientContacts)
        throw TError(Cp1251("Превышено допустимое количество адресатов (20 Абонентов)"));
    // All messages first, so that a failure leaves the queue as it was.
    std::vector<std::unique_ptr<TSms>> messages;
    messages.reserve(static_cast<size_t>(n));
    for (int i = n - 1; i >= 0; --i)
        messages.push_back(std::make_unique<TSms>(set[i], text));
    for (auto& sms : messages)
        Queue.Add(std::move(sms));
}

void TSmsManager::ClearQueue() { Queue.Clear(); }

std::shared_ptr<TSmsDelivery> TSmsManager::BeginDelivery()
{
    if (FDelivery || Queue.Count() == 0)
        return nullptr;
    // The snapshot is taken before the message leaves the queue, so that a
    // failure here leaves the queue as it was.
    TSms* first = Queue.Items(0);
    std::shared_ptr<TSmsDelivery> delivery(new TSmsDelivery());
    TContact* contact = first->Contact;
    delivery->FText = first->Text;
    if (contact) {
        delivery->FPhone = contact->PhoneNumber;
        if (contact->SmsSender)
            delivery->FSender = contact->SmsSender->Clone();
    }
    delivery->FOptions = SmsOptions();
    if (auto* standard = dynamic_cast<TStdSmsSender*>(delivery->FSender.get()))
        standard->Options = &delivery->FOptions;
    delivery->FTranslit = TranslitTable();

    delivery->FSms = Queue.TakeFirst();
    delivery->FSms->BeginAttempt();
    FDelivery = delivery;
    FDeliverySender = contact ? contact->SmsSender : nullptr;
    return delivery;
}

void TSmsManager::FinishDelivery(const std::shared_ptr<TSmsDelivery>& delivery)
{
    if (!delivery || delivery != FDelivery)
        throw SystemError("TSmsManager.FinishDelivery: not the delivery in progress");
    int state = TSmsDelivery::Ready;
    if (delivery->FState.compare_exchange_strong(state, TSmsDelivery::Finished))
        delivery->FError = TSmsFailure {TSmsDelivery::CancelledErrorText()}; // never ran
    else if (state == TSmsDelivery::Running)
        throw SystemError("TSmsManager.FinishDelivery: the delivery is still running");

    std::unique_ptr<TSms> sms = std::move(delivery->FSms);
    FDelivery.reset();
    FDeliverySender = nullptr;

    sms->FinishAttempt(delivery->FError);
    const TSmsOptions& options = SmsOptions();
    if (sms->Status == SmsStatusFailed && !sms->PermanentFailure && sms->TryCount < options.MaxTryCount) {
        Queue.Add(std::move(sms));
        return;
    }
    if (options.HistoryFlag)
        History.AddSms(*sms);
    if (sms->Status == SmsStatusFailed)
        ++Queue.FailedCount;
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
