// The passwords of the sending options in a real GNOME Keyring on a private
// session bus (the ui_keyring test runs this under tests/keyring/with-keyring.sh).
#include "model/Text.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"
#include "ui/KeyringStore.h"
#include "ui/UiText.h"

#include "UiTestSupport.h"
#include "WindowFixture.h"
#include "ui/dialogs/OptionsDlg.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

TEST(RealKeyring, OptionsFilePasswordsMoveToTheKeyringAndComeBack)
{
    if (!qEnvironmentVariableIsSet("VELOTEXT_PRIVATE_KEYRING"))
        GTEST_SKIP() << "needs the private keyring of the ui_keyring test";
    TestApp();
    TScopedDataDir data;
    TKeyringStore keyring;
    ASSERT_TRUE(keyring.Available());
    // An options file of before: the passwords scrambled in it.
    data.dir().write("SmsOptions.ini", "[SMTP]\r\nSmtpPassword=" + ScramblePassword(U("пароль smtp")) +
                                           "\r\n[Proxy]\r\nProxyPassword=" + ScramblePassword("proxy") + "\r\n");
    SetSecretStore(&keyring);
    TSmsOptions o;
    o.Load("SmsOptions.ini");
    EXPECT_EQ(o.SmtpPassword, U("пароль smtp"));
    o.Save("SmsOptions.ini", true); // as the options dialog's OK does
    EXPECT_EQ(TakeSecretStoreMessage(), "");
    const std::string file = data.dir().read("SmsOptions.ini");
    EXPECT_NE(file.find("SmtpPassword=\r\n"), std::string::npos);
    EXPECT_NE(file.find("ProxyPassword=\r\n"), std::string::npos);
    EXPECT_EQ(TKeyringStore().Read("SmtpPassword"), U("пароль smtp"));

    TSmsOptions back;
    back.Load("SmsOptions.ini");
    EXPECT_EQ(back.SmtpPassword, U("пароль smtp"));
    EXPECT_EQ(back.ProxyPassword, "proxy");
    SetSecretStore(nullptr);
}

// Run by the ui_keyring_locked test: the same keyring, locked during the test
// (as after the screen was locked, or a login keyring whose password differs
// from the user's). No unlock prompt can show on the private bus.
namespace {

// Locks the keyring's login collection over its own D-Bus interface; true
// when it says it is locked afterwards.
bool TryLock()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.secrets");
    const QString collection = QStringLiteral("/org/freedesktop/secrets/collection/login");
    QDBusMessage lock = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/secrets"),
                                                       QStringLiteral("org.freedesktop.Secret.Service"),
                                                       QStringLiteral("Lock"));
    lock << QVariant::fromValue(QList<QDBusObjectPath> {QDBusObjectPath(collection)});
    if (bus.call(lock).type() == QDBusMessage::ErrorMessage)
        return false;
    QDBusInterface properties(service, collection, QStringLiteral("org.freedesktop.DBus.Properties"), bus);
    const QDBusMessage locked = properties.call(QStringLiteral("Get"), QStringLiteral("org.freedesktop.Secret.Collection"),
                                                QStringLiteral("Locked"));
    return !locked.arguments().isEmpty() && locked.arguments()[0].value<QDBusVariant>().variant().toBool();
}

// The daemon started by tests/keyring/with-keyring.sh takes its bus name a moment later.
bool LockDefaultCollection() { return QTest::qWaitFor(TryLock, 10000); }

} // namespace

class RealLockedKeyring : public TWindowTest {
protected:
    void SetUp() override
    {
        TWindowTest::SetUp();
        if (!qEnvironmentVariableIsSet("VELOTEXT_LOCKED_KEYRING"))
            GTEST_SKIP() << "needs the private keyring of the ui_keyring_locked test";
        SetSecretStore(&Keyring);
    }
    void TearDown() override
    {
        SetSecretStore(nullptr);
        TWindowTest::TearDown();
    }
    TKeyringStore Keyring;
};

// The keyring holds the SMTP password (the options file an empty value) and
// is locked before the start. The start says why the password is missing and
// the next save does not write the empty value over what the keyring keeps.
// Then the options dialog's OK with a new SMTP password: the keyring that
// refused is not asked again, the dialog says where the passwords are, and
// the file keeps the password scrambled, as without a keyring.
TEST_F(RealLockedKeyring, NeitherTheStartNorOkLosesAPasswordAndABoxSaysWhy)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return Keyring.Available(); }, 10000));
    Keyring.Write("SmtpPassword", U("пароль в связке"));
    ASSERT_TRUE(LockDefaultCollection());

    Data.dir().write("SmsOptions.ini", "[SMTP]\r\nSmtpPassword=\r\n[Proxy]\r\nProxyPassword=\r\n[SMS]\r\n");
    SmsOptions().Load("SmsOptions.ini");
    EXPECT_EQ(SmsOptions().SmtpPassword, "");
    const QString atStart = ToQt(TakeSecretStoreMessage());
    EXPECT_TRUE(atStart.contains(QStringLiteral("Не удалось прочитать пароль SmtpPassword из связки ключей: "
                                                "связка ключей заблокирована")))
        << atStart.toStdString();
    SmsOptions().Save("SmsOptions.ini");
    EXPECT_NE(Data.dir().read("SmsOptions.ini").find("SmtpPassword=\r\n"), std::string::npos);
    TakeSecretStoreMessage();

    TOptionsDlg dialog(nullptr);
    const QString note = dialog.findChild<QLabel*>("KeyringNoteLabel")->text();
    EXPECT_TRUE(note.contains(QStringLiteral("Связка ключей недоступна: связка ключей заблокирована")))
        << note.toStdString();
    EXPECT_TRUE(note.contains(QStringLiteral("Пароли хранятся в файле настроек"))) << note.toStdString();
    dialog.findChild<QLineEdit*>("SmtpPasswordEdit")->setText(QStringLiteral("новый пароль"));
    dialog.setResult(QDialog::Rejected);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error), QStringList()); // said at the start already
    const std::string file = Data.dir().read("SmsOptions.ini");
    EXPECT_NE(file.find("SmtpPassword=" + ScramblePassword(U("новый пароль")) + "\r\n"), std::string::npos) << file;

    // The next start takes the file's password while the keyring stays locked.
    TSmsOptions back;
    back.Load("SmsOptions.ini");
    EXPECT_EQ(back.SmtpPassword, U("новый пароль"));
}

namespace {

// A Secret Service that takes every call and never answers (a keyring stuck
// behind a prompt nobody sees), on a connection of its own.
class TSilentKeyring : public QDBusVirtualObject {
public:
    int Calls = 0;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override
    {
        ++Calls;
        return true;
    }
};

} // namespace

// Run by the ui_notifications test, whose private bus has no keyring: a
// keyring that never answers costs the set wait, then the options dialog's OK
// says so and the file keeps the password.
TEST_F(TWindowTest, OnAPrivateBusAKeyringThatNeverAnswersIsLeftAndTheFileKeepsThePassword)
{
    if (!qEnvironmentVariableIsSet("VELOTEXT_PRIVATE_BUS"))
        GTEST_SKIP() << "needs the private session bus of the ui_notifications test";
    const QString name = QStringLiteral("velotext-silent-keyring");
    QDBusConnection silent = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    TSilentKeyring keyring;
    ASSERT_TRUE(silent.registerVirtualObject(QStringLiteral("/"), &keyring, QDBusConnection::SubPath));
    ASSERT_TRUE(silent.registerService(QStringLiteral("org.freedesktop.secrets")));
    qputenv("VELOTEXT_KEYRING_TIMEOUT_MS", "300");
    TKeyringStore store;
    SetSecretStore(&store);
    ASSERT_TRUE(store.Available());

    TOptionsDlg dialog(nullptr);
    dialog.findChild<QLineEdit*>("SmtpPasswordEdit")->setText(QStringLiteral("пароль smtp"));
    dialog.setResult(QDialog::Rejected);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const QStringList boxes = Ui.Texts(TUiCallKind::Error);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("Не удалось сохранить пароль SmtpPassword в связке ключей: "
                                                 "Связка ключей не ответила")))
        << boxes[0].toStdString();
    const std::string file = Data.dir().read("SmsOptions.ini");
    EXPECT_NE(file.find("SmtpPassword=" + ScramblePassword(U("пароль smtp")) + "\r\n"), std::string::npos) << file;

    // A keyring that did not answer is not asked again in this run: the next
    // save (the exit's one too) does not wait on it, and still keeps the password.
    const int calls = keyring.Calls;
    EXPECT_GT(calls, 0);
    TOptionsDlg again(nullptr);
    again.accept();
    QCoreApplication::processEvents();
    EXPECT_EQ(keyring.Calls, calls);
    const std::string later = Data.dir().read("SmsOptions.ini");
    EXPECT_NE(later.find("SmtpPassword=" + ScramblePassword(U("пароль smtp")) + "\r\n"), std::string::npos) << later;

    SetSecretStore(nullptr);
    qunsetenv("VELOTEXT_KEYRING_TIMEOUT_MS");
    silent.unregisterService(QStringLiteral("org.freedesktop.secrets"));
    silent.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus(name);
}

// Run by the ui_keyring_uncreated test: GNOME Keyring as on a fresh account,
// with no default collection (creating one would prompt for a new keyring
// password, which nobody on the private bus can show).
namespace {

// The path the keyring's "default" alias names ("/": none).
QString DefaultCollection()
{
    QDBusMessage alias = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("ReadAlias"));
    alias << QStringLiteral("default");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(alias);
    return reply.arguments().isEmpty() ? QString() : reply.arguments()[0].value<QDBusObjectPath>().path();
}

} // namespace

class RealUncreatedKeyring : public TWindowTest {
protected:
    void SetUp() override
    {
        TWindowTest::SetUp();
        if (!qEnvironmentVariableIsSet("VELOTEXT_UNCREATED_KEYRING"))
            GTEST_SKIP() << "needs the private keyring of the ui_keyring_uncreated test";
        // A keyring that waits for a prompt would cost this long at each call.
        qputenv("VELOTEXT_KEYRING_TIMEOUT_MS", "20000");
        SetSecretStore(&Keyring);
    }
    void TearDown() override
    {
        SetSecretStore(nullptr);
        qunsetenv("VELOTEXT_KEYRING_TIMEOUT_MS");
        TWindowTest::TearDown();
    }
    // The options dialog as the user leaves it with OK.
    void Ok(const std::function<void(TOptionsDlg&)>& edit = {})
    {
        TOptionsDlg dialog(nullptr);
        if (edit)
            edit(dialog);
        dialog.setResult(QDialog::Rejected);
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    TKeyringStore Keyring;
};

// The start finds nothing and says nothing. The first OK with an SMTP
// password typed (the proxy's never was) keeps it in the file and says so
// once, naming that password only; the keyring is never created. Later OKs
// and the exit's save say nothing more; the dialog shows where the passwords
// are. Switched off in the dialog, the keyring is named as not used.
TEST_F(RealUncreatedKeyring, PasswordsStayInTheFileAndItIsSaidOnceWithoutAPrompt)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return Keyring.Available() && DefaultCollection() == "/"; }, 10000));
    // Saved once with an SMTP password that was then cleared; a proxy password never saved.
    Data.dir().write("SmsOptions.ini", "[SMTP]\r\nSmtpPassword=\r\n[SMS]\r\n");
    SmsOptions().Load("SmsOptions.ini");
    EXPECT_EQ(TakeSecretStoreMessage(), "");

    Ok([](TOptionsDlg& dialog) {
        dialog.findChild<QLineEdit*>("SmtpPasswordEdit")->setText(QStringLiteral("пароль smtp"));
    });
    const QStringList boxes = Ui.Texts(TUiCallKind::Error);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("Не удалось сохранить пароль SmtpPassword в связке ключей: "
                                                 "связка ключей ещё не создана")))
        << boxes[0].toStdString();
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("Он сохранён в файле настроек"))) << boxes[0].toStdString();
    EXPECT_FALSE(boxes[0].contains(QStringLiteral("ProxyPassword"))) << boxes[0].toStdString();
    std::string file = Data.dir().read("SmsOptions.ini");
    EXPECT_NE(file.find("SmtpPassword=" + ScramblePassword(U("пароль smtp")) + "\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find("ProxyPassword=\r\n"), std::string::npos) << file;

    Ok([](TOptionsDlg& dialog) {
        const QString note = dialog.findChild<QLabel*>("KeyringNoteLabel")->text();
        EXPECT_TRUE(note.contains(QStringLiteral("Связка ключей недоступна: связка ключей ещё не создана")))
            << note.toStdString();
        dialog.findChild<QLineEdit*>("SmtpPasswordEdit")->setText(QStringLiteral("другой пароль"));
    });
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error).size(), 1);
    SmsOptions().Save("SmsOptions.ini"); // the exit's save
    EXPECT_EQ(TakeSecretStoreMessage(), "");
    EXPECT_EQ(DefaultCollection(), QStringLiteral("/"));
    file = Data.dir().read("SmsOptions.ini");
    EXPECT_NE(file.find("SmtpPassword=" + ScramblePassword(U("другой пароль")) + "\r\n"), std::string::npos) << file;

    Ok([](TOptionsDlg& dialog) {
        auto* use = dialog.findChild<QCheckBox*>("KeyringCheckBox");
        EXPECT_TRUE(use->isChecked());
        use->setChecked(false);
        EXPECT_TRUE(dialog.findChild<QLabel*>("KeyringNoteLabel")->text().contains(
            QStringLiteral("Связка ключей не используется")));
    });
    EXPECT_NE(Data.dir().read("SmsOptions.ini").find("UseKeyring=0"), std::string::npos);
    TSmsOptions back;
    back.Load("SmsOptions.ini");
    EXPECT_FALSE(back.KeyringFlag);
    EXPECT_EQ(back.SmtpPassword, U("другой пароль"));
}
