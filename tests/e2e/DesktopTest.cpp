// The real program on a desktop as a user has it: Xvfb, a window manager
// (openbox) and a tray host (trayer), driven from a shell with xdotool and
// read back from the X server (xwininfo, xprop).
#include "engine/SmsManager.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"
#include "ui/dialogs/AboutDialog.h"
#include "ui/dialogs/ContactEditor.h"
#include "ui/dialogs/GroupEditor.h"
#include "ui/dialogs/OptionsDlg.h"
#include "ui/dialogs/SendLaterDialog.h"
#include "ui/dialogs/SmsSenderSelector.h"
#include "ui/dialogs/TranslitDlg.h"
#include "ui/dialogs/UiHelpers.h"

#include <QApplication>
#include <QDir>
#include <QInputDialog>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

std::string Program()
{
    const char* other = std::getenv("VELOTEXT_TEST_PROGRAM");
    return "'" + std::string(other && *other ? other : VELOTEXT_PROGRAM) + "'";
}

// Shell functions the scripts share: the window manager and the tray host
// started and waited for, and a window's map state read from the X server.
const char* const kDesktop =
    "openbox --sm-disable & ob=$!; trap 'kill $ob $tr $p 2>/dev/null' EXIT; "
    "until xdotool get_desktop >/dev/null 2>&1; do sleep 0.1; done; "
    "trayer --edge top --align right --widthtype pixel --width 64 --heighttype pixel --height 28 "
    "--SetDockType true --transparent false & tr=$!; "
    "until xdotool search --class trayer >/dev/null 2>&1; do sleep 0.1; done; "
    "mapped() { xwininfo -id $1 | grep -q 'Map State: IsViewable' && echo 1 || echo 0; }; ";

// With "Минимизировать в системный Tray" on, the program's windows go to the
// tray, the tray icon stays where it is, and a click on it brings back every
// window that was shown.
TEST(Desktop, MinimizingToTheTrayKeepsTheIconMappedAndItsClickRestoresTheWindows)
{
    TTempDir home;
    std::filesystem::create_directories(home.file("config/Velotext"));
    std::filesystem::create_directories(home.file("data"));
    home.write("config/Velotext/Velotext.ini",
               "[Windows]\nSmsTemplatesForm\\Visible=1\nSmsQueueForm\\Visible=1\n");
    home.write("data/SmsOptions.ini", "[SMS]\r\nMinimizeToTrayFlag=1\r\n");
    const std::string script =
        std::string(kDesktop) + "XDG_CONFIG_HOME='" + home.path() + "/config' " + Program() + " --data-dir '" +
        home.file("data") + "' & p=$!; "
        "main=$(xdotool search --sync --onlyvisible --name '^Velotext$' | head -1); "
        "tmpl=$(xdotool search --sync --onlyvisible --name '^Шаблоны SMS$' | head -1); "
        "queue=$(xdotool search --sync --onlyvisible --name '^Очередь сообщений$' | head -1); "
        // The icon: the program's window that carries the XEmbed client property.
        "icon=; until [ -n \"$icon\" ]; do for w in $(xdotool search --pid $p 2>/dev/null); do "
        "xprop -id $w _XEMBED_INFO 2>/dev/null | grep -q '=' && icon=$w; done; sleep 0.2; done; "
        "until [ $(mapped $icon) = 1 ]; do sleep 0.1; done; sleep 1; "
        "xdotool windowminimize $main; "
        "until [ $(mapped $main) = 0 ]; do sleep 0.1; done; sleep 1; "
        "hidden=$(mapped $main)$(mapped $tmpl)$(mapped $queue); iconAfter=$(mapped $icon); "
        "xdotool mousemove --window $icon 8 8 click 1; "
        "for i in $(seq 50); do [ $(mapped $main)$(mapped $tmpl)$(mapped $queue) = 111 ] && break; sleep 0.1; done; "
        "shown=$(mapped $main)$(mapped $tmpl)$(mapped $queue); "
        "kill -TERM $p; wait $p; rc=$?; "
        "echo READY hidden=$hidden icon=$iconAfter shown=$shown rc=$rc";
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(std::vector<std::string> {"bash", "-c", script}, 90));
    EXPECT_EQ(run->value("hidden"), "000"); // main, templates and queue windows all in the tray
    EXPECT_EQ(run->value("icon"), "1");     // the icon's own window stays mapped
    EXPECT_EQ(run->value("shown"), "111");  // the click brought every one of them back
    EXPECT_EQ(run->value("rc"), "0");
}

// The real program by keyboard alone, keys typed through the X server as a
// Russian layout gives them: Alt+С opens "Сообщение" and П picks "Отправить
// позже..."; F10 opens the menu bar; Ctrl+Shift+S opens "Отправить позже" too.
TEST(Desktop, TheRealWindowAnswersMnemonicsF10AndTheSendLaterShortcut)
{
    TTempDir home;
    std::filesystem::create_directories(home.file("config/Velotext"));
    std::filesystem::create_directories(home.file("data"));
    home.write("config/Velotext/Velotext.ini", "[Test]\nStarted=1\n"); // not a first start
    const std::string script =
        std::string(kDesktop) + "XDG_CONFIG_HOME='" + home.path() + "/config' " + Program() + " --data-dir '" +
        home.file("data") + "' & p=$!; "
        "w=$(xdotool search --sync --onlyvisible --name '^Velotext$' | head -1); "
        "xdotool windowactivate --sync $w; sleep 0.5; "
        "later() { timeout 5 xdotool search --sync --onlyvisible --name '^Отправить позже$' >/dev/null && echo 1 || echo 0; }; "
        "popups() { n=0; for x in $(xdotool search --onlyvisible --pid $p); do [ $x != $w ] && n=$((n+1)); done; echo $n; }; "
        "xdotool key alt+Cyrillic_es; sleep 0.5; xdotool key Cyrillic_pe; mnemonic=$(later); "
        "xdotool key Escape; sleep 0.5; before=$(popups); "
        "xdotool key F10; sleep 0.5; f10=$(popups); xdotool key Escape Escape; sleep 0.5; "
        "xdotool key ctrl+shift+s; shortcut=$(later); xdotool key Escape; sleep 0.3; "
        "kill -TERM $p; wait $p; rc=$?; "
        "echo READY mnemonic=$mnemonic before=$before f10=$f10 shortcut=$shortcut rc=$rc";
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(std::vector<std::string> {"bash", "-c", script}, 90));
    EXPECT_EQ(run->value("mnemonic"), "1");
    EXPECT_EQ(run->value("before"), "0");
    EXPECT_EQ(run->value("f10"), "1"); // the first menu's popup
    EXPECT_EQ(run->value("shortcut"), "1");
    EXPECT_EQ(run->value("rc"), "0");
}

// Every dialog is as wide as its title under a window manager: the frame
// openbox draws shows the whole title beside its icon and buttons. Each
// frame is pictured in build/screenshots/Frame-<dialog>.png.
TEST(Desktop, DialogsAreAsWideAsTheirTitlesInAWindowManagersFrame)
{
    std::unique_ptr<TPeerProcess> openbox;
    ASSERT_NO_THROW(openbox = std::make_unique<TPeerProcess>(
                        std::vector<std::string> {"bash", "-c",
                                                  "openbox --sm-disable & "
                                                  "until xdotool get_desktop >/dev/null 2>&1; do sleep 0.1; done; "
                                                  "echo READY; wait"},
                        30));
    TScopedDataDir data;
    SetProgramSettingsFolder(data.dir().path() + "/settings");
    ResetProgramOptionsForTests();
    ResetSmsOptionsForTests();
    ResetSmsManagerForTests();
    ResetTranslitTable();
    TGroup group(false);
    group.SetName(U("Друзья"));
    TContact contact;
    contact.SetName(U("Анна"));
    std::vector<std::unique_ptr<QDialog>> dialogs;
    dialogs.push_back(NewTextDialog(QStringLiteral("Создание шаблона SMS"), QString(), QString()));
    dialogs.back()->setObjectName(QStringLiteral("TemplateTextDialog"));
    dialogs.push_back(NewMessageBox(QMessageBox::Information, QStringLiteral("Выгружено абонентов: 1."),
                                    QStringLiteral("Экспорт абонентов"), false));
    dialogs.back()->setObjectName(QStringLiteral("InfoBox"));
    dialogs.push_back(std::make_unique<TGroupEditor>(&group, false, nullptr));
    dialogs.push_back(std::make_unique<TContactEditor>(&contact, false, nullptr));
    dialogs.push_back(std::make_unique<TSendLaterDialog>(nullptr));
    dialogs.push_back(std::make_unique<TTranslitDlg>(nullptr));
    dialogs.push_back(std::make_unique<TAboutDialog>(nullptr));
    dialogs.push_back(std::make_unique<TSmsSenderSelector>(nullptr));
    dialogs.push_back(std::make_unique<TOptionsDlg>(nullptr));
    QDir().mkpath(QStringLiteral(VELOTEXT_SCREENSHOT_DIR));
    for (const auto& dialog : dialogs) {
        const std::string name = dialog->objectName().toStdString();
        WidenForTitle(dialog.get()); // as every dialog is run
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get())) << name;
        // Framed: the window manager's frame around the client area, as it
        // tells the X server (left, right, top, bottom).
        QList<int> extents;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                QProcess xprop;
                xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(dialog->winId()),
                                                      QStringLiteral("_NET_FRAME_EXTENTS")});
                xprop.waitForFinished();
                const QString out = QString::fromLatin1(xprop.readAllStandardOutput());
                extents.clear();
                for (const QString& n : out.section(QLatin1Char('='), 1).split(QLatin1Char(',')))
                    extents << n.trimmed().toInt();
                return extents.size() == 4 && extents[2] > 10;
            },
            10000))
            << name;
        QTest::qWait(200);
        const QRect client = dialog->geometry();
        const QRect frame = client.adjusted(-extents[0], -extents[2], extents[1], extents[3]);
        const int titleBar = extents[2];
        QGuiApplication::primaryScreen()
            ->grabWindow(0, frame.x(), frame.y(), frame.width(), titleBar + 40)
            .save(QStringLiteral(VELOTEXT_SCREENSHOT_DIR "/Frame-%1.png").arg(dialog->objectName()));
        // The title in bold, the icon and three buttons (each about as wide as
        // the bar is high) and a button's width of padding on either side.
        QFont bold = dialog->font();
        bold.setBold(true);
        const int needed = QFontMetrics(bold).horizontalAdvance(dialog->windowTitle()) + 6 * titleBar;
        EXPECT_GE(frame.width(), needed) << name << ": " << dialog->windowTitle().toStdString();
        dialog->hide();
    }
    ResetSmsManagerForTests();
    SetProgramSettingsFolder("");
}

} // namespace
