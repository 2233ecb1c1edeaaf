#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/Text.h"
#include "ui/UiText.h"
#include "ui/main/MainForm.h"

#include <QApplication>
#include <QLocale>
#include <QMessageBox>

#include <cstring>
#include <iostream>

int main(int argc, char** argv)
{
    // --data-dir DIR replaces the per-user data folder (portable use, tests).
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data-dir") == 0 && i + 1 < argc)
            SetDataDir(argv[++i]);
        else if (std::strncmp(argv[i], "--data-dir=", 11) == 0)
            SetDataDir(argv[i] + 11);
    }
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velotext");
    QApplication::setApplicationDisplayName("Velotext");
    try {
        EnsureDataDir();
    } catch (const TError& e) {
        QMessageBox::critical(nullptr, "Velotext", ToQt(Trim(e.message())));
        return 1;
    }
    TMainForm form;
    form.show();
    return QApplication::exec();
}
