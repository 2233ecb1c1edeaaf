// The main window with a long Cyrillic message for a group: the cost line
// under the composer, with what transliteration would save.
#include "Screenshots.h"

#include "engine/SmsManager.h"
#include "support/TestSupport.h"
#include "ui/main/MainForm.h"
#include "ui/main/MessageMemo.h"

#include <QApplication>
#include <QTreeView>

VELOTEXT_SCREENSHOT(MainForm_cost)
{
    auto form = std::make_unique<TMainForm>();
    form->FillGroups();
    TGroupList& groups = SmsManager().Groups;
    form->AddGroupToRecipients(groups[groups.IndexOfName(U("Друзья"))]);
    form->findChild<TMessageMemo*>("MessageMemo")
        ->SetText(U("Дорогие друзья! Напоминаю: в субботу в 12:00 встречаемся у входа в парк, берите с собой "
                    "воду, удобную обувь и хорошее настроение. Если планы изменятся, напишите мне заранее. "
                    "До встречи!"));
    QApplication::processEvents(); // the cost line follows the text at once
    return form;
}
