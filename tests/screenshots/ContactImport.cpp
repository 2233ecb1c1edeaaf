// The import preview of a phone's CSV export: new rows, a name the book has,
// a number it has, a row with no number, and the column choices.
#include "Screenshots.h"

#include "model/ContactImport.h"
#include "ui/dialogs/ContactImportDialog.h"

VELOTEXT_SCREENSHOT(ContactImportDialog)
{
    const std::string csv = "\xEF\xBB\xBF"
                            "Имя;Фамилия;Мобильный телефон;Группы\r\n"
                            "Анна;Кузнецова;+7 916 555-44-33;Коллеги\r\n"
                            "Ольга;;8 (903) 555-01-01;Друзья\r\n"
                            "Сергей;Морозов;+7 921 000-11-22;Коллеги, Друзья\r\n"
                            "Мария;Лебедева;;\r\n"
                            "Елена;Попова;+7 (495) 123-45-67;\r\n";
    return std::make_unique<TContactImportDialog>(ParseContacts(csv), nullptr);
}
