#pragma once
// Loading the program's data at start-up and writing it back at the end.
#include "engine/SmsManager.h"

#include <exception>
#include <functional>
#include <string>
#include <thread>

// Which start-up steps completed. A file whose load did not complete is
// never written back at shut-down.
struct TStartupState {
    bool ProgramOptionsLoaded = false;
    bool SmsOptionsLoaded = false;
    bool SmsSendersLoaded = false;
    bool AddressBookLoaded = false;
    bool TranslitLoaded = false;
    bool QueueRestored = false;
    // What came back from the queue's journal.
    TQueueRestore Restore;
    // The error that stopped the start (CP1251), empty when every step completed.
    std::string ErrorText;

    bool Complete() const { return ErrorText.empty(); }
};

// The start-up sequence: registers the address-book classes, loads the
// program options, calls `afterProgramOptions` (the windows place
// themselves there), loads the sending options, creates the SMS manager
// (which loads the templates), loads the operators, the address book and the
// transliteration table, and brings back the queue from its journal. The first failing step stops the sequence; its
// message is returned in ErrorText (nothing is raised).
// A queue journal of a newer format is not read: `startEmpty` is asked with
// the reason (CP1251) whether to keep the file aside and start with an empty
// queue; without it, or when it says no, the start stops with that reason.
using TAskStartEmpty = std::function<bool(const std::string& reason)>;
TStartupState LoadProgramData(const std::function<void()>& afterProgramOptions = {}, const TAskStartEmpty& startEmpty = {});

// What the user is told about a queue journal that did not read whole
// (CP1251): how many records were lost, how many messages came back, where
// the old file is. Empty when the journal read whole (or was of a newer
// version, which the user was asked about).
std::string QueueRestoreNote(const TQueueRestore& restore);

// The same sequence in two halves, so that the main window can be built while
// the operators and the address book are read (the largest part of a start
// with a big book). Begin loads the program options, creates the SMS manager
// and reads those two files on a thread of its own; Finish waits for them,
// then calls `afterProgramOptions` and does the rest. The outcome is the same
// as LoadProgramData's, the first failing step in the same order. Between the
// two, the caller's thread must not touch the SMS manager.
class TStartupLoad {
public:
    TStartupLoad() = default;
    TStartupLoad(const TStartupLoad&) = delete;
    TStartupLoad& operator=(const TStartupLoad&) = delete;
    ~TStartupLoad(); // waits for the reading thread

    void Begin();
    bool Begun() const { return FBegun; }
    TStartupState Finish(const std::function<void()>& afterProgramOptions = {}, const TAskStartEmpty& startEmpty = {});

private:
    enum TStep { ProgramOptionsStep, SmsOptionsStep, ManagerStep, SmsSendersStep, AddressBookStep, StepCount };
    void Fail(TStep step, std::exception_ptr error);

    bool FBegun = false;
    std::thread FReader;
    std::string FErrors[StepCount]; // CP1251; empty: the step completed (or never ran)
    bool FDone[StepCount] = {};
};

// The shut-down save: the address book, then `afterAddressBook` (the windows
// store their placement there), the sending options and the operators, each
// only when its load completed (the placement: when the program options
// loaded). Every save is tried; the first failure is raised afterwards.
void SaveProgramData(const TStartupState& state, const std::function<void()>& afterAddressBook = {});
