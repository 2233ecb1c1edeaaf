// The history window's filter over a long history: the time from a keystroke
// in the search field to the list showing the matches (the filter over every
// record and the list's reset), and the filter alone. Run offscreen:
//   QT_QPA_PLATFORM=offscreen bench_history_filter [RECORDS]   (default 100,000)
#include "model/DataPaths.h"
#include "model/SafeFile.h"
#include "model/SmsHistoryFile.h"
#include "model/SmsHistoryIndex.h"
#include "model/SmsQueue.h"
#include "model/Text.h"
#include "ui/dialogs/SmsHistoryForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

double Ms(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

void Report(const char* what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("%-46s median %6.2f ms  max %6.2f ms  (%zu keystrokes)\n", what, times[times.size() / 2], times.back(),
                times.size());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    char folder[] = "/tmp/velotext-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    SetDataDir(folder);
    const char* names[] = {"Иван Петров", "Анна Сидорова", "Борис Ким", "Вера Павлова", "Глеб Орлов"};
    std::string text;
    for (int i = 0; i < records; ++i) {
        TContact contact;
        contact.SetName(Cp1251(names[i % 5]) + " " + IntToStr(i % 997));
        contact.PhoneNumber = "+7912" + IntToStr(1000000 + i % 997);
        TSms sms(&contact, Cp1251("Привет, как дела? Встречаемся у метро в семь, сообщение ") + IntToStr(i));
        sms.Status = i % 10 ? SmsStatusSent : SmsStatusFailed;
        sms.ErrorText = Cp1251("Нет связи с сервером\rсервер не отвечает");
        text += TSmsHistoryFile::FormatRecord(sms);
    }
    SaveFileSafely(ResolveDataFilePath("SmsHistory.txt"), text);
    std::printf("history: %d records, %zu bytes\n", records, text.size());

    TSmsHistoryFile history("SmsHistory.txt");
    TSmsHistoryForm form(history, nullptr);
    form.resize(900, 560);
    form.show();
    form.Fill();
    while (form.Filling())
        QCoreApplication::processEvents();

    auto* search = form.findChild<QLineEdit*>("SearchEdit");
    // A name typed on (fewer records with each key), and a text that every
    // record holds (the list keeps all 100,000 rows at each key).
    for (const QString& typed : {QStringLiteral("анна сидорова 12"), QStringLiteral("встречаемся у метро")}) {
        std::vector<double> window, model;
        for (int round = 0; round < 3; ++round) {
            search->clear();
            QCoreApplication::processEvents();
            for (int i = 1; i <= typed.size(); ++i) {
                const auto start = std::chrono::steady_clock::now();
                search->setText(typed.left(i)); // textChanged: filter and list, as a keystroke does
                QCoreApplication::processEvents(); // the list lays out and paints
                window.push_back(Ms(start));
            }
        }
        std::printf("typing \"%s\" (%zu shown at the end):\n", typed.toUtf8().constData(), form.Shown().size());
        Report("  keystroke in the window (filter + list):", window);
        TSmsHistoryFilter filter;
        for (int i = 1; i <= typed.size(); ++i) {
            filter.Search = Utf8ToCp1251(typed.left(i).toStdString());
            const auto start = std::chrono::steady_clock::now();
            const std::vector<int> rows = filter.Apply(form.Index().Records(), form.Index().Complete());
            model.push_back(Ms(start));
        }
        Report("  full scan (TSmsHistoryFilter::Apply):", model);
    }
    form.findChild<QCheckBox*>("FailedOnlyCheckBox")->click();
    std::printf("shown with the text and failures only: %zu\n", form.Shown().size());

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
