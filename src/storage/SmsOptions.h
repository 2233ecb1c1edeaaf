#pragma once
// The sending options: proxy, SMTP account, delivery and composer switches.
// They live in the options file (an INI file, by default "SmsOptions.ini");
// the two passwords are stored scrambled (every byte complemented), in memory
// they are plain. The class is a plain value: the delivery engine copies it
// to hand a snapshot to its worker thread.
#include <optional>
#include <string>
#include <string_view>

// How the e-mail gate protects its connection to the relay. Stored in the
// options file as "auto", "starttls", "tls" or "none".
enum class TSmtpSecurity {
    Auto,     // implicit TLS on port 465; elsewhere STARTTLS when the relay offers it, else plain
    StartTls, // STARTTLS, and fail when the relay does not offer it
    Tls,      // TLS from the first byte (implicit TLS)
    None,     // plain TCP
};
// The stored name of a value, and back: names match without regard to letter
// case; an unknown name gives the fallback.
const char* SmtpSecurityName(TSmtpSecurity security);
TSmtpSecurity SmtpSecurityFromName(std::string_view name, TSmtpSecurity fallback);

// Sender address used until the user chooses another.
inline constexpr const char* DefaultSmtpFromAddress = "qarvo@mail.ru";

class TSmsOptions {
public:
    // "Proxy"
    bool ProxyFlag = false;       // the user's choice to use a proxy (options dialog only)
    std::string ProxyServer;      // proxy host; not empty means web gates go through it
    int ProxyPort = 0;
    bool ProxyAuthFlag = false;   // the proxy wants Basic authentication
    std::string ProxyUsername;
    std::string ProxyPassword;    // plain; scrambled in the file

    // "SMTP"
    std::string SmtpHost;         // host or host ":" port
    std::string SmtpUsername;
    std::string SmtpPassword;     // plain; scrambled in the file
    std::string SmtpFromAddress = DefaultSmtpFromAddress;
    // Written to the file only when it is not Auto, so the files of users who
    // never change it stay as they were.
    TSmtpSecurity SmtpSecurity = TSmtpSecurity::Auto;

    // "SMS"
    int MaxTryCount = 1;          // delivery attempts per queued message (no range check)
    bool HistoryFlag = true;      // finished messages go to the history file
    std::string Prefix;           // a new message starts with this text
    std::string Suffix;           // a new message ends with this text
    bool TranslitFlag = false;    // state of the main window's transliteration button
    bool ClearMessageAfterSendFlag = false;
    bool ClearRecepientsAfterSendFlag = false;
    bool AlertOnErrorsFlag = false;
    bool MinimizeToTrayFlag = false;
    // The user's choice to keep the two passwords in the desktop keyring when
    // there is one; the key "UseKeyring" is written only when off.
    bool KeyringFlag = true;
    // Quiet hours: nothing is attempted from QuietFrom to QuietTo (minutes of
    // the day; the span may cross midnight). Off (-1) unless set; the keys
    // "QuietFrom" and "QuietTo" ("hh:mm") are written only when on.
    int QuietFrom = -1;
    int QuietTo = -1;
    bool QuietHoursOn() const { return QuietFrom >= 0 && QuietTo >= 0 && QuietFrom != QuietTo; }
    // Delivery status: the port of the report listener on 127.0.0.1 (opened
    // only while an operator asks for reports) and the hours a message waits
    // for a final answer before it is "неизвестно". The keys
    // "DeliveryReportPort" and "DeliveryWaitHours" are written only when not
    // the defaults.
    static constexpr int DefaultDeliveryReportPort = 13580;
    static constexpr int DefaultDeliveryWaitHours = 72;
    int DeliveryReportPort = DefaultDeliveryReportPort;
    int DeliveryWaitHours = DefaultDeliveryWaitHours;

    // Reads the options file (name resolved in the data folder; the folder and
    // an empty file are created when missing). A missing key leaves its field
    // as it is. Raises TError when the file cannot be created or read.
    void Load(const std::string& fileName);
    // Writes the options file anew with all nineteen keys (and "SmtpSecurity"
    // and "UseKeyring" when they are not the defaults), owner-only
    // permissions, through a safe save (the old file survives a failure).
    // A password the file held and that did not change stays in the file
    // without a word to the keyring (an exit asks it nothing) unless
    // `moveFilePasswords` (the options dialog's OK) offers it to the keyring.
    void Save(const std::string& fileName, bool moveFilePasswords = false) const;

    bool operator==(const TSmsOptions&) const = default;
};

// Where the proxy and SMTP passwords are kept when the desktop offers a
// keyring (a Secret Service: GNOME Keyring, KWallet). Keys are the options
// file's key names ("ProxyPassword", "SmtpPassword"); values CP1251.
class TSecretStore {
public:
    virtual ~TSecretStore() = default;
    // A keyring service is there (it may still be locked or refuse).
    virtual bool Available() = 0;
    // The stored value, nullopt when the keyring holds none; raises TError
    // with the keyring's reason when it refuses (locked, access denied).
    virtual std::optional<std::string> Read(const std::string& key) = 0;
    // Raises TError with the keyring's reason when it refuses.
    virtual void Write(const std::string& key, const std::string& value) = 0;
    // Why the keyring is not asked any more in this run (it refused or did
    // not answer: CP1251); empty while it may be asked.
    virtual std::string Refusal() const { return {}; }
};
// The keyring used by Load and Save; nullptr (the default): the passwords
// stay in the options file, scrambled. Not owned.
//
// With a keyring available, Save writes each password to the keyring first
// and then an empty value to the file; a keyring that refuses leaves the
// password in the file (scrambled, as without a keyring) and says why in
// TakeSecretStoreMessage. Load takes a password from the keyring when the
// file holds an empty value for it, else from the file (the next Save moves
// it to the keyring). A password the keyring refused at Load is not written
// back empty by Save: the keyring keeps it.
void SetSecretStore(TSecretStore* store);
// The keyring's complaints since the last call (CP1251, "\r" between lines),
// for the user to read; empty when all went well.
std::string TakeSecretStoreMessage();
// Where the passwords are kept, for the options dialog (CP1251): empty when
// in the keyring as the options want; else a sentence saying why they stay
// in the options file (no keyring, switched off, the keyring's refusal).
std::string SecretStoreState(const TSmsOptions& options);

// The one sending-options object of the process, created with the defaults on first use.
TSmsOptions& SmsOptions();
// Tests: puts the one object back to its defaults.
void ResetSmsOptionsForTests();

// The stored form of a password, and back. Every byte is complemented; a
// password whose complemented form one INI line cannot carry unchanged (a NUL
// byte, a line break, a blank or tab at either end, matching quotes at both
// ends) is stored instead as the hexadecimal digits of the
// complemented bytes inside a pair of double quotes, which the INI layer
// writes as ""HEX"". Every password the plain form can carry keeps it.
std::string ScramblePassword(const std::string& plain);
std::string UnscramblePassword(const std::string& stored);
