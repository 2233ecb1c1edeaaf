// The import of 100,000 vCards through the real main window, offscreen: the
// longest stall of the window's event loop while the file is read, the
// preview's construction (the blocking part of the import), a change of the operator (the plan made anew), OK
// (the contacts added), and the panes refilled afterwards.
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "model/DataPaths.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "ui/dialogs/ContactImportDialog.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

std::string MakeCards(int count)
{
    const char* first[] = {"Иван", "Мария", "Пётр", "Анна", "Сергей", "Ольга", "Дмитрий", "Елена"};
    std::string out;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(1000000 + i);
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + std::string(first[i % 8]) + " " + std::to_string(i) +
               "\r\nTEL;TYPE=WORK:+7 (495) " + n + "\r\nTEL;TYPE=CELL:+7 903 " + n + "\r\nCATEGORIES:Коллеги\r\nEND:VCARD\r\n";
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir folder;
    SetDataDir(folder.path().toStdString());
    auto* sender = new TStdSmsSender;
    sender->SetName("MTS");
    SmsManager().AddSmsSender(sender);
    const std::string path = folder.filePath(QStringLiteral("cards.vcf")).toStdString();
    SaveFileSafely(path, MakeCards(count), 0, false);

    TMainForm form;
    form.show();
    QApplication::processEvents();

    // The preview alone, on the window's thread: the plan and the table model.
    double buildMs = 0;
    {
        TImportSource source = ReadContactFile(path);
        const auto t = TClock::now();
        TContactImportDialog preview(std::move(source), &form);
        buildMs = MsSince(t);
    }

    // The longest wait between two ticks of a 10 ms timer: how long the window did not answer.
    QElapsedTimer sinceTick;
    qint64 longestStall = 0;
    bool reading = true;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (reading)
            longestStall = std::max(longestStall, sinceTick.restart());
    });

    double shownAt = 0, replanMs = 0, okMs = 0;
    const auto start = TClock::now();
    TUiScript ui;
    ui.File(QString::fromStdString(path));
    ui.Dialog([&](QDialog& d) {
        reading = false;
        shownAt = MsSince(start);
        auto* senders = d.findChild<QComboBox*>("SenderCombo");
        auto t = TClock::now();
        senders->setCurrentIndex(1);
        replanMs = MsSince(t);
        t = TClock::now();
        d.findChild<QPushButton*>("OkButton")->click();
        okMs = MsSince(t);
    });
    sinceTick.start();
    ticker.start(10);
    const auto trigger = TClock::now();
    form.findChild<QAction*>("ImportContactsAction")->trigger();
    const double totalMs = MsSince(trigger);
    auto t = TClock::now();
    QApplication::processEvents();
    form.repaint();
    const double repaintMs = MsSince(t);

    std::printf("%d vCards; contacts in the book afterwards: %d\n", count, SmsManager().Contacts().Count());
    std::printf("%-52s %9.1f ms\n", "file chosen -> preview shown (read on a worker)", shownAt);
    std::printf("%-52s %9lld ms\n", "longest stall of the window while reading", static_cast<long long>(longestStall));
    std::printf("%-52s %9.1f ms\n", "preview built (plan + table) on the window's thread", buildMs);
    std::printf("%-52s %9.1f ms\n", "operator chosen (plan made anew)", replanMs);
    std::printf("%-52s %9.1f ms\n", "OK (contacts added and grouped)", okMs);
    std::printf("%-52s %9.1f ms\n", "whole import command", totalMs);
    std::printf("%-52s %9.1f ms\n", "main window events + repaint afterwards", repaintMs);
    return 0;
}
