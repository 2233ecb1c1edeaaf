#pragma once
// A real Kannel gateway for a test suite (peers/kannel.sh: bearerbox, smsbox
// and a fake SMSC whose log names each message's phone and carries the text
// percent-encoded as UCS-2).
#include <memory>
#include <string>

class TPeerProcess;

// Starts the gateway; nullptr with the reason in `error` when it does not come up.
std::unique_ptr<TPeerProcess> StartKannel(std::string& error);

// A web-gate template for the peer's sendsms service, text in the given
// charset (Kannel's name for it); `password` empty: the right one.
std::string KannelWebGate(const TPeerProcess& peer, const std::string& charset, const std::string& password = "");

// The text (as UTF-8) of the message the fake SMSC logged for this phone;
// empty when none arrives in a generous while.
std::string KannelArrivedText(const std::string& logPath, const std::string& phone);
