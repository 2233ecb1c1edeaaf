// The program entry: the Russian locale and Qt's Russian texts, the
// address-book classes and the transliteration defaults before any window;
// the start-up loading with the window placement, the main window until it
// closes, then the shut-down save.
#include "engine/Startup.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/Translit.h"
#include "ui/dialogs/SmsSendersForm.h"
#include "ui/dialogs/SmsTemplatesForm.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/QuitOnClose.h"
#include "ui/WindowPlacement.h"
#include "ui/main/MainForm.h"
#include "ui/main/SmsQueueForm.h"

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
        TPlacedWidget mainPlacement(&form, "MainForm", true);
        TSmsQueueForm* queue = nullptr;
        // Placing the queue window creates it, and its send timer runs from then on.
        const TStartupState state = LoadProgramData([&] {
            ProgramOptions().RestoreWindow(mainPlacement);
            ProgramOptions().RestoreWindow(*TSmsTemplatesForm::Instance(&form));
            ProgramOptions().RestoreWindow(*TSmsSendersForm::Instance(&form));
            queue = new TSmsQueueForm(&form);
            ProgramOptions().RestoreWindow(*queue);
        });
        if (!state.Complete()) {
            // Nothing is written back: a file whose load failed keeps what it holds.
            ShowErrorBox(QStringLiteral("Критическая ошибка:\r\r") + ToQt(Trim(state.ErrorText)) +
                             QStringLiteral("\r\rДействие не может быть выполнено."),
                         QStringLiteral("Ошибка"));
            return 1;
        }
        // An operators window restored as visible was filled before the operators were read.
        TSmsSendersForm::RefillIfVisible();
        form.FillGroups(); // the address-book panes, the first group selected
        TQuitOnClose quitOnClose;
        form.installEventFilter(&quitOnClose);
        form.show();
        const int result = QApplication::exec();

        // The delivery out ends (cancelled, its outcome recorded) before anything is saved.
        queue->StopDelivery();
        Guard([&] {
            SaveProgramData(state, [&] {
                ProgramOptions().SaveWindow(mainPlacement);
                ProgramOptions().SaveWindow(*TSmsTemplatesForm::Instance(&form));
                ProgramOptions().SaveWindow(*TSmsSendersForm::Instance(&form));
                ProgramOptions().SaveWindow(*queue);
            });
        });
        return result;
    } catch (...) {
        ShowTopLevelError(ExceptionMessage(std::current_exception()));
        return 1;
    }
}
