// "velotext history" from a shell shows what became of the messages gateways
// accepted (the state file beside the history), and --failed counts a message
// that was not delivered like a failure.
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/DeliveryStatus.h"
#include "storage/DeliveryStatusFile.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/KannelPeer.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace {

// "velotext ARGUMENTS" on the folder's data, without a display; the exit code.
int RunProgram(const TTempDir& home, const std::string& arguments, std::string& out, std::string* err = nullptr)
{
    const std::string line = "cd '" + home.path() + "' && env -u DISPLAY -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY " +
                             "XDG_CONFIG_HOME='" + home.path() + "/config' '" + VELOTEXT_PROGRAM + "' --data-dir '" +
                             home.file("data") + "' " + arguments + " >out 2>err";
    const int status = std::system(line.c_str());
    out = home.read("out");
    if (err)
        *err = home.read("err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// "send --wait" against a real Kannel: its reports tell "доставлено" (exit 0);
// an operator whose reply names no id leaves the state unknown (exit 3).
TEST(DeliveryStatusCommand, SendWaitsForTheGatewaysWord)
{
    std::string error;
    std::unique_ptr<TPeerProcess> kannel = StartKannel(error);
    ASSERT_TRUE(kannel) << error;
    TTempDir home;
    std::filesystem::create_directories(home.file("config/Velotext"));
    std::filesystem::create_directories(home.file("data"));
    home.write("config/Velotext/Velotext.ini", "[Test]\nStarted=1\n");
    SetProgramSettingsFolder(home.file("config/Velotext"));
    SetDataDir(home.file("data"));
    RegisterIoClasses();
    ResetProgramOptionsForTests();
    ResetSmsOptionsForTests();
    ResetSmsManagerForTests();
    ProgramOptions().Load();
    auto gate = [&](const char* name) {
        auto* sender = new TStdSmsSender;
        sender->SetName(U(name));
        sender->GateType = TStdSmsSender::WebGateType;
        sender->WebGate = KannelWebGate(*kannel, "windows-1251");
        sender->ReplyOkPattern = "^0: Accepted";
        SmsManager().AddSmsSender(sender);
        return sender;
    };
    TStdSmsSender* reports = gate("Kannel");
    reports->DlrMask = 31;
    TStdSmsSender* noId = gate("Сервис");
    noId->StatusIdPattern = "id=(\\w+)";
    noId->StatusUrl = "http://127.0.0.1:9/status?id={id}";
    auto contact = [&](const char* name, const char* phone, TSmsSender* sender) {
        auto* c = new TContact;
        c->SetName(U(name));
        c->PhoneNumber = phone;
        c->SmsSender = sender;
        SmsManager().AddContact(c);
    };
    contact("Анна Петрова", "+7 (916) 123-45-03", reports);
    contact("Олег", "8 903 555-00-01", noId);
    const TProgramOptions& names = ProgramOptions();
    SmsManager().SaveSmsSenders(names.SmsGatesFileName);
    SmsManager().SaveAddressBook(names.AddressBookFileName);
    TSmsOptions options;
    options.DeliveryReportPort = FreePort();
    options.Save(names.OptionsFileName);
    ResetSmsManagerForTests();
    ResetSmsOptionsForTests();
    ResetProgramOptionsForTests();
    SetDataDir("");
    SetProgramSettingsFolder("");

    std::string out, err;
    EXPECT_EQ(RunProgram(home, "send --to 'анна петрова' --text 'Встреча в 15:00' --wait=30", out, &err), 0) << out << err;
    EXPECT_NE(out.find("Анна Петрова (+7 (916) 123-45-03): Доставка: доставлено"), std::string::npos) << out << err;
    EXPECT_EQ(KannelArrivedText(kannel->value("log"), "+79161234503"), "Встреча в 15:00");
    EXPECT_EQ(RunProgram(home, "send --to Олег --text 'Привет' --wait=30", out, &err), 3) << out << err;
    EXPECT_NE(err.find("Олег (8 903 555-00-01): Доставка: неизвестно"), std::string::npos) << err;
    EXPECT_EQ(RunProgram(home, "send --to Олег --text 'Привет' --wait=soon", out, &err), 2);
    EXPECT_NE(err.find("Время --wait указано неверно"), std::string::npos) << err;
    ASSERT_EQ(RunProgram(home, "history", out), 0);
    EXPECT_NE(out.find("Доставка: доставлено"), std::string::npos) << out;
}

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

    auto run = [&](const std::string& arguments, std::string& out) { return RunProgram(home, arguments, out); };
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
