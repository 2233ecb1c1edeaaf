// The program entry: the command line read first (a command runs without
// any window on QCoreApplication, so it needs no display); the Russian locale
// and Qt's Russian texts, the address-book classes and the transliteration
// defaults before any window; then one program per data folder (a later
// start hands its command line to the running one and ends with its answer),
// and the main window until it closes (it loads the program's data as it
// first shows and saves it as it closes). A signal or the desktop session's
// end closes it without a question.
#include "app/CommandLine.h"
#include "app/Commands.h"
#include "app/InstanceChannel.h"
#include "app/ShutdownSignals.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SmsLink.h"
#include "model/Translit.h"
#include "ui/KeyringStore.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/QuitOnClose.h"
#include "ui/UiText.h"
#include "ui/DeliveryPoller.h"
#include "ui/main/MainForm.h"
#include "ui/main/SmsQueueForm.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QSessionManager>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <exception>
#include <functional>
#include <optional>

namespace {

void Print(FILE* stream, const QString& text) { PrintToTerminal(stream, text); }

void PrintAnswer(const TInstanceChannel::TAnswer& answer)
{
    if (!answer.Text.isEmpty())
        Print(answer.ExitCode == ExitOk ? stdout : stderr, answer.Text);
}

void UseDataDir(const TCommandLine& command)
{
    if (!command.DataDir.isEmpty())
        SetDataDir(QFile::encodeName(command.DataDir).toStdString());
}

// A refused command line may still be the window's, with Qt's own options
// ("-platform xcb"), which only QApplication takes out.
bool MayHoldQtOptions(const QStringList& arguments)
{
    for (const QString& a : arguments) {
        if (a == QLatin1String("send") || a == QLatin1String("queue") || a == QLatin1String("history"))
            return false;
    }
    for (const QString& a : arguments)
        if (a.size() > 1 && a[0] == QLatin1Char('-') && a[1].isLetter())
            return true;
    return false;
}

// Offers the command line to the program running on the data folder. Returns
// the exit code when this start ends here (handed over and answered, or the
// folder held by a program that does not answer, told through `busy`);
// nothing when this start is the first on the folder.
std::optional<int> HandOver(TInstanceChannel& channel, const TCommandLine& command,
                            const std::function<void(const QString&)>& busy)
{
    switch (channel.Start(command.ForHandOver())) {
    case TInstanceChannel::TStart::HandedOver:
        // A window start turned away (the folder busy with a command) is told where the user looks.
        if (command.Kind == TCommandLine::TKind::Window && channel.Answer().ExitCode != ExitOk)
            busy(channel.Answer().Text);
        else
            PrintAnswer(channel.Answer());
        return channel.Answer().ExitCode;
    case TInstanceChannel::TStart::Busy:
        busy(channel.BusyText());
        return ExitFailed;
    case TInstanceChannel::TStart::First:
        break;
    }
    return std::nullopt;
}

// send, queue or history: handed to the program running on the data folder,
// or else run here alone.
int RunCommand(int argc, char** argv, TCommandLine command)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Velotext"));
    try {
        // A command works on the data of that folder: a folder that is not
        // there (a typo, most likely) is not created empty to say "nobody".
        if (!command.DataDir.isEmpty() && !QFileInfo(command.DataDir).isDir()) {
            Print(stderr, QStringLiteral("Папка данных %1 не найдена.").arg(command.DataDir));
            return ExitBadUsage;
        }
        UseDataDir(command);
        RegisterIoClasses();
        ResetTranslitTable();
        EnsureDataDir();
        if (command.Kind == TCommandLine::TKind::Send && (command.TextFromStdin || !command.TextFile.isEmpty()) &&
            !command.ReadText()) {
            Print(stderr, command.Error);
            return ExitBadUsage;
        }
        TInstanceChannel channel(QFile::decodeName(QByteArray::fromStdString(DataDir())));
        if (const std::optional<int> code = HandOver(channel, command, [](const QString& text) { Print(stderr, text); }))
            return *code;
        if (!channel.ListenProblem().isEmpty())
            Print(stderr, channel.ListenProblem());
        // Another start meanwhile (the window, a command) is turned away with the reason.
        channel.SetHandler([](const QStringList& handed) {
            if (ParseCommandLine(handed).Kind == TCommandLine::TKind::Window)
                return TInstanceChannel::TAnswer {
                    ExitFailed, QStringLiteral("Сейчас с этой папкой данных работает команда, запущенная из командной "
                                               "строки (например, отправка SMS). Окно программы откроется, когда она "
                                               "закончит: запустите программу ещё раз немного позже.")};
            return TInstanceChannel::TAnswer {ExitFailed, QStringLiteral("Папка данных занята командой, запущенной из "
                                                                         "командной строки: команда не выполнена, "
                                                                         "повторите её позже.")};
        });
        // A send reads the passwords where the window does: the keyring when there is one.
        TKeyringStore keyring;
        if (command.Kind == TCommandLine::TKind::Send)
            SetSecretStore(&keyring);
        const int code = RunHeadless(command);
        SetSecretStore(nullptr);
        return code;
    } catch (...) {
        Print(stderr, ToQt(ExceptionMessage(std::current_exception())));
        return ExitFailed;
    }
}

// A command line handed over by a later start, answered by the running window.
TInstanceChannel::TAnswer AnswerHandedOver(TMainForm& form, const TCommandLine& command)
{
    switch (command.Kind) {
    case TCommandLine::TKind::Window:
        form.ShowFromOutside();
        for (const QString& text : command.Links) {
            TSmsLink link;
            ParseSmsLink(text.toStdString(), link); // one that names no number says why in the window
            // the modal editor must not hold the answer back
            QTimer::singleShot(0, &form, [&form, link] { Guard([&] { form.OpenSmsLink(link); }); });
        }
        return {};
    case TCommandLine::TKind::Help:
        return {ExitOk, HelpText()};
    case TCommandLine::TKind::Error:
        return {ExitBadUsage, command.Error};
    default:
        break;
    }
    if (!form.StartupState().Complete())
        return {ExitFailed, QStringLiteral("Программа не загрузила свои данные: команда не выполнена.")};
    try {
        TCommandResult result = command.Kind == TCommandLine::TKind::Send    ? QueueFromCommandLine(command)
                                : command.Kind == TCommandLine::TKind::Queue ? ListQueue()
                                                                             : ListHistory(command);
        if (command.Kind == TCommandLine::TKind::Send && result.ExitCode == ExitOk) {
            form.RefreshAfterCommand(result.ContactsAdded);
            // Queued, but not going now: the start says so and why.
            result.Text += QueuedWaitNote(result.Queued, form.SmsQueueForm() && form.SmsQueueForm()->Paused());
        }
        return {result.ExitCode, result.Text};
    } catch (...) {
        return {ExitFailed, ToQt(ExceptionMessage(std::current_exception()))};
    }
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    TCommandLine command = ParseCommandLine(arguments);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    if (command.Kind == TCommandLine::TKind::Help) {
        Print(stdout, HelpText());
        return ExitOk;
    }
    if (command.IsCommand())
        return RunCommand(argc, argv, std::move(command));
    if (command.Kind == TCommandLine::TKind::Error && !MayHoldQtOptions(arguments)) {
        Print(stderr, command.Error);
        return ExitBadUsage;
    }
    UseDataDir(command);
    // With the data folder known, its operators and address book are read
    // while Qt starts and the main window is built. (Qt's own options may
    // still name another folder: then the reading waits for them.)
    TStartupLoad startup;
    if (command.Kind == TCommandLine::TKind::Window) {
        try {
            RegisterIoClasses();
            EnsureDataDir();
            startup.Begin();
        } catch (...) {
            // Reported below, once there is a window to say it in.
        }
    }
    QApplication app(argc, argv);
    if (command.Kind == TCommandLine::TKind::Error) { // again without Qt's options
        command = ParseCommandLine(QApplication::arguments().mid(1));
        if (command.Kind != TCommandLine::TKind::Window) {
            Print(stderr, command.Kind == TCommandLine::TKind::Error ? command.Error
                                                                     : QStringLiteral("Неверные параметры."));
            return ExitBadUsage;
        }
        UseDataDir(command);
    }
    // Only the name: a display name would be appended to every window title.
    QApplication::setApplicationName(QStringLiteral("Velotext"));
    QApplication::setQuitOnLastWindowClosed(false);
    QTranslator qtTexts; // file dialogs, standard buttons, edit menus in Russian
    if (qtTexts.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    try {
        RegisterIoClasses();
        ResetTranslitTable();
        EnsureDataDir();
        TInstanceChannel channel(QFile::decodeName(QByteArray::fromStdString(DataDir())));
        if (const std::optional<int> code =
                HandOver(channel, command, [](const QString& text) { ShowTopLevelError(FromQt(text)); }))
            return *code;
        if (!startup.Begun())
            startup.Begin();
        TShutdownSignals shutdownSignals;
        TKeyringStore keyring; // the passwords in the desktop keyring when there is one
        SetSecretStore(&keyring);
        TMainForm form;
        form.SetStartUpOnShow(true); // options, window placement and data files as it first shows
        form.SetStartupLoad(&startup);
        TQuitOnClose quitOnClose;
        form.installEventFilter(&quitOnClose);
        TDeliveryPoller deliveryPoller; // what became of the messages gateways accepted
        QObject::connect(&deliveryPoller, &TDeliveryPoller::NotDelivered, &form,
                         [&form](const QStringList& lines) { Guard([&] { form.CountNotDelivered(lines); }); });
        channel.SetHandler([&form](const QStringList& handed) { return AnswerHandedOver(form, ParseCommandLine(handed)); });
        // A start during the close waits for this program to end, then starts on its own.
        QObject::connect(&form, &TMainForm::ClosingStarted, &channel, [&channel] { channel.SetClosing(); });
        QObject::connect(&shutdownSignals, &TShutdownSignals::Received, &form, [&form, &channel] {
            channel.SetClosing(); // also when the window has not been shown yet
            form.CloseWithoutAsking();
            QCoreApplication::quit(); // also ends a modal loop the signal came in
        });
        // The session saves its state, then ends the program: no question either way.
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                         [&form](QSessionManager&) { form.SaveAllNow(); });
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, [&form] { form.CloseWithoutAsking(); });
        form.show();
        if (const QString problem = channel.ListenProblem(); !problem.isEmpty())
            QTimer::singleShot(0, &form, [problem] { ShowErrorBox(problem, QStringLiteral("Канал для команд")); });
        for (const QString& text : command.Links) {
            TSmsLink link;
            ParseSmsLink(text.toStdString(), link); // one that names no number says why in the window
            QTimer::singleShot(0, &form, [&form, link] { Guard([&] { form.OpenSmsLink(link); }); });
        }
        return QApplication::exec();
    } catch (...) {
        ShowTopLevelError(ExceptionMessage(std::current_exception()));
        return 1;
    }
}
