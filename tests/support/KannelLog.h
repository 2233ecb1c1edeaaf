#pragma once
// Reading what Kannel's fake SMSC got: its log names each message's phone and
// carries the text percent-encoded as UCS-2 (as peers/kannel.sh sets it up).
#include <string>

class TPeerProcess;

// A web-gate template for the peer's sendsms service, text in the given
// charset (Kannel's name for it); `password` empty: the right one.
std::string KannelWebGate(const TPeerProcess& peer, const std::string& charset, const std::string& password = "");

// The text (as UTF-8) of the message the fake SMSC logged for this phone;
// empty when none arrives in a generous while.
std::string KannelArrivedText(const std::string& logPath, const std::string& phone);
