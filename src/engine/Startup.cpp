#include "engine/Startup.h"

#include "engine/SmsManager.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/Text.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"

#include <exception>
#include <system_error>
#include <optional>

TStartupState LoadProgramData(const std::function<void()>& afterProgramOptions, const TAskStartEmpty& startEmpty)
{
    TStartupLoad load;
    load.Begin();
    return load.Finish(afterProgramOptions, startEmpty);
}

std::string QueueRestoreNote(const TQueueRestore& restore)
{
    if (restore.KeptAs.empty())
        return {};
    std::string note;
    if (restore.Unreadable > 0)
        note = Cp1251("Файл очереди сообщений повреждён: не удалось прочитать записей: ") + IntToStr(restore.Unreadable) +
               Cp1251(". ");
    else if (restore.Utf16)
        note = Cp1251("Файл очереди сообщений был сохранён в кодировке UTF-16; он прочитан и записан заново. ");
    else
        return {}; // a newer file kept aside with the user's consent: the question said it all
    note += Cp1251("Прочитано сообщений: ") + IntToStr(restore.Restored + restore.Failed) +
            Cp1251(". Прежний файл сохранён как \"") + PathText(restore.KeptAs) + "\".";
    return note;
}

TStartupLoad::~TStartupLoad()
{
    if (FReader.joinable())
        FReader.join();
}

namespace {
// The error of a failed step: never empty, since an empty text means success.
std::string StepErrorText(const std::exception_ptr& error)
{
    const std::string message = ExceptionMessage(error);
    return message.empty() ? std::string(" ") : message;
}
} // namespace

void TStartupLoad::Fail(TStep step, std::exception_ptr error) { FErrors[step] = StepErrorText(error); }

void TStartupLoad::Begin()
{
    FBegun = true;
    try {
        RegisterIoClasses();
        ProgramOptions().Load();
        FDone[ProgramOptionsStep] = true;
    } catch (...) {
        Fail(ProgramOptionsStep, std::current_exception());
        return;
    }
    try {
        SmsManager(); // made here, on this thread, before the reading thread touches it
        FDone[ManagerStep] = true;
    } catch (...) {
        Fail(ManagerStep, std::current_exception());
        return;
    }
    const TProgramOptions& names = ProgramOptions();
    auto read = [this, gates = names.SmsGatesFileName, book = names.AddressBookFileName] {
        TSmsManager& manager = SmsManager();
        try {
            manager.LoadSmsSenders(gates);
            FDone[SmsSendersStep] = true;
            manager.LoadAddressBook(book);
            FDone[AddressBookStep] = true;
        } catch (...) {
            Fail(FDone[SmsSendersStep] ? AddressBookStep : SmsSendersStep, std::current_exception());
        }
    };
    try {
        FReader = std::thread(read);
    } catch (const std::system_error&) {
        read(); // no thread to be had: read here and now
    }
}

TStartupState TStartupLoad::Finish(const std::function<void()>& afterProgramOptions, const TAskStartEmpty& startEmpty)
{
    if (!FBegun)
        Begin();
    if (FReader.joinable())
        FReader.join();
    TStartupState state;
    try {
        if (FDone[ProgramOptionsStep]) {
            state.ProgramOptionsLoaded = true;
            if (afterProgramOptions)
                afterProgramOptions();
            SmsOptions().Load(ProgramOptions().OptionsFileName);
            FDone[SmsOptionsStep] = true;
        }
    } catch (...) {
        Fail(SmsOptionsStep, std::current_exception());
    }
    // The steps in their order: the first that failed stops the start, and
    // what came after it counts as not loaded, even if it was read.
    for (TStep step : {ProgramOptionsStep, SmsOptionsStep, ManagerStep, SmsSendersStep, AddressBookStep}) {
        if (!FErrors[step].empty()) {
            state.ErrorText = FErrors[step];
            return state;
        }
        if (!FDone[step])
            return state; // cannot happen: a step that did not run follows a failed one
        state.SmsOptionsLoaded |= step == SmsOptionsStep;
        state.SmsSendersLoaded |= step == SmsSendersStep;
        state.AddressBookLoaded |= step == AddressBookStep;
    }
    try {
        const TProgramOptions& names = ProgramOptions();
        LoadTranslitTable(names.TranslitFileName);
        state.TranslitLoaded = true;
        const std::string journal = ResolveDataFilePath(QueueJournalFileName);
        try {
            state.Restore = SmsManager().RestoreQueue(journal);
        } catch (const TNewerJournalError& newer) {
            if (!startEmpty || !startEmpty(newer.message()))
                throw;
            state.Restore = SmsManager().RestoreQueue(journal, true);
        }
        state.QueueRestored = true;
    } catch (...) {
        state.ErrorText = StepErrorText(std::current_exception());
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
