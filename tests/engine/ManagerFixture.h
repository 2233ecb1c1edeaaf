#pragma once
// A clean SMS manager for each test: data and settings in a temporary folder,
// options and registry at their defaults, a fixed clock and a waiter that only
// records; and a scripted operator whose copies share one script.
#include "engine/SmsManager.h"
#include "engine/StdSmsSenderIo.h"
#include "model/AddressBook.h"
#include "model/Error.h"
#include "model/Translit.h"
#include "storage/IoRegistry.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What the fake operators do, shared by an operator and its copies; safe to
// use from a delivery's worker thread.
struct TSendScript {
    std::mutex Mutex;
    std::vector<std::string> Pieces;                 // "operator|phone|text" for each DoSend
    std::deque<std::optional<std::string>> Outcomes; // per call: an error text, or success; then...
    std::optional<std::string> Otherwise;            // ...this for every later call
    std::function<void()> OnSend;                    // runs at the start of each DoSend (no lock held)

    std::vector<std::string> pieces()
    {
        std::lock_guard lock(Mutex);
        return Pieces;
    }
};

class TFakeSender : public TSmsSender {
public:
    explicit TFakeSender(std::shared_ptr<TSendScript> script, const std::string& name = "Fake")
        : Script(std::move(script))
    {
        SetName(name);
    }
    TFakeSender(const TFakeSender&) = default;
    std::string ClassName() const override { return "TFakeSender"; }
    void DoSend(const std::string& phone, const std::string& text) override
    {
        if (Script->OnSend)
            Script->OnSend();
        std::optional<std::string> outcome;
        {
            std::lock_guard lock(Script->Mutex);
            Script->Pieces.push_back(Name() + "|" + phone + "|" + text);
            if (!Script->Outcomes.empty()) {
                outcome = Script->Outcomes.front();
                Script->Outcomes.pop_front();
            } else {
                outcome = Script->Otherwise;
            }
        }
        if (outcome)
            throw TError(*outcome);
    }
    std::unique_ptr<TSmsSender> Clone() const override { return std::make_unique<TFakeSender>(*this); }

    std::shared_ptr<TSendScript> Script;
};

class ManagerTest : public ::testing::Test {
protected:
    ManagerTest() : Clock(MakeDateTime(2026, 2, 1, 9, 5, 3))
    {
        SetProgramSettingsFolder(Data.dir().path() + "/config");
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        ResetIoRegistryForTests();
        ResetTranslitTable();
        RegisterIoClasses();
    }
    ~ManagerTest() override
    {
        ResetSmsManagerForTests();
        ResetIoRegistryForTests();
        ResetSmsOptionsForTests();
        ResetProgramOptionsForTests();
        ResetTranslitTable();
        SetProgramSettingsFolder("");
    }

    TSmsManager& M() { return SmsManager(); }

    // A fake operator added to the manager.
    TFakeSender* AddFakeSender(const std::string& name = "Fake")
    {
        auto* sender = new TFakeSender(Script, name);
        M().AddSmsSender(sender);
        return sender;
    }
    // A contact in the master list, served by the operator.
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
    std::vector<std::string> QueueNames()
    {
        std::vector<std::string> names;
        for (int i = 0; i < M().Queue.Count(); ++i)
            names.push_back(M().Queue.Items(i)->Contact->Name());
        return names;
    }
    std::string HistoryText() { return Data.dir().read("SmsHistory.txt"); }

    static std::string ErrorOf(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const TError& e) {
            return e.message();
        }
        return "";
    }

    TScopedDataDir Data;
    TFakeClock Clock;
    TFakeWaiter Waiter;
    std::shared_ptr<TSendScript> Script = std::make_shared<TSendScript>();
};
