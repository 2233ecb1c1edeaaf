// "velotext history" from a shell shows what became of the messages gateways
// accepted (the state file beside the history), and --failed counts a message
// that was not delivered like a failure.
#include "model/DeliveryStatus.h"
#include "model/DataPaths.h"
#include "storage/DeliveryStatusFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace {

TEST(DeliveryStatusCommand, HistoryPrintsTheStateAndFailedIncludesNotDelivered)
{
    TTempDir home;
    std::filesystem::create_directories(home.file("config/Velotext"));
    std::filesystem::create_directories(home.file("data"));
    home.write("config/Velotext/Velotext.ini", "[Test]\nStarted=1\n");
    const std::string top(80, '='), rule(80, '-');
    auto record = [&](const char* to, const char* date) {
        return U(top + "\r\nДля: " + to + "\r\nДата: " + date + "\r\nСтатус: Сообщение отправлено.\r\n" + rule +
                 "\r\nВстреча в 15:00\r\n");
    };
    home.write("data/SmsHistory.txt", record("Анна Петрова (+7 (916) 123-45-03)", "07.12.2026 10:00:00") +
                                          record("Олег (8 903 555-00-01)", "07.12.2026 10:00:05") +
                                          record("Вера (+79003330003)", "07.12.2026 10:00:09"));
    TDeliveryBook book;
    auto accepted = [&](const char* name, const char* phone, const char* date) {
        TDeliveryEntry e;
        e.Name = U(name);
        e.Phone = phone;
        e.Date = date;
        e.QueryUrl = "http://127.0.0.1:9/status?id=1";
        e.AcceptedAt = LocalSeconds(MakeDateTime(2026, 12, 7, 10, 0, 0));
        return book.Add(e);
    };
    const auto anna = accepted("Анна Петрова", "+7 (916) 123-45-03", "07.12.2026 10:00:00");
    const auto oleg = accepted("Олег", "8 903 555-00-01", "07.12.2026 10:00:05");
    book.TakeDue(LocalSeconds(MakeDateTime(2026, 12, 7, 10, 1, 0)), DefaultDeliveryWaitSeconds);
    book.Answer(anna, TStatusAnswer::Delivered, "", 0);
    book.Answer(oleg, TStatusAnswer::NotDelivered, "absent subscriber", 0);
    SaveDeliveryBook(book, home.file("data/SmsHistory.delivery"));

    auto run = [&](const std::string& arguments, std::string& out) {
        const std::string line = "cd '" + home.path() + "' && env -u DISPLAY -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY " +
                                 "XDG_CONFIG_HOME='" + home.path() + "/config' '" + VELOTEXT_PROGRAM +
                                 "' --data-dir '" + home.file("data") + "' " + arguments + " >out 2>err";
        const int status = std::system(line.c_str());
        out = home.read("out");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string out;
    ASSERT_EQ(run("history", out), 0) << home.read("err");
    EXPECT_EQ(out, "07.12.2026 10:00:00\tАнна Петрова (+7 (916) 123-45-03)\tСтатус: Сообщение отправлено.; "
                   "Доставка: доставлено\tВстреча в 15:00\n"
                   "07.12.2026 10:00:05\tОлег (8 903 555-00-01)\tСтатус: Сообщение отправлено.; "
                   "Доставка: не доставлено: absent subscriber\tВстреча в 15:00\n"
                   "07.12.2026 10:00:09\tВера (+79003330003)\tСтатус: Сообщение отправлено.\tВстреча в 15:00\n");
    ASSERT_EQ(run("history --failed", out), 0);
    EXPECT_EQ(out, "07.12.2026 10:00:05\tОлег (8 903 555-00-01)\tСтатус: Сообщение отправлено.; "
                   "Доставка: не доставлено: absent subscriber\tВстреча в 15:00\n");
}

} // namespace
