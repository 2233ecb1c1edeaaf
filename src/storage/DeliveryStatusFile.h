#pragma once
// The delivery states on disk: a file of their own beside the history
// ("SmsHistory.txt" -> "SmsHistory.delivery"), so that the history keeps its
// format. Saved through the safe file writer (owner-only: the status URLs
// may carry the gateway's password), with one backup generation.
#include "model/DeliveryStatus.h"

#include <string>

// The state file that belongs to a history file (a bare name stays bare and
// resolves in the data folder like the history's).
std::string DeliveryStatusFileName(const std::string& historyFileName);

// Reads the file into the book; a missing file is an empty book. Raises
// TError naming the file and the line when it does not read (NUL bytes, a
// broken line): such a file must not be written over.
void LoadDeliveryBook(TDeliveryBook& book, const std::string& fileName);
// Writes the book through a safe save; raises TError naming the file.
void SaveDeliveryBook(const TDeliveryBook& book, const std::string& fileName);
// The same for the book's text form taken earlier (TDeliveryBook::Serialize).
void SaveDeliveryText(const std::string& bytes, const std::string& fileName);
