#pragma once
// Loading the program's data at start-up and writing it back at the end.
#include "engine/SmsManager.h"

#include <functional>
#include <string>

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
TStartupState LoadProgramData(const std::function<void()>& afterProgramOptions = {});

// The shut-down save: the address book, then `afterAddressBook` (the windows
// store their placement there), the sending options and the operators, each
// only when its load completed (the placement: when the program options
// loaded). Every save is tried; the first failure is raised afterwards.
void SaveProgramData(const TStartupState& state, const std::function<void()>& afterAddressBook = {});
