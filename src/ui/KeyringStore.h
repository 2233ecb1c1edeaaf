#pragma once
// The desktop keyring (Secret Service: GNOME Keyring, KWallet) through
// QtKeychain, for the passwords of the sending options. Each call waits for
// the keyring's answer in a local event loop.
#include "storage/SmsOptions.h"

class TKeyringStore : public TSecretStore {
public:
    bool Available() override;
    std::optional<std::string> Read(const std::string& key) override;
    void Write(const std::string& key, const std::string& value) override;
};
