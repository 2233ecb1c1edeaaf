#include "model/Error.h"

#include "model/Text.h"

std::string ExceptionMessage(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return SystemError(e.what()).message();
    } catch (...) {
        return SystemError("unknown exception").message();
    }
}

TError SystemError(const std::string& fault)
{
    return TError(Cp1251("Системная ошибка:") + "\r\r\"" + fault + "\".");
}
