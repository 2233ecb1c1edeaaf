#include "storage/SmsOptions.h"

#include "model/Error.h"
#include "model/SafeFile.h"
#include "storage/IniFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sys/stat.h>

namespace {

const std::string DefaultFile = "[Proxy]\r\nProxyFlag=0\r\nProxyServer=\r\nProxyPort=0\r\nProxyAuthFlag=0\r\n"
                                "ProxyUsername=\r\nProxyPassword=\r\n"
                                "[SMTP]\r\nSmtpHost=\r\nSmtpUsername=\r\nSmtpPassword=\r\n"
                                "SmtpFromAddress=qarvo@mail.ru\r\n"
                                "[SMS]\r\nMaxTryCount=1\r\nHistoryFlag=1\r\nPrefix=\r\nSuffix=\r\nTranslitFlag=0\r\n"
                                "ClearMessageAfterSendFlag=0\r\nClearRecepientsAfterSendFlag=0\r\n"
                                "AlertOnErrorsFlag=0\r\nMinimizeToTrayFlag=0\r\n";

unsigned FileMode(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

std::string Complement(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(~static_cast<unsigned char>(c));
    return s;
}

TSmsOptions LoadedFrom(const TScopedDataDir& data, const std::string& fileText)
{
    data.dir().write("SmsOptions.ini", fileText);
    TSmsOptions o;
    o.Load("SmsOptions.ini");
    return o;
}

TEST(SmsOptions, NoFileGivesDefaultsAndAnEmptyFileThenSaveWritesAllKeys)
{
    TScopedDataDir data;
    TSmsOptions o;
    o.Load("SmsOptions.ini");
    EXPECT_EQ(o, TSmsOptions());
    EXPECT_EQ(data.dir().read("SmsOptions.ini"), "");
    EXPECT_EQ(FileMode(data.dir().file("SmsOptions.ini")), 0600u);
    EXPECT_EQ(o.MaxTryCount, 1);
    EXPECT_TRUE(o.HistoryFlag);
    EXPECT_FALSE(o.SmtpFromAddress.empty());

    o.Save("SmsOptions.ini");
    EXPECT_EQ(data.dir().read("SmsOptions.ini"), DefaultFile);
    EXPECT_EQ(FileMode(data.dir().file("SmsOptions.ini")), 0600u);
}

TEST(SmsOptions, EveryFieldSurvivesSaveAndLoadAndTheFileIsStable)
{
    TScopedDataDir data;
    TSmsOptions o;
    o.ProxyFlag = o.ProxyAuthFlag = o.TranslitFlag = o.ClearMessageAfterSendFlag = true;
    o.ClearRecepientsAfterSendFlag = o.AlertOnErrorsFlag = o.MinimizeToTrayFlag = true;
    o.HistoryFlag = false;
    o.ProxyServer = "proxy.local";
    o.ProxyPort = 3128;
    o.ProxyUsername = U("пользователь");
    o.ProxyPassword = "p@ss word";
    o.SmtpHost = "smtp.local:2525";
    o.SmtpUsername = "user";
    o.SmtpPassword = U("пароль");
    o.SmtpFromAddress = "me@example.org";
    o.MaxTryCount = 0;
    o.Prefix = U("Привет! ");
    o.Suffix = U(" -- Вася");
    o.Save("SmsOptions.ini");
    const std::string first = data.dir().read("SmsOptions.ini");

    TSmsOptions back;
    back.Load("SmsOptions.ini");
    EXPECT_EQ(back, o);
    back.Save("SmsOptions.ini");
    EXPECT_EQ(data.dir().read("SmsOptions.ini"), first);
    // The passwords are never in the file in plain form.
    EXPECT_EQ(first.find("p@ss"), std::string::npos);
    EXPECT_EQ(first.find(U("пароль")), std::string::npos);
}

TEST(SmsOptions, MissingKeysKeepDefaultsAndBadValuesGiveThem)
{
    TScopedDataDir data;
    TSmsOptions o = LoadedFrom(data, "[SMS]\r\nMaxTryCount=3\r\n");
    TSmsOptions expected;
    expected.MaxTryCount = 3;
    EXPECT_EQ(o, expected);

    o = LoadedFrom(data, "[SMS]\r\nHistoryFlag=yes\r\nMaxTryCount=-2\r\n"
                         "[Proxy]\r\nProxyFlag=yes\r\nProxyPort=0x1F90\r\nProxyAuthFlag=2\r\n");
    EXPECT_TRUE(o.HistoryFlag);
    EXPECT_FALSE(o.ProxyFlag);
    EXPECT_EQ(o.ProxyPort, 8080);
    EXPECT_TRUE(o.ProxyAuthFlag);
    EXPECT_EQ(o.MaxTryCount, -2); // no range check here

    // The reader passes each field's current value as the default.
    data.dir().write("SmsOptions.ini", "[proxy]\r\nproxyport=99\r\n");
    TSmsOptions current;
    current.SmtpHost = "kept";
    current.SmtpPassword = "secret";
    current.Load("SmsOptions.ini");
    EXPECT_EQ(current.SmtpHost, "kept");
    EXPECT_EQ(current.SmtpPassword, "secret");
    EXPECT_EQ(current.ProxyPort, 99);
}

TEST(SmsOptions, SmtpSecurityIsWrittenOnlyWhenNotTheDefault)
{
    TScopedDataDir data;
    TSmsOptions o;
    o.SmtpSecurity = TSmtpSecurity::Tls;
    o.Save("SmsOptions.ini");
    std::string expected = DefaultFile;
    expected.insert(expected.find("[SMS]"), "SmtpSecurity=tls\r\n");
    EXPECT_EQ(data.dir().read("SmsOptions.ini"), expected);
    TSmsOptions back;
    back.Load("SmsOptions.ini");
    EXPECT_EQ(back, o);

    EXPECT_EQ(LoadedFrom(data, "[smtp]\r\nsmtpsecurity= STARTTLS \r\n").SmtpSecurity, TSmtpSecurity::StartTls);
    EXPECT_EQ(LoadedFrom(data, "[SMTP]\r\nSmtpSecurity=none\r\n").SmtpSecurity, TSmtpSecurity::None);
    // An unknown value leaves the field as it was.
    data.dir().write("SmsOptions.ini", "[SMTP]\r\nSmtpSecurity=ssl\r\n");
    back.Load("SmsOptions.ini");
    EXPECT_EQ(back.SmtpSecurity, TSmtpSecurity::Tls);
}

TEST(SmsOptions, QuietHoursAreWrittenOnlyWhenSet)
{
    TScopedDataDir data;
    TSmsOptions o;
    o.QuietFrom = 21 * 60;
    o.QuietTo = 9 * 60 + 30;
    o.Save("SmsOptions.ini");
    EXPECT_EQ(data.dir().read("SmsOptions.ini"), DefaultFile + "QuietFrom=21:00\r\nQuietTo=09:30\r\n");
    TSmsOptions back;
    back.Load("SmsOptions.ini");
    EXPECT_EQ(back, o);
    // A time that does not read leaves quiet hours off.
    EXPECT_FALSE(LoadedFrom(data, "[SMS]\r\nQuietFrom=25:00\r\nQuietTo=09:00\r\n").QuietHoursOn());
}

TEST(SmsOptionsPassword, StoredAsTheBytewiseComplement)
{
    EXPECT_EQ(ScramblePassword("abc"), "\x9E\x9D\x9C");
    EXPECT_EQ(ScramblePassword(""), "");
    EXPECT_EQ(UnscramblePassword("\x9E\x9D\x9C"), "abc");

    TScopedDataDir data;
    TSmsOptions o;
    o.ProxyPassword = "abc";
    o.Save("SmsOptions.ini");
    EXPECT_NE(data.dir().read("SmsOptions.ini").find("ProxyPassword=\x9E\x9D\x9C\r\n"), std::string::npos);

    // A file written earlier, with a password whose complement ends in a
    // control character (Russian letters do that), reads as it always did.
    o = LoadedFrom(data, "[SMTP]\r\nSmtpPassword=" + Complement(U("мама")) + "\r\n[Proxy]\r\nProxyPassword=" +
                             Complement("abc") + "\r\n");
    EXPECT_EQ(o.SmtpPassword, U("мама"));
    EXPECT_EQ(o.ProxyPassword, "abc");
}

TEST(SmsOptionsPassword, PasswordsThePlainFormCannotCarrySurvive)
{
    // Their complements hold NUL (я), CR (т), LF (х), a blank (Я) or tab (ц)
    // at an end, or quotes at both ends (Э, Ш).
    TScopedDataDir data;
    for (const std::string& password : {U("я"), U("тест"), U("хлеб"), U("Яблоко"), U("пароЯ"), U("ц"),
                                        U("ЭабвЭ"), U("ШШ"), U("Э"), U("ЭЭ"), std::string("\xFF\xF2", 2)}) {
        TSmsOptions o;
        o.ProxyPassword = password;
        o.SmtpPassword = password + "x";
        o.Suffix = "after";
        o.Save("SmsOptions.ini");
        TSmsOptions back;
        back.Load("SmsOptions.ini");
        EXPECT_EQ(back, o) << Cp1251ToUtf8(password);
    }
}

TEST(SmsOptionsPassword, EveryPasswordThePlainFormCarriesKeepsIt)
{
    std::mt19937 rng(7);
    int plain = 0, other = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string password(1 + rng() % 6, '\0');
        for (char& c : password)
            c = static_cast<char>(rng() % 2 ? 0xC0 + rng() % 64 : rng());
        const std::string complement = Complement(password);
        // The plain form carries a value when it is written bare and read back
        // unchanged, and holds no NUL (which the old reader stopped at).
        TIniFile bare;
        bare.WriteString("S", "k", complement);
        const bool carried = complement.find('\0') == std::string::npos &&
                             bare.SaveToText() == "[S]\r\nk=" + complement + "\r\n" &&
                             bare.ReadString("S", "k", "") == complement;
        const std::string stored = ScramblePassword(password);
        if (carried) {
            ++plain;
            ASSERT_EQ(stored, complement);
        } else {
            ++other;
            ASSERT_NE(stored, complement);
        }
        TIniFile file;
        file.WriteString("S", "k", stored);
        TIniFile back;
        back.LoadFromText(file.SaveToText());
        ASSERT_EQ(UnscramblePassword(back.ReadString("S", "k", "")), password);
    }
    EXPECT_GT(plain, 1000);
    EXPECT_GT(other, 1000);
    // Printable ASCII always keeps the plain form.
    std::string ascii;
    for (char c = 32; c < 127; ++c)
        ascii += c;
    EXPECT_EQ(ScramblePassword(ascii), Complement(ascii));
}

TEST(SmsOptionsFile, NamesWithAFolderAndFailures)
{
    TScopedDataDir data;
    TSmsOptions o;
    o.Prefix = "p";
    o.Save("sub/deeper/opts.ini");
    EXPECT_TRUE(FileExists(data.dir().file("sub/deeper/opts.ini")));
    TSmsOptions back;
    back.Load("other/opts.ini"); // creates the folder chain and an empty file
    EXPECT_EQ(data.dir().read("other/opts.ini"), "");
    back.Load("sub/deeper/opts.ini");
    EXPECT_EQ(back.Prefix, "p");

    // A folder where the file should be: a clear error, nothing changed.
    ASSERT_EQ(::mkdir(data.dir().file("folder.ini").c_str(), 0755), 0);
    TSmsOptions untouched;
    EXPECT_THROW(untouched.Load("folder.ini"), TError);
    EXPECT_EQ(untouched, TSmsOptions());
    EXPECT_THROW(untouched.Save("folder.ini"), TError);

    // A save that fails keeps the old file.
    SetSaveFaultHook([](const char* stage) {
        if (std::string(stage) == "write")
            throw TError("disk full");
    });
    o.Prefix = "changed";
    EXPECT_THROW(o.Save("sub/deeper/opts.ini"), TError);
    SetSaveFaultHook(nullptr);
    back.Load("sub/deeper/opts.ini");
    EXPECT_EQ(back.Prefix, "p");
}

} // namespace

TEST(SmsOptionsPassword, ScrambledBytesThatLookLikeUtf8StayAsTheyAre)
{
    TScopedDataDir data;
    ResetSmsOptionsForTests();
    // Digits and letters in turn scramble into valid two-byte UTF-8 that
    // CP1251 cannot hold: the file would be refused or the password changed.
    SmsOptions().SmtpPassword = "1a2b3c4d";
    SmsOptions().ProxyPassword = "=T"; // "«" once read as UTF-8
    SmsOptions().Save("SmsOptions.ini");
    ResetSmsOptionsForTests();
    SmsOptions().Load("SmsOptions.ini");
    EXPECT_EQ(SmsOptions().SmtpPassword, "1a2b3c4d");
    EXPECT_EQ(SmsOptions().ProxyPassword, "=T");
    ResetSmsOptionsForTests();
}

namespace {

// A keyring held in memory, which may refuse reading or writing.
class TMemoryKeyring : public TSecretStore {
public:
    bool Available() override { return true; }
    std::optional<std::string> Read(const std::string& key) override
    {
        if (RefuseRead)
            throw TError("locked");
        const auto it = Values.find(key);
        return it == Values.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    void Write(const std::string& key, const std::string& value) override
    {
        ++Writes;
        if (RefuseWrite)
            throw TError("access denied");
        Values[key] = value;
    }
    std::string Refusal() const override { return Refused; }
    std::map<std::string, std::string> Values;
    bool RefuseRead = false, RefuseWrite = false;
    std::string Refused; // set: the keyring refused earlier in this run
    int Writes = 0;
};

struct TKeyringInstalled {
    explicit TKeyringInstalled(TSecretStore* store) { SetSecretStore(store); }
    ~TKeyringInstalled()
    {
        SetSecretStore(nullptr);
        TakeSecretStoreMessage();
    }
};

} // namespace

// The passwords move to the keyring and the file keeps empty values; a keyring
// that refuses the write leaves them in the file; a keyring locked at the
// start reports it and the next save does not empty what it keeps.
TEST(SmsOptionsKeyring, PasswordsMoveToTheKeyringAndARefusingKeyringLosesNone)
{
    TScopedDataDir data;
    TMemoryKeyring keyring;
    TKeyringInstalled installed(&keyring);
    TSmsOptions o;
    o.SmtpPassword = "smtp-secret";
    o.ProxyPassword = U("прокси");
    keyring.RefuseWrite = true; // refused: the file as without a keyring
    o.Save("SmsOptions.ini");
    TIniFile ini;
    ini.SetFileName(data.dir().file("SmsOptions.ini"));
    ini.Load();
    EXPECT_EQ(UnscramblePassword(ini.ReadString("SMTP", "SmtpPassword", "")), "smtp-secret");
    EXPECT_NE(TakeSecretStoreMessage().find("access denied"), std::string::npos);

    keyring.RefuseWrite = false; // the next OK of the options dialog moves both
    o.Save("SmsOptions.ini", true);
    EXPECT_EQ(keyring.Values["SmtpPassword"], "smtp-secret");
    EXPECT_EQ(keyring.Values["ProxyPassword"], U("прокси"));
    const std::string file = data.dir().read("SmsOptions.ini");
    EXPECT_NE(file.find("SmtpPassword=\r\n"), std::string::npos);
    EXPECT_NE(file.find("ProxyPassword=\r\n"), std::string::npos);
    TSmsOptions back;
    back.Load("SmsOptions.ini");
    EXPECT_EQ(back.SmtpPassword, "smtp-secret");
    EXPECT_TRUE(TakeSecretStoreMessage().empty());

    keyring.RefuseRead = true; // locked at the start
    TSmsOptions locked;
    locked.Load("SmsOptions.ini");
    EXPECT_EQ(locked.SmtpPassword, "");
    EXPECT_NE(TakeSecretStoreMessage().find("locked"), std::string::npos);
    const int writes = keyring.Writes;
    locked.Save("SmsOptions.ini"); // the exit's save
    EXPECT_EQ(keyring.Writes, writes);
    EXPECT_EQ(keyring.Values["SmtpPassword"], "smtp-secret");
}

// The keyring is asked only when something is to change: a password the file
// held, saved unchanged (the exit's save), stays in the file unasked; once the
// keyring refused in this run, a changed password goes to the file without a
// word; switched off, the passwords go to the file and the choice is kept.
TEST(SmsOptionsKeyring, AskedOnlyAboutChangesAndNeverAfterItRefusedOrWhenOff)
{
    TScopedDataDir data;
    TMemoryKeyring keyring;
    TKeyringInstalled installed(&keyring);
    data.dir().write("SmsOptions.ini", "[SMTP]\r\nSmtpPassword=" + ScramblePassword("in-file") + "\r\n[SMS]\r\n");
    TSmsOptions o;
    o.Load("SmsOptions.ini");
    o.Save("SmsOptions.ini");
    EXPECT_EQ(keyring.Writes, 0);
    EXPECT_NE(data.dir().read("SmsOptions.ini").find("SmtpPassword=" + ScramblePassword("in-file") + "\r\n"),
              std::string::npos);

    keyring.Refused = "locked";
    o.SmtpPassword = "changed";
    o.Save("SmsOptions.ini", true);
    EXPECT_EQ(keyring.Writes, 0);
    EXPECT_EQ(TakeSecretStoreMessage(), "");
    EXPECT_NE(data.dir().read("SmsOptions.ini").find("SmtpPassword=" + ScramblePassword("changed") + "\r\n"),
              std::string::npos);
    EXPECT_NE(SecretStoreState(o).find(U("Связка ключей недоступна: locked")), std::string::npos);

    keyring.Refused.clear();
    o.KeyringFlag = false;
    o.ProxyPassword = "proxy";
    o.Save("SmsOptions.ini", true);
    EXPECT_EQ(keyring.Writes, 0);
    TSmsOptions back;
    back.Load("SmsOptions.ini");
    EXPECT_FALSE(back.KeyringFlag);
    EXPECT_EQ(back.ProxyPassword, "proxy");
    EXPECT_EQ(back.SmtpPassword, "changed");
    EXPECT_NE(SecretStoreState(back).find(U("Связка ключей не используется")), std::string::npos);
}
