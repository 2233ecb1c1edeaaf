#pragma once
// The desktop keyring (Secret Service: GNOME Keyring, KWallet) through
// QtKeychain, for the passwords of the sending options. Each call waits for
// the keyring's answer in a local event loop.
#include "storage/SmsOptions.h"

#include <map>
#include <optional>
#include <string>

//
// A keyring is asked as little as it can be: whether there is one is decided
// once; a value it is known to hold is not written again; and once it has
// refused (locked and not opened, or silent) it is not asked again until the
// next start, so that no later save, the exit's included, waits on it.
class TKeyringStore : public TSecretStore {
public:
    bool Available() override;
    std::optional<std::string> Read(const std::string& key) override;
    void Write(const std::string& key, const std::string& value) override;

private:
    void Ready(); // raises the refusal of this run, or unlocks the keyring
    std::optional<bool> FAvailable;
    std::optional<std::string> FRefusal;       // CP1251
    std::map<std::string, std::string> FKnown; // what the keyring holds (a missing entry: empty)
};
