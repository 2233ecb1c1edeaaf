// The main window at the smallest size it allows (640x480) and at its own
// (800x514), with a group and a contact picked and a message typed: the cost
// line, the buttons and the lists' captions as a small screen shows them.
#include "Screenshots.h"

#include "engine/SmsManager.h"
#include "support/TestSupport.h"
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
