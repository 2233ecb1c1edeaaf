#include "engine/SmsDelivery.h"

#include "engine/StdSmsSender.h"
#include "model/AddressBook.h"
#include "model/DeliveryCancel.h"
#include "model/Error.h"
#include "model/SmsQueue.h"
#include "model/Text.h"

namespace {

// Sends through the operator's copy, but refuses every piece once a cancel
// has been asked for; the splitting and waits are those of every operator.
class TCancellableSender final : public TSmsSender {
public:
    TCancellableSender(TSmsSender& inner, const TCancelToken& cancel)
        : TSmsSender(inner), FInner(inner), FCancel(cancel)
    {
    }
    void DoSend(const std::string& phone, const std::string& text) override
    {
        if (FCancel.Cancelled())
            throw TError(TSmsDelivery::CancelledErrorText());
        FInner.DoSend(phone, text);
    }
    std::unique_ptr<TSmsSender> Clone() const override { return FInner.Clone(); }

private:
    TSmsSender& FInner;
    const TCancelToken& FCancel;
};

} // namespace

TSmsDelivery::TSmsDelivery() = default;
TSmsDelivery::~TSmsDelivery() = default;

// One text for a cancelled delivery, wherever the cancel reaches it.
std::string TSmsDelivery::CancelledErrorText() { return DeliveriesCancelledMessage(); }

void TSmsDelivery::TakeSnapshot(const TSmsSender* sender, const std::string& phone, const std::string& text)
{
    FPhone = phone;
    FText = text;
    FSender = sender ? sender->Clone() : nullptr;
    FOptions = SmsOptions();
    if (auto* standard = dynamic_cast<TStdSmsSender*>(FSender.get()))
        standard->Options = &FOptions;
    FTranslit = TranslitTable();
}

std::shared_ptr<TSmsDelivery> TSmsDelivery::Detached(const TSmsSender& sender, const std::string& phone,
                                                     const std::string& text)
{
    std::shared_ptr<TSmsDelivery> delivery(new TSmsDelivery());
    delivery->TakeSnapshot(&sender, phone, text);
    return delivery;
}

void TSmsDelivery::Run()
{
    int expected = Ready;
    if (!FState.compare_exchange_strong(expected, Running))
        return;
    std::optional<TSmsFailure> error;
    if (!FSender) {
        error = TSmsFailure {NoSmsSenderErrorText()};
    } else if (FCancel.Cancelled()) {
        error = TSmsFailure {CancelledErrorText()};
    } else {
        // After a power cut the journal must still say that this attempt began.
        if (FJournal)
            FJournal->Sync();
        // The transports and the waits between pieces watch this token.
        TCancelScope scope(FCancel);
        TCancellableSender sender(*FSender, FCancel);
        error = DeliverSms(&sender, FPhone, FText, &FTranslit);
    }
    FError = std::move(error);
    FState.store(Finished);
}
