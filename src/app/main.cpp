// The program entry: the Russian locale and Qt's Russian texts, the
// address-book classes and the transliteration defaults before any window;
// then one program per data folder (a later start hands its command line to
// the running one and ends), and the main window until it closes (it loads
// the program's data as it first shows and saves it as it closes). A signal
// or the desktop session's end closes it without a question.
#include "app/InstanceChannel.h"
#include "app/ShutdownSignals.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/Translit.h"
#include "ui/KeyringStore.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/QuitOnClose.h"
#include "ui/UiText.h"
#include "ui/main/MainForm.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QSessionManager>
#include <QTranslator>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {
// --data-dir DIR (or --data-dir=DIR) replaces the per-user data folder.
void ReadArguments(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data-dir") == 0 && i + 1 < argc)
            SetDataDir(argv[++i]);
        else if (std::strncmp(argv[i], "--data-dir=", 11) == 0)
            SetDataDir(argv[i] + 11);
    }
}

} // namespace

int main(int argc, char** argv)
{
    ReadArguments(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QApplication app(argc, argv);
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
        switch (channel.Start(QApplication::arguments().mid(1))) {
        case TInstanceChannel::TStart::HandedOver:
            if (!channel.Answer().Text.isEmpty())
                std::fputs(channel.Answer().Text.toLocal8Bit().constData(), stdout);
            return channel.Answer().ExitCode;
        case TInstanceChannel::TStart::Busy:
            ShowTopLevelError(FromQt(channel.BusyText()));
            return 1;
        case TInstanceChannel::TStart::First:
            break;
        }
        TShutdownSignals shutdownSignals;
        TKeyringStore keyring; // the passwords in the desktop keyring when there is one
        SetSecretStore(&keyring);
        TMainForm form;
        form.SetStartUpOnShow(true); // options, window placement and data files as it first shows
        TQuitOnClose quitOnClose;
        form.installEventFilter(&quitOnClose);
        channel.SetHandler([&form](const QStringList&) {
            form.ShowFromOutside();
            return TInstanceChannel::TAnswer {};
        });
        QObject::connect(&shutdownSignals, &TShutdownSignals::Received, &form, [&form] {
            form.CloseWithoutAsking();
            QCoreApplication::quit(); // also ends a modal loop the signal came in
        });
        // The session saves its state, then ends the program: no question either way.
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                         [&form](QSessionManager&) { form.SaveAllNow(); });
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, [&form] { form.CloseWithoutAsking(); });
        form.show();
        return QApplication::exec();
    } catch (...) {
        ShowTopLevelError(ExceptionMessage(std::current_exception()));
        return 1;
    }
}
