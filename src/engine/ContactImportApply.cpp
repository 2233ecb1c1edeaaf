#include "engine/ContactImportApply.h"

#include "model/Text.h"

#include <unordered_map>

struct TImportApplier::TState {
    TSmsManager& Manager;
    const std::vector<TImportedContact>& Rows;
    const TImportPlan& Plan;
    std::string CommonGroup;
    size_t Next = 0;
    TImportResult Result;
    std::vector<TGroup*> NewGroups;
    std::vector<TContact*> NewContacts;
    struct TOldPhone {
        TContact* Contact;
        std::string Phone;
        TSmsSender* Sender;
    };
    std::vector<TOldPhone> OldPhones;
    std::unordered_map<std::string, TGroup*, TCaseFoldHash, TCaseFoldEqual> Groups;
    // Every membership the import appended, in order, so that Undo takes them
    // back from the lists' ends.
    std::vector<std::pair<TGroup*, TContact*>> Joined;

    TState(TSmsManager& manager, const std::vector<TImportedContact>& rows, const TImportPlan& plan)
        : Manager(manager), Rows(rows), Plan(plan)
    {
    }

    // The group of that name, made when missing; nullptr for a built-in group's name.
    TGroup* GroupNamed(const std::string& name)
    {
        if (auto found = Groups.find(name); found != Groups.end())
            return found->second;
        if (Manager.Groups.IndexOfName(name) >= 0)
            return nullptr;
        auto group = std::make_unique<TGroup>(false);
        group->SetName(name);
        Manager.AddGroup(group.get());
        NewGroups.push_back(group.release());
        return Groups.emplace(name, NewGroups.back()).first->second;
    }

    void Join(TContact* contact, TGroup* group, bool isNew)
    {
        const bool gains = isNew || group->Contacts.IndexOf(contact) < 0;
        Manager.AddContactToGroup(contact, group);
        if (gains)
            Joined.emplace_back(group, contact);
    }

    void Apply(size_t i)
    {
        const TImportPlanRow& step = Plan.Rows[i];
        TContact* contact = nullptr;
        if (step.Action == TImportAction::Add) {
            auto made = std::make_unique<TContact>();
            made->SetName(step.Name);
            made->PhoneNumber = Rows[i].Phone;
            made->SmsSender = step.Sender;
            Manager.AddContact(made.get());
            contact = made.release();
            NewContacts.push_back(contact);
            ++Result.Added;
        } else if (step.Action == TImportAction::Update) {
            contact = step.Existing;
            OldPhones.push_back({contact, contact->PhoneNumber, contact->SmsSender});
            contact->PhoneNumber = Rows[i].Phone;
            if (!contact->SmsSender)
                contact->SmsSender = step.Sender;
            ++Result.Updated;
        } else {
            // A contact the book has under this number joins the chosen group all the same.
            Result.Contacts[i] = step.Existing;
            if (step.Existing && !CommonGroup.empty())
                if (TGroup* group = GroupNamed(CommonGroup))
                    Join(step.Existing, group, false);
            return;
        }
        Result.Contacts[i] = contact;
        const bool isNew = step.Action == TImportAction::Add;
        for (const std::string& name : Rows[i].Groups)
            if (TGroup* group = GroupNamed(name))
                Join(contact, group, isNew);
        if (!CommonGroup.empty())
            if (TGroup* group = GroupNamed(CommonGroup))
                Join(contact, group, isNew);
    }
};

TImportApplier::TImportApplier(TSmsManager& manager, const std::vector<TImportedContact>& rows, const TImportPlan& plan,
                               const TImportOptions& options)
    : F(std::make_unique<TState>(manager, rows, plan))
{
    if (plan.Rows.size() != rows.size())
        throw SystemError("ApplyImportPlan(rows)");
    F->CommonGroup = Trim(options.GroupName);
    F->Result.Contacts.assign(rows.size(), nullptr);
    for (TGroup* group : manager.Groups)
        if (!dynamic_cast<TSpecialGroup*>(group))
            F->Groups.emplace(group->Name(), group);
}

TImportApplier::~TImportApplier() = default;

bool TImportApplier::Step(std::chrono::steady_clock::duration budget)
{
    const auto start = std::chrono::steady_clock::now();
    while (F->Next < F->Rows.size()) {
        F->Apply(F->Next++);
        if (F->Next % 64 == 0 && std::chrono::steady_clock::now() - start >= budget)
            break;
    }
    return F->Next >= F->Rows.size();
}

void TImportApplier::Undo()
{
    // In the reverse order of the steps each one is at its list's end: taken
    // from there, no list looks anything up (a removal elsewhere would index
    // the list anew each time).
    TState& s = *F;
    // A contact queued meanwhile (a command from outside) keeps the import as it is.
    for (const TContact* contact : s.NewContacts)
        s.Manager.CheckContactNotQueued(contact);
    auto lastIs = [](const TContactList& list, const TContact* contact) {
        return list.Count() > 0 && list[list.Count() - 1] == contact;
    };
    for (auto it = s.Joined.rbegin(); it != s.Joined.rend(); ++it) {
        TContactList& members = it->first->Contacts;
        if (lastIs(members, it->second))
            members.Delete(members.Count() - 1);
        else
            s.Manager.RemoveContactFromGroup(it->second, it->first);
    }
    TContactList& all = s.Manager.Contacts();
    for (auto it = s.NewContacts.rbegin(); it != s.NewContacts.rend(); ++it) {
        if (lastIs(all, *it) && s.Manager.Recipients.Contacts.IndexOf(*it) < 0)
            all.Delete(all.Count() - 1);
        else
            s.Manager.DeleteContact(*it);
    }
    for (auto it = s.OldPhones.rbegin(); it != s.OldPhones.rend(); ++it) {
        it->Contact->PhoneNumber = it->Phone;
        it->Contact->SmsSender = it->Sender;
    }
    for (auto it = s.NewGroups.rbegin(); it != s.NewGroups.rend(); ++it)
        s.Manager.DeleteGroup(*it);
    s.Joined.clear();
    s.NewContacts.clear();
    s.OldPhones.clear();
    s.NewGroups.clear();
    s.Result = TImportResult();
    s.Result.Contacts.assign(s.Rows.size(), nullptr);
    s.Next = 0;
}

size_t TImportApplier::Done() const { return F->Next; }
size_t TImportApplier::Total() const { return F->Rows.size(); }
const TImportResult& TImportApplier::Result() const { return F->Result; }

TImportResult ApplyImportPlan(TSmsManager& manager, const std::vector<TImportedContact>& rows, const TImportPlan& plan,
                              const TImportOptions& options)
{
    TImportApplier applier(manager, rows, plan, options);
    try {
        applier.Step(std::chrono::steady_clock::duration::max());
    } catch (...) {
        applier.Undo();
        throw;
    }
    return applier.Result();
}
