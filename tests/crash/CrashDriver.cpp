// The program's main window as a user drives it, for the kill trials
// (tests/crash/kill_trials.py): it starts on a data folder like the program
// (creating 20 contacts behind one web gate the first time), logs what the
// start brought back from the queue's journal, starts a paused queue (what a
// user does after a restart), queues a new round of messages to all 20 when
// the queue is empty, and lets the queue work. The trials kill it with SIGKILL
// at random moments and check the files after each restart.
//   crash_driver --data-dir DIR --gate URL --log FILE --rounds N
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Text.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "ui/QuitOnClose.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"
#include "ui/main/MessageMemo.h"
#include "ui/main/SmsQueueForm.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QTimer>
#include <QToolButton>

#include <filesystem>

namespace {

QString LogPath;

void Log(const QString& line)
{
    QFile file(LogPath);
    if (file.open(QIODevice::Append)) {
        file.write((line + QLatin1Char('\n')).toUtf8());
        file.flush();
    }
}

int LoggedRounds()
{
    QFile file(LogPath);
    int rounds = 0;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            rounds += line.startsWith("queued ") ? 1 : 0;
    return rounds;
}

void PrepareDataFolder(const std::string& gate)
{
    ProgramOptions().Load();
    auto* sender = new TStdSmsSender;
    sender->SetName("Kannel");
    sender->GateType = TStdSmsSender::WebGateType;
    sender->WebGate = gate;
    SmsManager().AddSmsSender(sender);
    for (int i = 1; i <= 20; ++i) {
        auto* contact = new TContact;
        contact->SetName("Contact " + std::to_string(i));
        contact->PhoneNumber = "+7900000" + std::to_string(1000 + i);
        contact->SmsSender = sender;
        SmsManager().AddContact(contact);
    }
    const TProgramOptions& names = ProgramOptions();
    SmsManager().SaveSmsSenders(names.SmsGatesFileName);
    SmsManager().SaveAddressBook(names.AddressBookFileName);
    TSmsOptions options;
    options.MaxTryCount = 3;
    options.Save(names.OptionsFileName);
    ResetProgramOptionsForTests();
    ResetSmsOptionsForTests();
    ResetSmsManagerForTests();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velotext"));
    QApplication::setQuitOnLastWindowClosed(false);
    QCommandLineParser parser;
    parser.addOptions({{"data-dir", "data folder", "DIR"}, {"gate", "web gate", "URL"}, {"log", "log", "FILE"},
                       {"rounds", "rounds", "N"}});
    parser.process(app);
    const std::string dir = parser.value("data-dir").toStdString();
    LogPath = parser.value("log");
    const int rounds = parser.value("rounds").toInt();
    SetDataDir(dir);
    SetProgramSettingsFolder(dir + "/settings");
    RegisterIoClasses();
    ResetTranslitTable();
    EnsureDataDir();
    if (!std::filesystem::exists(dir + "/SmsAddressBook.ini"))
        PrepareDataFolder(parser.value("gate").toStdString());

    TUiScript answers; // the start's question about overdue messages: "Отправить"
    answers.Yes();
    TMainForm form;
    form.SetStartUpOnShow(true);
    TQuitOnClose quitOnClose;
    form.installEventFilter(&quitOnClose);
    form.show();
    if (!form.StartupState().Complete()) {
        Log("error " + QString::fromStdString(form.StartupState().ErrorText));
        return 3;
    }
    TSmsManager& manager = SmsManager();
    QStringList marked;
    for (int i = 0; i < manager.Queue.Count(); ++i)
        if (manager.Queue.Items(i)->Interrupted)
            marked << QString::fromStdString(manager.Queue.Items(i)->Contact->PhoneNumber + "|" +
                                             manager.Queue.Items(i)->Text);
    Log(QStringLiteral("start restored=%1 marked=%2").arg(form.StartupState().Restore.Restored).arg(marked.join(',')));
    // The user's word for what the start held (cut mid-attempt, due while closed): send them.
    for (int i = 0; i < manager.Queue.Count(); ++i)
        manager.Release(manager.Queue.Items(i));

    // Every 200 ms: an empty queue gets the next round, or the driver ends after the last.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (manager.Queue.Count() > 0 || manager.CurrentDelivery())
            return;
        const int done = LoggedRounds();
        if (done >= rounds) {
            Log("drained");
            form.close();
            return;
        }
        const std::string text = "round-" + std::to_string(done + 1) + "-" +
                                 std::to_string(QDateTime::currentMSecsSinceEpoch());
        manager.ClearRecipients();
        for (TContact* contact : manager.Contacts())
            manager.AddRecipientContact(contact);
        form.findChild<TMessageMemo*>("MessageMemo")->SetText(text);
        // The window's own send (it waits 16 s between sends: a restart ends that wait).
        if (!form.findChild<QAction*>("SendSmsAction")->isEnabled())
            return;
        form.findChild<QToolButton*>("SendButton")->click();
        Log(QStringLiteral("queued ") + QString::fromStdString(text));
    });
    poll.start(200);
    return QApplication::exec();
}
