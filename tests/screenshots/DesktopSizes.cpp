// The main window at the smallest size it allows (640x480) and at its own
// (800x514), with a group picked and a message typed: the cost line, the
// buttons and the lists' captions as a small screen shows them; and what a
// first start shows.
#include "Screenshots.h"

#include "engine/SmsManager.h"
#include "storage/ProgramOptions.h"
#include "support/TestSupport.h"
#include "ui/dialogs/OptionsDlg.h"
#include "ui/dialogs/SmsSendersForm.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"
#include "ui/main/MessageMemo.h"

#include <QApplication>
#include <QTreeView>

namespace {
std::unique_ptr<QWidget> MainFormAt(int width, int height)
{
    auto form = std::make_unique<TMainForm>();
    form->FillGroups();
    auto* groups = form->findChild<QTreeView*>("GroupsListView");
    groups->setCurrentIndex(groups->model()->index(2, 0)); // "Друзья"
    TGroupList& list = SmsManager().Groups;
    form->AddGroupToRecipients(list[list.IndexOfName(U("Друзья"))]);
    form->findChild<TMessageMemo*>("MessageMemo")
        ->SetText(U("Напоминаю: в субботу в 12:00 встречаемся у входа в парк. До встречи!"));
    form->resize(width, height);
    QApplication::processEvents(); // the cost line follows the text at once
    return form;
}
} // namespace

VELOTEXT_SCREENSHOT(MainForm_640x480) { return MainFormAt(640, 480); }
VELOTEXT_SCREENSHOT(MainForm_800x514) { return MainFormAt(800, 514); }

// A first start: the options dialog with its line on what to fill in first,
// and the operators window before any operator, saying how to add one.
VELOTEXT_SCREENSHOT(OptionsDlg_firstrun)
{
    ProgramOptions().FirstRun = true;
    auto dialog = std::make_unique<TOptionsDlg>(nullptr);
    ProgramOptions().FirstRun = false;
    WidenForTitle(dialog.get()); // as every dialog is run
    return dialog;
}

VELOTEXT_SCREENSHOT(SmsSendersForm_empty)
{
    ResetSmsManagerForTests(); // no operator at all
    return std::make_unique<TSmsSendersForm>(nullptr);
}
