#include "engine/Startup.h"

#include "engine/SmsManager.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"

#include <exception>
#include <optional>

TStartupState LoadProgramData(const std::function<void()>& afterProgramOptions)
{
    TStartupState state;
    try {
        RegisterIoClasses();
        ProgramOptions().Load();
        state.ProgramOptionsLoaded = true;
        if (afterProgramOptions)
            afterProgramOptions();
        const TProgramOptions& names = ProgramOptions();
        SmsOptions().Load(names.OptionsFileName);
        state.SmsOptionsLoaded = true;
        TSmsManager& manager = SmsManager();
        manager.LoadSmsSenders(names.SmsGatesFileName);
        state.SmsSendersLoaded = true;
        manager.LoadAddressBook(names.AddressBookFileName);
        state.AddressBookLoaded = true;
        LoadTranslitTable(names.TranslitFileName);
        state.TranslitLoaded = true;
        state.Restore = manager.RestoreQueue(ResolveDataFilePath(QueueJournalFileName));
        state.QueueRestored = true;
    } catch (...) {
        state.ErrorText = ExceptionMessage(std::current_exception());
    }
    return state;
}

void SaveProgramData(const TStartupState& state, const std::function<void()>& afterAddressBook)
{
    std::exception_ptr first;
    auto attempt = [&](bool loaded, const std::function<void()>& save) {
        if (!loaded)
            return;
        try {
            save();
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    };
    const TProgramOptions& names = ProgramOptions();
    attempt(state.AddressBookLoaded, [&] { SmsManager().SaveAddressBook(names.AddressBookFileName); });
    if (afterAddressBook)
        attempt(state.ProgramOptionsLoaded, afterAddressBook);
    attempt(state.SmsOptionsLoaded, [&] { SmsOptions().Save(names.OptionsFileName); });
    attempt(state.SmsSendersLoaded, [&] { SmsManager().SaveSmsSenders(names.SmsGatesFileName); });
    if (first)
        std::rethrow_exception(first);
}
