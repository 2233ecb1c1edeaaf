#pragma once
// The rows of the recipient list: its contacts and its groups, one list
// sorted by caption. A row is a contact or a group.
#include "model/AddressBook.h"
#include "model/SmsQueue.h"
#include "ui/ObjectListModel.h"

#include <variant>

using TRecipient = std::variant<TContact*, TGroup*>;

class TRecipientListModel : public TSortedObjectModel<TRecipient> {
public:
    TRecipientListModel(QObject* parent, const QIcon& contactIcon, const QIcon& groupIcon)
        : TSortedObjectModel<TRecipient>(parent), FContactIcon(contactIcon), FGroupIcon(groupIcon)
    {
    }

    // Shows another recipient list (or none): a model reset.
    void SetList(const TRecipientList* list)
    {
        FList = list;
        Reload();
    }

protected:
    void CollectObjects(std::vector<TRecipient>& objects) const override
    {
        if (!FList)
            return;
        for (TContact* contact : FList->Contacts)
            objects.emplace_back(contact);
        for (TGroup* group : FList->Groups)
            objects.emplace_back(group);
    }
    std::string CaptionOf(const TRecipient& row) const override
    {
        if (auto* contact = std::get_if<TContact*>(&row))
            return ContactCaption(*contact);
        return std::get<TGroup*>(row)->Name();
    }
    QIcon IconOf(const TRecipient& row) const override
    {
        return std::holds_alternative<TContact*>(row) ? FContactIcon : FGroupIcon;
    }

private:
    const TRecipientList* FList = nullptr;
    QIcon FContactIcon;
    QIcon FGroupIcon;
};
