#include "ui/dialogs/GroupSelector.h"

#include "engine/SmsManager.h"
#include "ui/dialogs/UiHelpers.h"

TGroup* TGroupSelector::Execute(const TContact* contact, QWidget* parent)
{
    TGroupSelector dialog(contact, parent);
    return RunDialog(dialog) == QDialog::Accepted ? dialog.Selected() : nullptr;
}

TGroupSelector::TGroupSelector(const TContact* contact, QWidget* parent)
    : TPickerDialog(parent, "GroupSelector", QStringLiteral("Список групп Абонентов"), "GroupsListView"),
      FModel(new TObjectListModel<TGroup>([](const TGroup* g) { return g->Name(); }, this))
{
    FModel->SetIcon(AppIcon(TIcon::Group));
    if (contact)
        FModel->SetFilter([contact](const TGroup* g) { return g->Contacts.IndexOf(contact) < 0; });
    FModel->SetList(&SmsManager().Groups);
    ShowRows(FModel);
}

TGroup* TGroupSelector::Selected() const { return FModel->ObjectAt(SelectedIndex()); }
