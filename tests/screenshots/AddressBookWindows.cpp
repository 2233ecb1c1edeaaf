// The main window with the sample address book, the contact and group
// editors and the two pickers.
#include "Screenshots.h"

#include "engine/SmsManager.h"
#include "support/TestSupport.h"
#include "ui/dialogs/ContactEditor.h"
#include "ui/dialogs/GroupEditor.h"
#include "ui/dialogs/GroupSelector.h"
#include "ui/dialogs/SmsSenderSelector.h"
#include "ui/main/MainForm.h"

#include <QTreeView>

namespace {
TContact* Contact(const char* name)
{
    TContactList& contacts = SmsManager().Contacts();
    return contacts[contacts.IndexOfName(U(name))];
}
TGroup* Group(const char* name)
{
    TGroupList& groups = SmsManager().Groups;
    return groups[groups.IndexOfName(U(name))];
}
} // namespace

VELOTEXT_SCREENSHOT(MainForm)
{
    auto form = std::make_unique<TMainForm>();
    form->FillGroups();
    auto* groups = form->findChild<QTreeView*>("GroupsListView");
    groups->setCurrentIndex(groups->model()->index(2, 0)); // "Друзья"
    form->AddGroupToRecipients(Group("Друзья"));
    form->AddContactToRecipients(Contact("Пётр Сергеевич"));
    return form;
}

VELOTEXT_SCREENSHOT(ContactEditor)
{
    return std::make_unique<TContactEditor>(Contact("Иванов Иван"), false, nullptr);
}
VELOTEXT_SCREENSHOT(GroupEditor) { return std::make_unique<TGroupEditor>(Group("Друзья"), false, nullptr); }
VELOTEXT_SCREENSHOT(SmsSenderSelector) { return std::make_unique<TSmsSenderSelector>(nullptr); }
VELOTEXT_SCREENSHOT(GroupSelector) { return std::make_unique<TGroupSelector>(Contact("Ольга"), nullptr); }
