// The import of 100,000 vCards through the real main window, offscreen, from
// the file chosen to the book on disk: the longest stall of the window's event
// loop over the whole import (reading, the preview, a change of the operator,
// OK, the save), and the time of each stage. Medians of 5 imports.
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

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

struct TRun {
    double ShownAt = 0, ReplanMs = 0, OkMs = 0, CommandMs = 0, SaveMs = 0;
    qint64 ReadStall = 0, Stall = 0, StallBeforeSave = 0;
    int Contacts = 0;
};

// One import of the file into an empty book through a fresh main window: the
// operator chosen in the preview (the plan made anew), OK, then the book saved
// as the window saves it right after an import.
TRun ImportOnce(const std::string& path, const std::string& bookPath)
{
    ResetSmsManagerForTests();
    auto* sender = new TStdSmsSender;
    sender->SetName("MTS");
    SmsManager().AddSmsSender(sender);
    TMainForm form;
    form.show();
    QApplication::processEvents();

    // The longest wait between two ticks of a 10 ms timer: how long the window did not answer.
    TRun run;
    QElapsedTimer sinceTick;
    bool reading = true;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 waited = sinceTick.restart();
        run.Stall = std::max(run.Stall, waited);
        if (reading)
            run.ReadStall = std::max(run.ReadStall, waited);
    });
    const auto start = TClock::now();
    TUiScript ui;
    ui.File(QString::fromStdString(path));
    ui.Dialog([&](QDialog& d) {
        reading = false;
        run.ShownAt = MsSince(start);
        auto* senders = d.findChild<QComboBox*>("SenderCombo");
        auto t = TClock::now();
        senders->setCurrentIndex(1);
        run.ReplanMs = MsSince(t);
        t = TClock::now();
        d.findChild<QPushButton*>("OkButton")->click();
        run.OkMs = MsSince(t);
    });
    sinceTick.start();
    ticker.start(10);
    form.findChild<QAction*>("ImportContactsAction")->trigger();
    run.CommandMs = MsSince(start);
    run.Stall = std::max(run.Stall, sinceTick.elapsed()); // the command's last stretch, after the last tick
    const auto t = TClock::now();
    SmsManager().SaveAddressBook(bookPath);
    run.SaveMs = MsSince(t);
    run.StallBeforeSave = run.Stall;
    run.Stall = std::max(run.Stall, static_cast<qint64>(run.SaveMs));
    run.Contacts = SmsManager().Contacts().Count();
    return run;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = 5;
    QTemporaryDir folder;
    SetDataDir(folder.path().toStdString());
    const std::string path = folder.filePath(QStringLiteral("cards.vcf")).toStdString();
    const std::string bookPath = folder.filePath(QStringLiteral("SmsAddressBook.ini")).toStdString();
    SaveFileSafely(path, MakeCards(count), 0, false);

    std::vector<double> shown, replan, ok, command, save, toDisk, stall, readStall, importStall;
    int contacts = 0;
    for (int i = 0; i < runs; ++i) {
        const TRun run = ImportOnce(path, bookPath);
        shown.push_back(run.ShownAt);
        replan.push_back(run.ReplanMs);
        ok.push_back(run.OkMs);
        command.push_back(run.CommandMs);
        save.push_back(run.SaveMs);
        toDisk.push_back(run.CommandMs + run.SaveMs);
        stall.push_back(static_cast<double>(run.Stall));
        readStall.push_back(static_cast<double>(run.ReadStall));
        importStall.push_back(static_cast<double>(run.StallBeforeSave));
        contacts = run.Contacts;
    }
    std::printf("%d vCards; contacts in the book afterwards: %d; median of %d runs\n", count, contacts, runs);
    std::printf("%-56s %9.1f ms\n", "file chosen -> preview shown (read + plan on a worker)", Median(shown));
    std::printf("%-56s %9.1f ms\n", "operator chosen (plan made anew on a worker)", Median(replan));
    std::printf("%-56s %9.1f ms\n", "OK (contacts added in slices)", Median(ok));
    std::printf("%-56s %9.1f ms\n", "whole import command", Median(command));
    std::printf("%-56s %9.1f ms\n", "book saved", Median(save));
    std::printf("%-56s %9.1f ms (goal: 2000 ms)\n", "file chosen -> book on disk", Median(toDisk));
    std::printf("%-56s %9.0f ms\n", "longest stall of the window while reading", Median(readStall));
    std::printf("%-56s %9.0f ms\n", "longest stall of the window, import without the save", Median(importStall));
    std::printf("%-56s %9.0f ms (goal: 50 ms; the save counted whole)\n", "longest stall of the window, whole import", Median(stall));
    return 0;
}
