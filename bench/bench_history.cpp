// The history window with years of history: how soon the window runs, how
// long until every line is in, and the longest stretch without events while
// the lines are added. Run offscreen: QT_QPA_PLATFORM=offscreen.
//   bench_history [RECORDS]   (default 100,000 records, about 23 MB)
#include "model/DataPaths.h"
#include "model/SafeFile.h"
#include "model/SmsHistoryFile.h"
#include "model/Text.h"
#include "ui/dialogs/SmsHistoryForm.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    char folder[] = "/tmp/velotext-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    SetDataDir(folder);
    std::string text;
    for (int i = 0; i < records; ++i)
        text += Cp1251("\r\nДата: 01.02.2026 10:00:00\r\nКому: Иван Петров (+79120000000)\r\nОператор: Оператор 1\r\n"
                       "Статус: Доставлено\r\n") +
                std::string(80, '-') + Cp1251("\r\nПривет, как дела? Сообщение номер ") + IntToStr(i) + "\r\n";
    SaveFileSafely(ResolveDataFilePath("SmsHistory.txt"), text);
    std::printf("history: %d records, %zu bytes\n", records, text.size());

    TSmsHistoryFile history("SmsHistory.txt");
    const auto start = std::chrono::steady_clock::now();
    const auto ms = [&] { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(); };
    double longestGap = 0, last = 0;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = ms();
        longestGap = std::max(longestGap, now - last);
        last = now;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* form = qobject_cast<TSmsHistoryForm*>(w); form && form->isVisible() && !form->Filling()) {
                std::printf("every line in after %.0f ms (%d lines); longest stretch without events %.0f ms\n", now,
                            form->findChild<QPlainTextEdit*>()->blockCount(), longestGap);
                form->reject();
            }
    });
    QTimer::singleShot(0, [&] {
        last = ms();
        std::printf("window running after %.0f ms\n", last);
        tick.start();
    });
    TSmsHistoryForm::Execute(history, nullptr);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
