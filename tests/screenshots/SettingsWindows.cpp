// The operators window, the options dialog (one picture per tab), the history
// and templates windows.
#include "Screenshots.h"

#include "engine/SmsManager.h"
#include "model/Text.h"
#include "ui/dialogs/OptionsDlg.h"
#include "ui/dialogs/SmsHistoryForm.h"
#include "ui/dialogs/SmsSendersForm.h"
#include "ui/dialogs/SmsTemplatesForm.h"

#include <QCheckBox>
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

// Three records, the failed one selected: its two-line error below the list.
static std::unique_ptr<QWidget> HistoryWindow(bool failedOnly)
{
    TSmsManager& m = SmsManager();
    m.History.Clear();
    m.History.AddSms(*m.Queue.Items(0));
    TSms failed = *m.Queue.Items(1);
    failed.Status = SmsStatusFailed;
    failed.ErrorText = Cp1251("HTTP/1.1 503 Service Unavailable\rШлюз оператора не отвечает");
    m.History.AddSms(failed);
    TSms sent = *m.Queue.Items(0);
    sent.Status = SmsStatusSent;
    m.History.AddSms(sent);
    auto form = std::make_unique<TSmsHistoryForm>(m.History, nullptr);
    form->findChild<QCheckBox*>("FailedOnlyCheckBox")->setChecked(failedOnly);
    form->Fill();
    form->SelectRecord(HistoryRecordOf(failed));
    return form;
}
VELOTEXT_SCREENSHOT(SmsHistoryForm) { return HistoryWindow(false); }
// Filtered to the failures, as the main window's failure count opens it.
VELOTEXT_SCREENSHOT(SmsHistoryFormFailures) { return HistoryWindow(true); }

VELOTEXT_SCREENSHOT(SmsTemplatesForm) { return std::make_unique<TSmsTemplatesForm>(nullptr); }
