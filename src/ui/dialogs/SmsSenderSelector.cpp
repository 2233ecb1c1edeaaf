#include "ui/dialogs/SmsSenderSelector.h"

#include "engine/SmsManager.h"
#include "ui/dialogs/UiHelpers.h"

TSmsSender* TSmsSenderSelector::Execute(QWidget* parent)
{
    TSmsSenderSelector dialog(parent);
    return RunDialog(dialog) == QDialog::Accepted ? dialog.Selected() : nullptr;
}

TSmsSenderSelector::TSmsSenderSelector(QWidget* parent)
    : TPickerDialog(parent, "SmsSenderSelector", QStringLiteral("Список операторов"), "SmsSendersListView"),
      FModel(new TObjectListModel<TSmsSender>([](const TSmsSender* s) { return s->Name(); }, this))
{
    FModel->SetIcon(AppIcon(TIcon::Operators));
    FModel->SetList(&SmsManager().SmsSenders);
    ShowRows(FModel);
}

TSmsSender* TSmsSenderSelector::Selected() const { return FModel->ObjectAt(SelectedIndex()); }
