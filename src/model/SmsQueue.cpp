#include "model/SmsQueue.h"

#include "model/Error.h"
#include "model/ItemList.h"
#include "model/Text.h"

#include <exception>

std::string NoSmsSenderErrorText() { return Cp1251("Для абонента не указан оператор."); }

std::optional<TSmsFailure> DeliverSms(TSmsSender* sender, const std::string& phone, const std::string& text,
                                      const TTranslitTable* table)
{
    if (!sender)
        return TSmsFailure {NoSmsSenderErrorText()};
    try {
        sender->Send(phone, text, table);
        return std::nullopt;
    } catch (const TPermanentError& e) {
        return TSmsFailure {e.message(), true};
    } catch (...) {
        return TSmsFailure {ExceptionMessage(std::current_exception())};
    }
}

TSms::TSms(TContact* contact, std::string text) : Contact(contact), Text(std::move(text)), Created(Now()) {}

void TSms::BeginAttempt()
{
    ErrorText.clear();
    PermanentFailure = false;
    ++TryCount;
}

void TSms::FinishAttempt(const std::optional<TSmsFailure>& failure)
{
    if (failure) {
        ErrorText = failure->Text;
        PermanentFailure = failure->Permanent;
        Status = SmsStatusFailed;
    } else {
        Status = SmsStatusSent;
    }
}

void TSms::TrySend(const TTranslitTable* table)
{
    BeginAttempt();
    std::optional<TSmsFailure> error;
    if (!Contact)
        error = TSmsFailure {Cp1251("Не указан абонент.")};
    else
        error = DeliverSms(Contact->SmsSender, Contact->PhoneNumber, Text, table);
    FinishAttempt(error);
}

TSms* TSmsQueue::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw ListIndexError(index);
    return FItems[static_cast<size_t>(index)].get();
}

std::unique_ptr<TSms> TSmsQueue::TakeFirst()
{
    if (FItems.empty())
        return nullptr;
    std::unique_ptr<TSms> first = std::move(FItems.front());
    FItems.pop_front();
    return first;
}

int TSmsQueue::Add(std::unique_ptr<TSms> sms)
{
    if (!sms)
        throw SystemError("TSmsQueue.Add(nil)");
    FItems.push_back(std::move(sms));
    return Count() - 1;
}

std::unique_ptr<TSms> TSmsQueue::Take(int index)
{
    if (index < 0 || index >= Count())
        throw ListIndexError(index);
    std::unique_ptr<TSms> sms = std::move(FItems[static_cast<size_t>(index)]);
    FItems.erase(FItems.begin() + index);
    return sms;
}

void TSmsQueue::AddFirst(std::unique_ptr<TSms> sms)
{
    if (!sms)
        throw SystemError("TSmsQueue.AddFirst(nil)");
    FItems.push_front(std::move(sms));
}

void TSmsQueue::Delete(int index)
{
    if (index < 0 || index >= Count())
        throw ListIndexError(index);
    FItems.erase(FItems.begin() + index);
}

void TSmsQueue::Clear() { FItems.clear(); }
