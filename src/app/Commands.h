#pragma once
// The commands of the command line run on the loaded program data: by the
// running program when one holds the data folder, or else by this start
// alone, without any window and without a display.
#include "app/CommandLine.h"

#include <cstdint>
#include <vector>

struct TCommandResult {
    int ExitCode = ExitOk;
    QString Text; // printed on standard output (exit 0) or standard error
    // send: the journal ids of the messages it queued; whether it added contacts.
    std::vector<std::uint64_t> Queued;
    bool ContactsAdded = false;
};

// Resolves the addressees (names as the search compares them, letter case
// ignored; a phone number by its contact, or a new contact with --operator),
// and queues one message per addressee through the manager. The composer's
// recipients are left as they were. Exit 2 with the reason for an unknown
// name or a refused message.
TCommandResult QueueFromCommandLine(const TCommandLine& command);
// For a send handed to the running program: a line saying why the messages
// of `ids` will not go now (the queue paused, quiet hours, an operator's
// pause or daily limit, a chosen time), or nothing when they go at their turn.
QString QueuedWaitNote(const std::vector<std::uint64_t>& ids, bool paused);
// "queue" and "history".
TCommandResult ListQueue();
TCommandResult ListHistory(const TCommandLine& command);

// A command with no program running on the data folder: loads the data, runs
// it, and for "send" delivers the messages it queued (one attempt a second,
// retries as the options say), records them in the history and saves. Needs
// only a QCoreApplication.
int RunHeadless(const TCommandLine& command);
