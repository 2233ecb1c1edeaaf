#pragma once
// A clean SMS manager for each test (data and settings in a temporary folder,
// options and registry at their defaults, a fixed clock, a recording waiter)
// and a scripted operator whose copies share one script.
#include "engine/SmsManager.h"
#include "engine/StdSmsSenderIo.h"
#include "model/Error.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>

// Shared by an operator and its copies; usable from a delivery's thread.
struct TSendScript {
    std::mutex Mutex;
    std::vector<std::string> Pieces;                 // "operator|phone|text" per DoSend
    std::deque<std::optional<std::string>> Outcomes; // per call: an error text or success...
    std::optional<std::string> Otherwise;            // ...then this
    std::function<void()> OnSend;                    // runs first in each DoSend
    std::vector<std::string> pieces()
    {
        std::lock_guard lock(Mutex);
        return Pieces;
    }
};

class TFakeSender : public TSmsSender {
public:
    TFakeSender(std::shared_ptr<TSendScript> script, const std::string& name) : Script(std::move(script)) { SetName(name); }
    TFakeSender(const TFakeSender&) = default;
    std::string ClassName() const override { return "TFakeSender"; }
    std::unique_ptr<TSmsSender> Clone() const override { return std::make_unique<TFakeSender>(*this); }
    void DoSend(const std::string& phone, const std::string& text) override
    {
        if (Script->OnSend)
            Script->OnSend();
        std::lock_guard lock(Script->Mutex);
        Script->Pieces.push_back(Name() + "|" + phone + "|" + text);
        std::optional<std::string> outcome = Script->Otherwise;
        if (!Script->Outcomes.empty()) {
            outcome = Script->Outcomes.front();
            Script->Outcomes.pop_front();
        }
        if (outcome)
            throw TError(*outcome);
    }
    std::shared_ptr<TSendScript> Script;
};

class ManagerTest : public ::testing::Test {
protected:
    ManagerTest() : Clock(MakeDateTime(2026, 2, 1, 9, 5, 3)) { Reset(); }
    ~ManagerTest() override
    {
        Reset();
        SetProgramSettingsFolder("");
    }
    void Reset()
    {
        SetProgramSettingsFolder(Data.dir().path() + "/config");
        ResetSmsManagerForTests();
        ResetIoRegistryForTests();
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetTranslitTable();
    }

    TSmsManager& M() { return SmsManager(); }
    TSmsSender* AddFakeSender(const std::string& name = "Fake")
    {
        auto* sender = new TFakeSender(Script, name);
        M().AddSmsSender(sender);
        return sender;
    }
    TContact* AddContact(const std::string& name, const std::string& phone = "100", TSmsSender* sender = nullptr)
    {
        auto* contact = new TContact;
        contact->SetName(name);
        contact->PhoneNumber = phone;
        contact->SmsSender = sender;
        M().AddContact(contact);
        return contact;
    }
    TGroup* AddGroup(const std::string& name, const std::vector<TContact*>& members = {})
    {
        auto* group = new TGroup(false);
        group->SetName(name);
        M().AddGroup(group);
        for (TContact* member : members)
            M().AddContactToGroup(member, group);
        return group;
    }
    // Queues one message to each contact, in this order.
    void Queue(const std::vector<TContact*>& contacts, const std::string& text = "x")
    {
        M().ClearRecipients();
        for (TContact* contact : contacts)
            M().AddRecipientContact(contact);
        M().QueueSms(text);
        M().ClearRecipients();
    }
    std::vector<std::string> QueueNames()
    {
        std::vector<std::string> names;
        for (int i = 0; i < M().Queue.Count(); ++i)
            names.push_back(M().Queue.Items(i)->Contact->Name());
        return names;
    }
    std::string Read(const std::string& name) { return Data.dir().read(name); }

    TScopedDataDir Data;
    TFakeClock Clock;
    TFakeWaiter Waiter;
    std::shared_ptr<TSendScript> Script = std::make_shared<TSendScript>();
};
