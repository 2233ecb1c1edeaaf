// The history window with years of history: how soon the window runs, how
// long until every line is in, and the longest stretch without events while
// the lines are added. Run offscreen: QT_QPA_PLATFORM=offscreen.
//   bench_history [RECORDS]   (default 100,000 records, about 22 MB; 140,000 make 31 MB)
#include "model/DataPaths.h"
#include "model/SafeFile.h"
#include "model/SmsHistoryFile.h"
#include "model/SmsQueue.h"
#include "model/Text.h"
#include "ui/dialogs/SmsHistoryForm.h"

#include <QApplication>
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
    TContact contact;
    contact.SetName(Cp1251("Иван Петров"));
    contact.PhoneNumber = "+79120000000";
    for (int i = 0; i < records; ++i) {
        TSms sms(&contact, Cp1251("Привет, как дела? Сообщение номер ") + IntToStr(i));
        sms.Status = i % 10 ? SmsStatusSent : SmsStatusFailed;
        sms.ErrorText = Cp1251("Нет связи с сервером");
        text += TSmsHistoryFile::FormatRecord(sms);
    }
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
                std::printf("every record in after %.0f ms (%zu records); longest stretch without events %.0f ms\n",
                            now, form->Index().Complete(), longestGap);
                QCoreApplication::quit();
            }
    });
    QTimer::singleShot(0, [&] {
        last = ms();
        std::printf("window running after %.0f ms\n", last);
        tick.start();
    });
    TSmsHistoryForm form(history, nullptr);
    form.Fill();
    form.show();
    app.exec();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
