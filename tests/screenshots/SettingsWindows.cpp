// The operators window, the options dialog (one picture per tab), the history
// and templates windows.
#include "Screenshots.h"

#include "engine/SmsManager.h"
#include "ui/dialogs/OptionsDlg.h"
#include "ui/dialogs/SmsHistoryForm.h"
#include "ui/dialogs/SmsSendersForm.h"
#include "ui/dialogs/SmsTemplatesForm.h"

#include <QTabWidget>
#include <QTreeView>

VELOTEXT_SCREENSHOT(SmsSendersForm)
{
    auto form = std::make_unique<TSmsSendersForm>(nullptr);
    form->show();
    auto* list = form->findChild<QTreeView*>("SmsSendersListView");
    list->setCurrentIndex(list->model()->index(0, 0)); // the editor shows the first operator
    return form;
}

static std::unique_ptr<QWidget> OptionsOnTab(int tab)
{
    auto dialog = std::make_unique<TOptionsDlg>(nullptr);
    dialog->findChild<QTabWidget*>("PageControl")->setCurrentIndex(tab);
    return dialog;
}
VELOTEXT_SCREENSHOT(OptionsDlg) { return OptionsOnTab(0); }
VELOTEXT_SCREENSHOT(OptionsDlgConnection) { return OptionsOnTab(1); }
VELOTEXT_SCREENSHOT(OptionsDlgFiles) { return OptionsOnTab(2); }

VELOTEXT_SCREENSHOT(SmsHistoryForm)
{
    TSmsManager& m = SmsManager();
    m.History.AddSms(*m.Queue.Items(0));
    m.History.AddSms(*m.Queue.Items(1));
    auto form = std::make_unique<TSmsHistoryForm>(m.History, nullptr);
    form->Fill();
    return form;
}

VELOTEXT_SCREENSHOT(SmsTemplatesForm) { return std::make_unique<TSmsTemplatesForm>(nullptr); }
