#include "model/Error.h"

#include "model/Text.h"

TError SystemError(const std::string& fault)
{
    return TError(Cp1251("Системная ошибка:") + "\r\r\"" + fault + "\".");
}
