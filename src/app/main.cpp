// The program entry: the Russian locale and Qt's Russian texts, the
// address-book classes and the transliteration defaults before any window,
// then the main window until it closes (it loads the program's data as it
// first shows and saves it as it closes).
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/Translit.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/QuitOnClose.h"
#include "ui/main/MainForm.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

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
        TMainForm form;
        form.SetStartUpOnShow(true); // options, window placement and data files as it first shows
        TQuitOnClose quitOnClose;
        form.installEventFilter(&quitOnClose);
        form.show();
        return QApplication::exec();
    } catch (...) {
        ShowTopLevelError(ExceptionMessage(std::current_exception()));
        return 1;
    }
}
