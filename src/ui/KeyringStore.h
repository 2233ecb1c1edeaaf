#pragma once
// The desktop keyring (Secret Service: GNOME Keyring, KWallet) through
// QtKeychain, for the passwords of the sending options. Each call waits for
// the keyring's answer in a local event loop.
#include "storage/SmsOptions.h"

#include <QString>

#include <map>
#include <optional>
#include <string>

//
// A keyring is asked as little as it can be and never made to show a prompt
// that holds a window: whether there is one is decided once; a value it is
// known to hold is not written again; a keyring still to be created (no default
// collection: creating it would ask for a new password) holds nothing and
// takes nothing; a locked one is refused at once (only KWallet, which shows a
// wallet the session opened as locked to each new program, is asked to open
// it); and once it has refused, or not answered within a few seconds, it is
// not asked again until the next start, so that no later save, the exit's
// included, waits on it.
class TKeyringStore : public TSecretStore {
public:
    bool Available() override;
    std::optional<std::string> Read(const std::string& key) override;
    void Write(const std::string& key, const std::string& value) override;
    std::string Refusal() const override { return FRefusal.value_or(std::string()); }

private:
    // Raises the refusal of this run, or makes the keyring ready to be asked;
    // false when it has no default collection yet.
    bool Ready();
    [[noreturn]] void Refuse(const QString& reason); // not asked again in this run
    std::optional<bool> FAvailable;
    std::optional<std::string> FRefusal;       // CP1251
    std::map<std::string, std::string> FKnown; // what the keyring holds (a missing entry: empty)
};
