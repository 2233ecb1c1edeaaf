// The one-line input dialogs: a new template (no prompt) and a new operator.
#include "Screenshots.h"

#include "ui/dialogs/UiHelpers.h"

#include <QInputDialog>

VELOTEXT_SCREENSHOT(InputDialogNewTemplate)
{
    return NewTextDialog(QStringLiteral("Создание шаблона SMS"), QString(), QString());
}
VELOTEXT_SCREENSHOT(InputDialogNewOperator)
{
    return NewTextDialog(QStringLiteral("Добавление нового оператора"), QStringLiteral("Наименование оператора"),
                         QString());
}
