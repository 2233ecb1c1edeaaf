// The whole program on a real X server (Xvfb) with a tray host (trayer): it
// starts on a prepared data folder, the user picks a group of recipients,
// types a Cyrillic message and sends it; the queue window delivers it to
// Kannel (web gate) and to aiosmtpd (e-mail gate); the history file and the
// status texts follow. Pictures of the main window and of the tray menu go to
// build/screenshots/.
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/KannelPeer.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"
#include "ui/main/MessageMemo.h"
#include "ui/main/SmsQueueForm.h"
#include "ui/dialogs/SmsSendersForm.h"
#include "ui/dialogs/SmsTemplatesForm.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

namespace {

const char* const kSmtpUser = "velo";
const char* const kSmtpPassword = "s3cret-pw";
const char* const kAnna = "+79001110001"; // web gate, delivered by Kannel
const char* const kBoris = "89002220002"; // e-mail gate, delivered to aiosmtpd
const char* const kVera = "+79003330003"; // web gate with a wrong password: fails

// A window manager (openbox) on the test's X server, until the result is destroyed.
std::unique_ptr<TPeerProcess> StartOpenbox()
{
    return std::make_unique<TPeerProcess>(
        std::vector<std::string> {"bash", "-c",
                                  "openbox --sm-disable & "
                                  "until xdotool get_desktop >/dev/null 2>&1; do sleep 0.1; done; echo READY; wait"},
        30);
}

// Waits, processing events, until `done` holds; false when it never does.
template <class F>
bool WaitFor(F done, int seconds = 60)
{
    for (int i = 0; i < seconds * 20 && !done(); ++i)
        QTest::qWait(50);
    return done();
}

void Shot(QWidget* widget, const char* name)
{
    QApplication::processEvents(); // pending layouts first: a label that just grew
    QDir().mkpath(QStringLiteral(VELOTEXT_SCREENSHOT_DIR));
    const QString path = QStringLiteral(VELOTEXT_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(name));
    QPixmap picture = widget ? widget->grab() : QGuiApplication::primaryScreen()->grabWindow(0);
    EXPECT_TRUE(picture.save(path)) << path.toStdString();
}

TContact* AddContact(const char* name, const char* phone, TSmsSender* sender)
{
    auto* contact = new TContact;
    contact->SetName(U(name));
    contact->PhoneNumber = phone;
    contact->SmsSender = sender;
    SmsManager().AddContact(contact);
    return contact;
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        try {
            Kannel = StartKannel(StartError);
            if (!Kannel)
                return;
            Smtp = std::make_unique<TPeerProcess>(std::vector<std::string> {
                "/usr/bin/python3", PeerScript("smtp_peer.py"), std::string("--user=") + kSmtpUser,
                std::string("--password=") + kSmtpPassword, "--dir=" + MailDir.path(), "--require-auth"});
            // A tray host at the top right corner of the screen.
            Tray = std::make_unique<TPeerProcess>(std::vector<std::string> {
                "bash", "-c",
                "trayer --edge top --align right --widthtype pixel --width 64 --heighttype pixel --height 28 "
                "--SetDockType true --transparent false --tint 0xd0d0d0 & echo READY; wait"});
        } catch (const std::exception& e) {
            StartError = e.what();
        }
    }
    static void TearDownTestSuite()
    {
        Tray.reset();
        Smtp.reset();
        Kannel.reset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(Kannel && Smtp && Tray) << StartError;
        SetProgramSettingsFolder(Data.dir().path() + "/settings");
        RegisterIoClasses();
        ResetTranslitTable();
    }
    void TearDown() override
    {
        Form.reset();
        ResetSmsManagerForTests();
        SetProgramSettingsFolder("");
    }

    // The data folder as a user would have left it: operators, contacts, a group, options.
    void PrepareDataFolder()
    {
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        ProgramOptions().Load(); // the settings store holds the program's key: not a first run
        auto webGate = [&](const char* name, const std::string& password) {
            auto* sender = new TStdSmsSender;
            sender->SetName(U(name));
            sender->GateType = TStdSmsSender::WebGateType;
            sender->Charset = "CP1251";
            sender->WebGate = KannelWebGate(*Kannel, "windows-1251", password);
            SmsManager().AddSmsSender(sender);
            return sender;
        };
        TStdSmsSender* web = webGate("Шлюз Kannel", "");
        TStdSmsSender* wrong = webGate("Чужой шлюз", "wrong");
        auto* mail = new TStdSmsSender;
        mail->SetName(U("Почтовый шлюз"));
        mail->GateType = TStdSmsSender::EmailGateType;
        mail->Charset = "UTF-8";
        mail->EmailGate = "{phone}@sms.test";
        SmsManager().AddSmsSender(mail);
        auto* friends = new TGroup(false);
        friends->SetName(U("Друзья"));
        SmsManager().AddGroup(friends);
        SmsManager().AddContactToGroup(AddContact("Анна Петрова", kAnna, web), friends);
        SmsManager().AddContactToGroup(AddContact("Борис Иванов", kBoris, mail), friends);
        SmsManager().AddContactToGroup(AddContact("Вера Сидорова", kVera, wrong), friends);
        AddContact("Глеб", "+79004440004", web);
        const TProgramOptions& names = ProgramOptions();
        SmsManager().SaveSmsSenders(names.SmsGatesFileName);
        SmsManager().SaveAddressBook(names.AddressBookFileName);
        TSmsOptions options;
        options.SmtpHost = "127.0.0.1:" + Smtp->value("port");
        options.SmtpUsername = kSmtpUser;
        options.SmtpPassword = kSmtpPassword;
        options.SmtpFromAddress = "velotext@test.ru";
        options.MinimizeToTrayFlag = true;
        options.ClearRecepientsAfterSendFlag = true;
        options.Suffix = U("Анна");
        options.Save(names.OptionsFileName);
        // The program starts from the files alone.
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
    }

    QString Label(const char* name) const { return Form->findChild<QLabel*>(name)->text(); }

    static inline std::unique_ptr<TPeerProcess> Kannel, Smtp, Tray;
    static inline TTempDir MailDir;
    static inline std::string StartError;
    TScopedDataDir Data;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(EndToEnd, ACyrillicMessageToAGroupReachesKannelAndTheMailServer)
{
    PrepareDataFolder();
    TUiScript ui; // answers any box; every box is checked below
    Form = std::make_unique<TMainForm>();
    Form->SetStartUpOnShow(true);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    ASSERT_TRUE(Form->StartupState().Complete()) << Form->StartupState().ErrorText;
    auto* memo = Form->findChild<TMessageMemo*>("MessageMemo");
    EXPECT_EQ(memo->Text(), U("Анна")); // NewMessage with the suffix of the options
    EXPECT_EQ(Label("SmsInfoLabel"), QStringLiteral("Сообщение:"));
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Velotext"));
    Shot(Form.get(), "MainForm-empty");

    // Pick the group "Друзья" into the recipients and type the message.
    auto* groups = Form->findChild<QTreeView*>("GroupsListView");
    ASSERT_NE(groups, nullptr);
    bool found = false;
    for (int row = 0; row < groups->model()->rowCount() && !found; ++row) {
        QModelIndex index = groups->model()->index(row, 0);
        if (index.data().toString() == QStringLiteral("Друзья")) {
            groups->setCurrentIndex(index);
            found = true;
        }
    }
    ASSERT_TRUE(found);
    Form->findChild<QAction*>("AddGroupToRecepientsAction")->trigger();
    EXPECT_EQ(SmsManager().Recipients.Groups.Count(), 1);
    memo->SetText("");
    memo->setFocus();
    const QString text = QStringLiteral("Привет! Встреча завтра в 10:00, Ёлки-палки.");
    for (QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, memo, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    EXPECT_EQ(Label("CharCounterLabel"), QStringLiteral("%1 (1 SMS)").arg(text.size()));
    Shot(Form.get(), "MainForm-message");

    // Send: three messages queued, the countdown runs; the queue window delivers.
    QSignalSpy ticks(Form->findChild<QTimer*>("DelayTimer"), &QTimer::timeout);
    QTest::mouseClick(Form->findChild<QToolButton*>("SendButton"), Qt::LeftButton);
    EXPECT_TRUE(ui.Calls.empty());
    EXPECT_FALSE(Form->findChild<QAction*>("SendSmsAction")->isEnabled());
    EXPECT_EQ(SmsManager().Recipients.Groups.Count(), 0); // cleared after the send, as the options say
    ASSERT_TRUE(ticks.wait(5000));
    EXPECT_EQ(Label("SecondsLeftLabel"), QStringLiteral("Следующее SMS можно отослать через 14 сек."));
    Shot(Form.get(), "MainForm-countdown");

    ASSERT_TRUE(WaitFor([] { return SmsManager().Queue.Count() == 0 && !SmsManager().CurrentDelivery(); }));
    const std::string utf8 = text.toStdString();
    EXPECT_EQ(KannelArrivedText(Kannel->value("log"), kAnna), utf8);
    ASSERT_TRUE(WaitFor([] { return std::filesystem::exists(MailDir.file("message-001.eml")); }));
    const std::string mail = MailDir.read("message-001.eml");
    EXPECT_NE(mail.find(utf8), std::string::npos) << mail;
    EXPECT_NE(MailDir.read("message-001.json").find(std::string(kBoris) + "@sms.test"), std::string::npos);

    // Status texts: no queue, one failure (the wrong password), caption without a count.
    EXPECT_EQ(Label("SmsInfoLabel"), QStringLiteral("Сообщение:"));
    EXPECT_EQ(Label("SmsErrorLabel"), // a link to the failures in the history
              QStringLiteral("<a href=\"failed\" style=\"color: #800000\">Не удалось отправить 1 SMS</a>"));
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Velotext"));
    // The history file holds the three finished messages.
    const std::string history = Data.dir().read("SmsHistory.txt");
    for (const char* phone : {kAnna, kBoris, kVera})
        EXPECT_NE(history.find(phone), std::string::npos) << phone;
    EXPECT_NE(history.find(U("Ёлки-палки")), std::string::npos);

    // Send is back at the sixteenth tick.
    ASSERT_TRUE(WaitFor([&] { return Form->findChild<QAction*>("SendSmsAction")->isEnabled(); }, 30));
    EXPECT_EQ(ticks.count(), 16);
    EXPECT_EQ(Label("SecondsLeftLabel"), QString());

    // The tray: the icon stands, its menu, minimizing hides the window, a click brings it back.
    ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10));
    Form->ApplyOptions();
    ASSERT_TRUE(Form->TrayIcon()->isVisible());
    EXPECT_EQ(Form->TrayIcon()->toolTip(), QStringLiteral("Velotext"));
    auto* trayMenu = Form->findChild<QMenu*>("TrayPopupMenu");
    QStringList items;
    for (QAction* item : trayMenu->actions())
        items << (item->isSeparator() ? QStringLiteral("-") : item->text());
    EXPECT_EQ(items, (QStringList {QStringLiteral("&О программе..."), "-", QStringLiteral("&Выйти из программы")}));
    QRect icon = Form->TrayIcon()->geometry();
    trayMenu->popup(icon.isValid() ? icon.bottomLeft() : QPoint(900, 30));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(trayMenu));
    QTest::qWait(200); // let the menu paint before the picture
    Shot(nullptr, "TrayMenu");
    trayMenu->hide();
    Form->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return Form->HiddenToTray(); }, 10));
    EXPECT_FALSE(Form->isVisible());
    Form->TrayIconActivated(QSystemTrayIcon::Trigger);
    Form->TrayIconActivated(QSystemTrayIcon::DoubleClick); // the same double-click: no second toggle
    EXPECT_TRUE(Form->isVisible());
    EXPECT_FALSE(Form->HiddenToTray());

    // Closing with an empty queue asks nothing and writes the address book and the options.
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(ui.Calls.empty());
    EXPECT_FALSE(Form->TrayIcon()->isVisible());
    EXPECT_NE(Data.dir().read("SmsAddressBook.ini").find(U("Друзья")), std::string::npos);
    EXPECT_NE(Data.dir().read("SmsOptions.ini").find("MinimizeToTray"), std::string::npos);
}

// A window manager decides which window is active. "Вставить" in the
// templates window makes the main window the active one, with the keyboard in
// the message field, so what the user types next lands there.
TEST_F(EndToEnd, InsertingATemplateActivatesTheComposerUnderAWindowManager)
{
    std::unique_ptr<TPeerProcess> openbox;
    ASSERT_NO_THROW(openbox = StartOpenbox());
    PrepareDataFolder();
    TUiScript ui;
    Form = std::make_unique<TMainForm>();
    Form->SetStartUpOnShow(true);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    ASSERT_TRUE(Form->StartupState().Complete()) << Form->StartupState().ErrorText;
    auto* memo = Form->findChild<TMessageMemo*>("MessageMemo");
    memo->SetText("");
    SmsManager().Templates.Add(U("Привет"));
    Form->findChild<QAction*>("TemplatesAction")->trigger();
    TSmsTemplatesForm* templates = TSmsTemplatesForm::Existing();
    ASSERT_NE(templates, nullptr);
    templates->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return QApplication::activeWindow() == templates; }, 10));
    QTest::qWait(300); // the window manager's own focus change has settled
    ASSERT_EQ(QApplication::activeWindow(), templates);
    auto* list = templates->findChild<QListWidget*>("TemplatesListBox");
    list->setCurrentRow(0);

    templates->findChild<QAction*>("InsertTB")->trigger();
    EXPECT_TRUE(WaitFor([&] { return QApplication::activeWindow() == Form.get(); }, 5));
    EXPECT_EQ(QApplication::focusWidget(), memo);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ok"));
    EXPECT_EQ(memo->Text(), U("Привет\r\nok"));
    templates->hide();
    EXPECT_TRUE(Form->close());
}

// With the tray on, minimizing hides the whole program, the queue and
// templates windows too; the tray icon brings back the windows that were shown.
TEST_F(EndToEnd, MinimizingToTheTrayHidesEveryWindowAndTheIconBringsBackThoseShown)
{
    PrepareDataFolder();
    TUiScript ui;
    Form = std::make_unique<TMainForm>();
    Form->SetStartUpOnShow(true);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    ASSERT_TRUE(Form->StartupState().Complete()) << Form->StartupState().ErrorText;
    ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10));
    Form->ApplyOptions();
    Form->findChild<QAction*>("SmsQueueAction")->trigger();
    Form->findChild<QAction*>("TemplatesAction")->trigger();
    auto* queue = Form->findChild<TSmsQueueForm*>();
    TSmsTemplatesForm* templates = TSmsTemplatesForm::Existing();
    TSmsSendersForm* senders = TSmsSendersForm::Existing();
    ASSERT_TRUE(queue && templates && senders);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(queue) && QTest::qWaitForWindowExposed(templates));
    ASSERT_FALSE(senders->isVisible());

    Form->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return Form->HiddenToTray(); }, 10));
    EXPECT_FALSE(Form->isVisible());
    EXPECT_FALSE(queue->isVisible());
    EXPECT_FALSE(templates->isVisible());

    Form->TrayIconActivated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(queue->isVisible());
    EXPECT_TRUE(templates->isVisible());
    EXPECT_FALSE(senders->isVisible()); // closed before: stays closed

    // Hidden again with the queue window closed: only the templates window comes back.
    queue->hide();
    Form->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return Form->HiddenToTray(); }, 10));
    EXPECT_FALSE(templates->isVisible());
    Form->TrayIconActivated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(templates->isVisible());
    EXPECT_FALSE(queue->isVisible());

    // The program ends while in the tray: the templates window is stored as
    // shown, so it opens again at the next start; the queue window as closed.
    Form->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return Form->HiddenToTray(); }, 10));
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(ui.Calls.empty());
    QSettings store(QString::fromStdString(ProgramSettingsFile()), QSettings::IniFormat);
    EXPECT_EQ(store.value(QStringLiteral("Windows/SmsTemplatesForm/Visible")).toString(), QStringLiteral("1"));
    EXPECT_EQ(store.value(QStringLiteral("Windows/SmsQueueForm/Visible")).toString(), QStringLiteral("0"));
}

// The program itself on an empty data folder and an empty settings store: a
// first run, whose options dialog opens by itself over the main window.
TEST(EndToEndProgram, FirstRunOnAnEmptyFolderOpensTheOptionsDialog)
{
    TTempDir home;
    const std::string script = "XDG_CONFIG_HOME='" + home.path() + "/config' '" VELOTEXT_PROGRAM "' --data-dir '" +
                               home.path() + "/data' & "
                               "xdotool search --sync --name '^Настройки программы' >/dev/null && echo READY; wait";
    std::unique_ptr<TPeerProcess> program;
    ASSERT_NO_THROW(program = std::make_unique<TPeerProcess>(std::vector<std::string> {"bash", "-c", script}, 60));
    program.reset(); // ends the program
    EXPECT_TRUE(std::filesystem::exists(home.file("config/Velotext/Velotext.ini")));
    EXPECT_TRUE(std::filesystem::exists(home.file("data/SmsAddressBook.ini")));
}

// The program restarted five times under a real window manager (openbox),
// closed each time as a user does (Alt+F4): every placed window comes back
// exactly where it was stored and as large, and the settings store holds the
// same placement after every run.
TEST(EndToEndProgram, FiveRestartsUnderAWindowManagerKeepEveryWindowInPlace)
{
    std::unique_ptr<TPeerProcess> openbox;
    ASSERT_NO_THROW(openbox = StartOpenbox());
    TTempDir home;
    const QString store = QString::fromStdString(home.path() + "/config/Velotext/Velotext.ini");
    struct TPlace {
        const char* Window;
        int Left, Top, Width, Height; // Width 0: a fixed border, its size is the window's own
        int Visible;
    };
    const TPlace places[] = {{"MainForm", 180, 140, 700, 460, 1},
                             {"SmsTemplatesForm", 680, 90, 300, 320, 1},
                             {"SmsQueueForm", 40, 380, 0, 0, 1},
                             {"SmsSendersForm", 100, 60, 700, 500, 0}};
    {
        QSettings settings(store, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Directories/AddressBookFileName"), QStringLiteral("SmsAddressBook.ini"));
        for (const TPlace& p : places) {
            const QString group = QStringLiteral("Windows/") + QLatin1String(p.Window) + QLatin1Char('/');
            settings.setValue(group + QStringLiteral("Left"), QString::number(p.Left));
            settings.setValue(group + QStringLiteral("Top"), QString::number(p.Top));
            if (p.Width) {
                settings.setValue(group + QStringLiteral("Width"), QString::number(p.Width));
                settings.setValue(group + QStringLiteral("Height"), QString::number(p.Height));
            }
            settings.setValue(group + QStringLiteral("Visible"), QString::number(p.Visible));
        }
    }
    // Starts the program, waits until its main window is shown and settled,
    // reads the client area's place from the X server, closes it with Alt+F4
    // through the window manager and waits for the program to end.
    const std::string script =
        "XDG_CONFIG_HOME='" + home.path() + "/config' '" VELOTEXT_PROGRAM "' --data-dir '" + home.path() +
        "/data' & pid=$!; trap 'kill $pid 2>/dev/null' EXIT; "
        "xdotool search --sync --onlyvisible --name '^Velotext$' >/dev/null; sleep 1.5; "
        // Looked up once settled: a helper window of Qt's may carry the same title for a moment.
        "wid=$(xdotool search --onlyvisible --name '^Velotext$' | head -n 1); "
        "eval $(xdotool getwindowgeometry --shell $wid); "
        // A key pressed while the window manager is still settling the new window can be
        // lost: pressed again until the program has ended (as a user would).
        "for i in $(seq 20); do xdotool windowactivate --sync $wid; sleep 0.3; xdotool key alt+F4; "
        "for j in $(seq 10); do kill -0 $pid 2>/dev/null || break 2; sleep 0.2; done; done; wait $pid; "
        "echo READY x=$X y=$Y w=$WIDTH h=$HEIGHT";
    std::string firstClient;
    std::map<std::string, std::string> firstQueueSize;
    for (int run = 1; run <= 5; ++run) {
        std::unique_ptr<TPeerProcess> program;
        ASSERT_NO_THROW(program = std::make_unique<TPeerProcess>(std::vector<std::string> {"bash", "-c", script}, 60))
            << "run " << run;
        const std::string client = program->value("x") + "," + program->value("y") + " " + program->value("w") +
                                   "x" + program->value("h");
        if (run == 1)
            firstClient = client;
        EXPECT_EQ(client, firstClient) << "run " << run;
        EXPECT_EQ(program->value("w") + "x" + program->value("h"), "700x460") << "run " << run;
        QSettings settings(store, QSettings::IniFormat);
        for (const TPlace& p : places) {
            const QString group = QStringLiteral("Windows/") + QLatin1String(p.Window) + QLatin1Char('/');
            auto value = [&](const char* key) { return settings.value(group + QLatin1String(key)).toString().toStdString(); };
            EXPECT_EQ(value("Left"), std::to_string(p.Left)) << p.Window << " run " << run;
            EXPECT_EQ(value("Top"), std::to_string(p.Top)) << p.Window << " run " << run;
            EXPECT_EQ(value("Visible"), std::to_string(p.Visible)) << p.Window << " run " << run;
            if (p.Width) {
                EXPECT_EQ(value("Width"), std::to_string(p.Width)) << p.Window << " run " << run;
                EXPECT_EQ(value("Height"), std::to_string(p.Height)) << p.Window << " run " << run;
            } else {
                const std::string size = value("Width") + "x" + value("Height");
                firstQueueSize.emplace(p.Window, size);
                EXPECT_EQ(size, firstQueueSize[p.Window]) << p.Window << " run " << run;
            }
        }
    }
}

} // namespace

// The application lives on main's stack: a static one would outlive the X
// connection's own statics at exit.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velotext"));
    return RUN_ALL_TESTS();
}
