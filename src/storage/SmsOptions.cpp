#include "storage/SmsOptions.h"

#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "storage/IniFile.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

TSecretStore* TheSecretStore = nullptr;
std::string SecretStoreMessage;
// The passwords the keyring refused at the last Load (by key name).
std::vector<std::string> UnreadSecrets;
// The passwords the options file holds itself since the last Load or Save
// (by key name): one of them saved unchanged stays there without asking the keyring.
std::map<std::string, std::string> FileSecrets;
// The passwords the keyring is known to hold (read or written in this run):
// an empty password that is not one of them was never typed, and the keyring
// is not asked about it.
std::vector<std::string> KeyringSecrets;

void NoteKeyringHolds(const std::string& key, bool holds)
{
    std::erase(KeyringSecrets, key);
    if (holds)
        KeyringSecrets.push_back(key);
}

void NoteSecretProblem(const std::string& text)
{
    if (!SecretStoreMessage.empty())
        SecretStoreMessage += "\r";
    SecretStoreMessage += text;
}

bool SecretUnread(const std::string& key)
{
    return std::find(UnreadSecrets.begin(), UnreadSecrets.end(), key) != UnreadSecrets.end();
}

// The keyring is there, wanted, and has not refused in this run.
bool KeyringUsable(bool wanted)
{
    return wanted && TheSecretStore && TheSecretStore->Available() && TheSecretStore->Refusal().empty();
}

} // namespace

void SetSecretStore(TSecretStore* store) { TheSecretStore = store; }

std::string SecretStoreState(const TSmsOptions& options)
{
    const std::string inFile = Cp1251(" Пароли хранятся в файле настроек.");
    if (!TheSecretStore || !TheSecretStore->Available())
        return Cp1251("Связки ключей на этом компьютере нет.") + inFile;
    if (!options.KeyringFlag)
        return Cp1251("Связка ключей не используется.") + inFile;
    if (const std::string refusal = TheSecretStore->Refusal(); !refusal.empty())
        return Cp1251("Связка ключей недоступна: ") + refusal + inFile;
    return {};
}

std::string TakeSecretStoreMessage() { return std::exchange(SecretStoreMessage, std::string()); }

namespace {

const char* const ProxySection = "Proxy";

// "hh:mm" to minutes of the day; anything else gives `def`.
int MinuteOfDay(const std::string& text, int def)
{
    int h = 0, m = 0;
    if (text.size() != 5 || text[2] != ':' || !TryStrToInt(text.substr(0, 2), h) || !TryStrToInt(text.substr(3), m) ||
        h < 0 || h > 23 || m < 0 || m > 59)
        return def;
    return h * 60 + m;
}

std::string MinuteOfDayText(int minutes)
{
    char text[16];
    const int m = std::clamp(minutes, 0, 24 * 60 - 1);
    std::snprintf(text, sizeof text, "%02d:%02d", m / 60, m % 60);
    return text;
}
const char* const SmtpSection = "SMTP";
const char* const SmsSection = "SMS";

// The options file holds passwords: nobody but the owner may read it.
constexpr unsigned OptionsFileMode = 0600;

// Full path of the options file, with its folder chain created.
std::string PrepareOptionsPath(const std::string& fileName)
{
    std::string path = ResolveDataFilePath(fileName);
    CreatePrivateFolders(fs::path(path).parent_path().string());
    return path;
}

std::string Complement(std::string_view bytes)
{
    std::string r(bytes);
    for (char& c : r)
        c = static_cast<char>(~static_cast<unsigned char>(c));
    return r;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool EnclosedInQuotes(std::string_view v)
{
    return v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.front() == v.back();
}

// Whether the value goes into an INI line and comes back unchanged in the
// plain form that the options file has always used.
bool PlainFormCarries(std::string_view v)
{
    if (v.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos)
        return false;
    return v.empty() || (!IsBlank(v.front()) && !IsBlank(v.back()) && !EnclosedInQuotes(v));
}

const char* const SmtpSecurityNames[] = {"auto", "starttls", "tls", "none"};

} // namespace

const char* SmtpSecurityName(TSmtpSecurity security) { return SmtpSecurityNames[static_cast<int>(security)]; }

TSmtpSecurity SmtpSecurityFromName(std::string_view name, TSmtpSecurity fallback)
{
    for (int i = 0; i < 4; ++i)
        if (SameText(name, SmtpSecurityNames[i]))
            return static_cast<TSmtpSecurity>(i);
    return fallback;
}

std::string ScramblePassword(const std::string& plain)
{
    std::string scrambled = Complement(plain);
    if (PlainFormCarries(scrambled))
        return scrambled;
    static const char digits[] = "0123456789ABCDEF";
    std::string r = "\"";
    for (unsigned char c : scrambled) {
        r += digits[c >> 4];
        r += digits[c & 15];
    }
    r += '"';
    return r;
}

std::string UnscramblePassword(const std::string& stored)
{
    // The quoted hexadecimal form: the plain form never reads back enclosed
    // in quotes, so this cannot be an old password.
    if (stored.size() >= 4 && stored.size() % 2 == 0 && stored.front() == '"' && stored.back() == '"') {
        std::string bytes;
        bool hex = true;
        for (size_t i = 1; i + 1 < stored.size() && hex; i += 2) {
            int hi = HexDigitValue(stored[i]), lo = HexDigitValue(stored[i + 1]);
            hex = hi >= 0 && lo >= 0;
            bytes += static_cast<char>(hi * 16 + lo);
        }
        if (hex)
            return Complement(bytes);
    }
    return Complement(stored);
}

void TSmsOptions::Load(const std::string& fileName)
{
    std::string path = PrepareOptionsPath(fileName);
    std::error_code ec;
    if (!fs::exists(path, ec))
        SaveFileSafely(path, std::string(), OptionsFileMode);
    TIniFile ini;
    ini.SetFileName(path);
    // The scrambled passwords are bytes, not text: they must not make an
    // options file look like UTF-8.
    ini.SetOpaqueLines([](std::string_view line) {
        const std::string_view key = line.substr(0, std::min(line.find('='), line.size()));
        return SameText(Trim(key), "ProxyPassword") || SameText(Trim(key), "SmtpPassword");
    });
    ini.Load();
    RequireKnownSection(
        ini,
        [](std::string_view section) {
            return SameText(section, ProxySection) || SameText(section, SmtpSection) || SameText(section, SmsSection);
        },
        Cp1251("в файле настроек ожидались секции [Proxy], [SMTP] и [SMS]"));

    UnreadSecrets.clear();
    FileSecrets.clear();
    KeyringSecrets.clear();
    KeyringFlag = ini.ReadBool(SmsSection, "UseKeyring", KeyringFlag);
    const bool keyring = KeyringUsable(KeyringFlag);
    auto readPassword = [&](const char* section, const char* key, std::string& field) {
        if (!ini.ValueExists(section, key))
            return;
        field = UnscramblePassword(ini.ReadString(section, key, ""));
        if (!field.empty())
            FileSecrets[key] = field;
        if (!field.empty() || !keyring)
            return; // the file's own password (the options dialog's OK moves it to the keyring)
        try {
            field = TheSecretStore->Read(key).value_or(std::string());
            NoteKeyringHolds(key, !field.empty());
        } catch (...) {
            UnreadSecrets.push_back(key);
            NoteSecretProblem(Cp1251("Не удалось прочитать пароль ") + key + Cp1251(" из связки ключей: ") +
                              ExceptionMessage(std::current_exception()));
        }
    };

    ProxyFlag = ini.ReadBool(ProxySection, "ProxyFlag", ProxyFlag);
    ProxyServer = ini.ReadString(ProxySection, "ProxyServer", ProxyServer);
    ProxyPort = ini.ReadInteger(ProxySection, "ProxyPort", ProxyPort);
    ProxyAuthFlag = ini.ReadBool(ProxySection, "ProxyAuthFlag", ProxyAuthFlag);
    ProxyUsername = ini.ReadString(ProxySection, "ProxyUsername", ProxyUsername);
    readPassword(ProxySection, "ProxyPassword", ProxyPassword);

    SmtpHost = ini.ReadString(SmtpSection, "SmtpHost", SmtpHost);
    SmtpFromAddress = ini.ReadString(SmtpSection, "SmtpFromAddress", SmtpFromAddress);
    SmtpUsername = ini.ReadString(SmtpSection, "SmtpUsername", SmtpUsername);
    readPassword(SmtpSection, "SmtpPassword", SmtpPassword);
    SmtpSecurity = SmtpSecurityFromName(ini.ReadString(SmtpSection, "SmtpSecurity", ""), SmtpSecurity);

    MaxTryCount = ini.ReadInteger(SmsSection, "MaxTryCount", MaxTryCount);
    HistoryFlag = ini.ReadBool(SmsSection, "HistoryFlag", HistoryFlag);
    Prefix = ini.ReadString(SmsSection, "Prefix", Prefix);
    Suffix = ini.ReadString(SmsSection, "Suffix", Suffix);
    TranslitFlag = ini.ReadBool(SmsSection, "TranslitFlag", TranslitFlag);
    ClearMessageAfterSendFlag = ini.ReadBool(SmsSection, "ClearMessageAfterSendFlag", ClearMessageAfterSendFlag);
    ClearRecepientsAfterSendFlag =
        ini.ReadBool(SmsSection, "ClearRecepientsAfterSendFlag", ClearRecepientsAfterSendFlag);
    AlertOnErrorsFlag = ini.ReadBool(SmsSection, "AlertOnErrorsFlag", AlertOnErrorsFlag);
    MinimizeToTrayFlag = ini.ReadBool(SmsSection, "MinimizeToTrayFlag", MinimizeToTrayFlag);
    QuietFrom = MinuteOfDay(ini.ReadString(SmsSection, "QuietFrom", ""), QuietFrom);
    QuietTo = MinuteOfDay(ini.ReadString(SmsSection, "QuietTo", ""), QuietTo);
    const int port = ini.ReadInteger(SmsSection, "DeliveryReportPort", DeliveryReportPort);
    if (port > 0 && port < 65536)
        DeliveryReportPort = port;
    const int hours = ini.ReadInteger(SmsSection, "DeliveryWaitHours", DeliveryWaitHours);
    if (hours > 0 && hours <= 24 * 366)
        DeliveryWaitHours = hours;
}

// What the options file gets for a password: empty once the keyring holds
// it, else its scrambled form. The keyring is asked only about a password
// that changed (or, with `move`, one the file held), never about one the
// user never typed, and not at all once it refused in this run.
static std::string StoredPassword(const std::string& key, const std::string& password, bool wanted, bool move)
{
    auto inFile = [&] {
        if (password.empty())
            FileSecrets.erase(key);
        else
            FileSecrets[key] = password;
        return ScramblePassword(password);
    };
    if (!KeyringUsable(wanted))
        return inFile(); // an empty one stays empty: what a keyring that refused at the start keeps, it keeps
    if (password.empty() && SecretUnread(key))
        return std::string(); // the keyring refused it at the start and keeps it
    if (const auto held = FileSecrets.find(key); !move && held != FileSecrets.end() && held->second == password)
        return inFile();
    if (password.empty() && std::find(KeyringSecrets.begin(), KeyringSecrets.end(), key) == KeyringSecrets.end()) {
        FileSecrets.erase(key);
        return std::string(); // never typed: nothing to keep anywhere
    }
    try {
        TheSecretStore->Write(key, password);
        NoteKeyringHolds(key, !password.empty());
        FileSecrets.erase(key);
        return std::string();
    } catch (...) {
        NoteSecretProblem(Cp1251("Не удалось сохранить пароль ") + key + Cp1251(" в связке ключей: ") +
                          ExceptionMessage(std::current_exception()) +
                          Cp1251("\rОн сохранён в файле настроек, как без связки ключей."));
        return inFile();
    }
}

void TSmsOptions::Save(const std::string& fileName, bool moveFilePasswords) const
{
    TIniFile ini;
    ini.SetFileName(PrepareOptionsPath(fileName));

    ini.WriteBool(ProxySection, "ProxyFlag", ProxyFlag);
    ini.WriteString(ProxySection, "ProxyServer", ProxyServer);
    ini.WriteInteger(ProxySection, "ProxyPort", ProxyPort);
    ini.WriteBool(ProxySection, "ProxyAuthFlag", ProxyAuthFlag);
    ini.WriteString(ProxySection, "ProxyUsername", ProxyUsername);
    ini.WriteString(ProxySection, "ProxyPassword",
                    StoredPassword("ProxyPassword", ProxyPassword, KeyringFlag, moveFilePasswords));

    ini.WriteString(SmtpSection, "SmtpHost", SmtpHost);
    ini.WriteString(SmtpSection, "SmtpUsername", SmtpUsername);
    ini.WriteString(SmtpSection, "SmtpPassword",
                    StoredPassword("SmtpPassword", SmtpPassword, KeyringFlag, moveFilePasswords));
    ini.WriteString(SmtpSection, "SmtpFromAddress", SmtpFromAddress);
    if (SmtpSecurity != TSmtpSecurity::Auto)
        ini.WriteString(SmtpSection, "SmtpSecurity", SmtpSecurityName(SmtpSecurity));

    ini.WriteInteger(SmsSection, "MaxTryCount", MaxTryCount);
    ini.WriteBool(SmsSection, "HistoryFlag", HistoryFlag);
    ini.WriteString(SmsSection, "Prefix", Prefix);
    ini.WriteString(SmsSection, "Suffix", Suffix);
    ini.WriteBool(SmsSection, "TranslitFlag", TranslitFlag);
    ini.WriteBool(SmsSection, "ClearMessageAfterSendFlag", ClearMessageAfterSendFlag);
    ini.WriteBool(SmsSection, "ClearRecepientsAfterSendFlag", ClearRecepientsAfterSendFlag);
    ini.WriteBool(SmsSection, "AlertOnErrorsFlag", AlertOnErrorsFlag);
    ini.WriteBool(SmsSection, "MinimizeToTrayFlag", MinimizeToTrayFlag);
    if (!KeyringFlag)
        ini.WriteBool(SmsSection, "UseKeyring", KeyringFlag);
    if (QuietHoursOn()) {
        ini.WriteString(SmsSection, "QuietFrom", MinuteOfDayText(QuietFrom));
        ini.WriteString(SmsSection, "QuietTo", MinuteOfDayText(QuietTo));
    }
    if (DeliveryReportPort != DefaultDeliveryReportPort)
        ini.WriteInteger(SmsSection, "DeliveryReportPort", DeliveryReportPort);
    if (DeliveryWaitHours != DefaultDeliveryWaitHours)
        ini.WriteInteger(SmsSection, "DeliveryWaitHours", DeliveryWaitHours);

    ini.Save(OptionsFileMode);
}

namespace {
TSmsOptions& Instance()
{
    static TSmsOptions options;
    return options;
}
} // namespace

TSmsOptions& SmsOptions() { return Instance(); }

void ResetSmsOptionsForTests()
{
    Instance() = TSmsOptions();
    UnreadSecrets.clear();
    FileSecrets.clear();
    KeyringSecrets.clear();
}
