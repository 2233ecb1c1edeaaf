#pragma once
// A real Kannel gateway for a test suite (peers/kannel.sh: bearerbox, smsbox
// and a fake SMSC whose log names each message's phone and carries the text
// percent-encoded as UCS-2).
#include <memory>
#include <string>
#include <vector>

class TPeerProcess;

// Starts the gateway; nullptr with the reason in `error` when it does not come up.
std::unique_ptr<TPeerProcess> StartKannel(std::string& error);

// A web-gate template for the peer's sendsms service, text in the given
// charset (Kannel's name for it); `password` empty: the right one.
std::string KannelWebGate(const TPeerProcess& peer, const std::string& charset, const std::string& password = "");

// The text (as UTF-8) of the message the fake SMSC logged for this phone;
// empty when none arrives in a generous while.
std::string KannelArrivedText(const std::string& logPath, const std::string& phone);

// The phone of every message the fake SMSC logged, in their order.
std::vector<std::string> KannelArrivedPhones(const std::string& logPath);
// The phones of the messages logged after the first `before`, once `expected`
// of them are in and a further second brought no more (or a generous while ran out).
// How many messages the fake SMSC has logged once nothing more arrives (a message of
// an earlier test may still be on its way): the `before` of KannelPhonesAfter.
size_t KannelSettledCount(const std::string& logPath);
std::vector<std::string> KannelPhonesAfter(const std::string& logPath, size_t before, size_t expected);
