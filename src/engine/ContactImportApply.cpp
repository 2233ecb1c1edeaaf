#include "engine/ContactImportApply.h"

#include "model/Text.h"

#include <memory>
#include <unordered_map>

TImportResult ApplyImportPlan(TSmsManager& manager, const std::vector<TImportedContact>& rows, const TImportPlan& plan,
                              const TImportOptions& options)
{
    if (plan.Rows.size() != rows.size())
        throw SystemError("ApplyImportPlan(rows)");
    TImportResult result;
    result.Contacts.assign(rows.size(), nullptr);
    std::vector<TGroup*> newGroups;
    std::vector<TContact*> newContacts;
    struct TOldPhone {
        TContact* Contact;
        std::string Phone;
        TSmsSender* Sender;
    };
    std::vector<TOldPhone> oldPhones;
    std::unordered_map<std::string, TGroup*, TCaseFoldHash, TCaseFoldEqual> groups;
    for (TGroup* group : manager.Groups)
        if (!dynamic_cast<TSpecialGroup*>(group))
            groups.emplace(group->Name(), group);
    // The group of that name, made when missing; nullptr for a built-in group's name.
    auto groupNamed = [&](const std::string& name) -> TGroup* {
        if (auto found = groups.find(name); found != groups.end())
            return found->second;
        if (manager.Groups.IndexOfName(name) >= 0)
            return nullptr;
        auto group = std::make_unique<TGroup>(false);
        group->SetName(name);
        manager.AddGroup(group.get());
        newGroups.push_back(group.release());
        return groups.emplace(name, newGroups.back()).first->second;
    };
    // Memberships an existing contact gains: taken back, too, if the import fails.
    std::vector<std::pair<TContact*, TGroup*>> joined;
    auto join = [&](TContact* contact, TGroup* group, bool isNew) {
        const bool gains = !isNew && group->Contacts.IndexOf(contact) < 0;
        manager.AddContactToGroup(contact, group);
        if (gains)
            joined.emplace_back(contact, group);
    };
    const std::string commonGroup = Trim(options.GroupName);
    try {
        for (size_t i = 0; i < rows.size(); ++i) {
            const TImportPlanRow& step = plan.Rows[i];
            TContact* contact = nullptr;
            if (step.Action == TImportAction::Add) {
                auto made = std::make_unique<TContact>();
                made->SetName(step.Name);
                made->PhoneNumber = rows[i].Phone;
                made->SmsSender = step.Sender;
                manager.AddContact(made.get());
                contact = made.release();
                newContacts.push_back(contact);
                ++result.Added;
            } else if (step.Action == TImportAction::Update) {
                contact = step.Existing;
                oldPhones.push_back({contact, contact->PhoneNumber, contact->SmsSender});
                contact->PhoneNumber = rows[i].Phone;
                if (!contact->SmsSender)
                    contact->SmsSender = step.Sender;
                ++result.Updated;
            } else {
                // A contact the book has under this number joins the chosen group all the same.
                result.Contacts[i] = step.Existing;
                if (step.Existing && !commonGroup.empty())
                    if (TGroup* group = groupNamed(commonGroup))
                        join(step.Existing, group, false);
                continue;
            }
            result.Contacts[i] = contact;
            const bool isNew = step.Action == TImportAction::Add;
            for (const std::string& name : rows[i].Groups)
                if (TGroup* group = groupNamed(name))
                    join(contact, group, isNew);
            if (!commonGroup.empty())
                if (TGroup* group = groupNamed(commonGroup))
                    join(contact, group, isNew);
        }
    } catch (...) {
        for (auto it = joined.rbegin(); it != joined.rend(); ++it)
            manager.RemoveContactFromGroup(it->first, it->second);
        for (auto it = newContacts.rbegin(); it != newContacts.rend(); ++it)
            manager.DeleteContact(*it);
        for (auto it = oldPhones.rbegin(); it != oldPhones.rend(); ++it) {
            it->Contact->PhoneNumber = it->Phone;
            it->Contact->SmsSender = it->Sender;
        }
        for (auto it = newGroups.rbegin(); it != newGroups.rend(); ++it)
            manager.DeleteGroup(*it);
        throw;
    }
    return result;
}
