#pragma once
// The standard operator's INI routines and the registration of all four
// address-book classes.
#include "storage/IoRegistry.h"

#include <string>

class TIniFile;

// The five keys of every operator, then WebGate, EmailGate, EmailSubj,
// EmailBody, GateType and the Notes on one line; then DlrMask, ReplyOkPattern,
// ReplyTempFailPattern, ReplyPermFailPattern, StatusIdPattern, StatusUrl,
// StatusDeliveredPattern, StatusFailedPattern and StatusPendingPattern, each
// only when set.
void WriteStdSmsSender(TIniFile& ini, const TIoObject& object, const std::string& prefix);
// An empty reference gets a new standard operator with its defaults.
void ReadStdSmsSender(const TIniFile& ini, TIoObject& object, const std::string& section);

// Registers "TContact", "TGroup", "TSmsSender" and "TStdSmsSender", in this
// order, each unless already registered; safe to call more than once.
void RegisterIoClasses();
