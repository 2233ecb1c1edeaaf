// The real program from a shell: "send" without a running program and without
// a display (delivered through Kannel, the history written, the exit codes),
// "send" handed to a running program under Xvfb, refused command lines, and
// an "sms:" link opening the composer.
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/KannelPeer.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace {

const char* const kAnna = "+79001110001";
const char* const kVera = "+79003330003";

std::string Program()
{
    const char* other = std::getenv("VELOTEXT_TEST_PROGRAM");
    return "'" + std::string(other && *other ? other : VELOTEXT_PROGRAM) + "'";
}

struct TRun {
    int Code = -1;
    std::string Out, Err;
};

class CommandLine : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Kannel = StartKannel(StartError); }
    static void TearDownTestSuite() { Kannel.reset(); }

    // A data folder with operators (Kannel, Kannel with a wrong password), three
    // contacts, a group, two attempts per message, and a message left queued
    // by an earlier run (the journal) to a contact that must not get it.
    void SetUp() override
    {
        ASSERT_TRUE(Kannel) << StartError;
        std::filesystem::create_directories(Home.file("config/Velotext"));
        std::filesystem::create_directories(Home.file("data"));
        Home.write("config/Velotext/Velotext.ini", "[Test]\nStarted=1\n");
        SetProgramSettingsFolder(Home.file("config/Velotext"));
        SetDataDir(Home.file("data"));
        RegisterIoClasses();
        ResetTranslitTable();
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        ProgramOptions().Load();
        auto gate = [&](const char* name, const std::string& password) {
            auto* sender = new TStdSmsSender;
            sender->SetName(U(name));
            sender->GateType = TStdSmsSender::WebGateType;
            sender->Charset = "CP1251";
            sender->WebGate = KannelWebGate(*Kannel, "windows-1251", password);
            SmsManager().AddSmsSender(sender);
            return sender;
        };
        TSmsSender* web = gate("Kannel", "");
        TSmsSender* wrong = gate("Чужой", "wrong");
        auto contact = [&](const char* name, const char* phone, TSmsSender* sender) {
            auto* c = new TContact;
            c->SetName(U(name));
            c->PhoneNumber = phone;
            c->SmsSender = sender;
            SmsManager().AddContact(c);
            return c;
        };
        auto* friends = new TGroup(false);
        friends->SetName(U("Друзья"));
        SmsManager().AddGroup(friends);
        SmsManager().AddContactToGroup(contact("Анна Петрова", kAnna, web), friends);
        contact("Вера", kVera, wrong);
        TContact* gleb = contact("Глеб", "8 (900) 444-00-04", web);
        contact("Дина", "9161234501", web); // ten digits, as the editor's hint asks
        auto* mail = new TStdSmsSender; // an e-mail gate whose relay is not set: a failure of several lines
        mail->SetName(U("Почта"));
        mail->GateType = TStdSmsSender::EmailGateType;
        mail->EmailGate = "{phone}@sms.test";
        SmsManager().AddSmsSender(mail);
        contact("Почтальон", "+7 900 777-00-07", mail);
        const TProgramOptions& names = ProgramOptions();
        SmsManager().SaveSmsSenders(names.SmsGatesFileName);
        SmsManager().SaveAddressBook(names.AddressBookFileName);
        TSmsOptions options;
        options.MaxTryCount = 2;
        options.Save(names.OptionsFileName);
        Home.write("data/SmsQueue.journal", "VELOTEXT-QUEUE 1\n+\t7\t20261201100000\t0\t0\t" +
                                                std::to_string(gleb->ContactId()) + "\t" +
                                                std::to_string(web->SenderId()) + "\t" + U("Глеб") +
                                                "\t8 (900) 444-00-04\t" + U("Старое сообщение") + "\n");
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
    }
    void TearDown() override
    {
        SetDataDir("");
        SetProgramSettingsFolder("");
    }

    // The shell words that start the program on the data folder.
    std::string Start() const
    {
        return "XDG_CONFIG_HOME='" + Home.path() + "/config' " + Program() + " --data-dir '" + Home.file("data") + "'";
    }
    // The program run with these (shell-quoted) arguments, without a display.
    TRun Command(const std::string& arguments, const std::string& input = "") const
    {
        Home.write("in", input);
        TRun run;
        const std::string line = "cd '" + Home.path() + "' && env -u DISPLAY -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY " +
                                 Start() + " " + arguments + " <in >out 2>err";
        const int status = std::system(line.c_str());
        run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.Out = Home.read("out");
        run.Err = Home.read("err");
        return run;
    }
    std::string History() const { return Cp1251ToUtf8(Home.read("data/SmsHistory.txt")); }

    static constexpr const char* WaitWindow = "xdotool search --sync --onlyvisible --name '^Velotext' | head -1";
    // The window of the program started as $a (not one another test left behind), a minute at most.
    static constexpr const char* OwnWindow =
        "timeout 60 xdotool search --all --sync --onlyvisible --pid $a --name '^Velotext' | head -1";
    static inline std::unique_ptr<TPeerProcess> Kannel;
    static inline std::string StartError;
    TTempDir Home;
};

TEST_F(CommandLine, HeadlessSendDeliversOnlyItsMessagesRecordsThemAndSaysHowItWent)
{
    TRun run = Command("send --group 'друзья' --text 'Привет из скрипта'");
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Out.find("В очереди: Анна Петрова (+79001110001)"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("Отправлено: Анна Петрова"), std::string::npos) << run.Out;
    EXPECT_EQ(KannelArrivedText(Kannel->value("log"), kAnna), "Привет из скрипта");
    EXPECT_NE(History().find("Привет из скрипта"), std::string::npos);
    // The message an earlier run left queued stays queued, untouched.
    EXPECT_EQ(History().find("Старое сообщение"), std::string::npos);
    run = Command("queue");
    EXPECT_EQ(run.Code, 0);
    EXPECT_NE(run.Out.find("Глеб (8 (900) 444-00-04)\tпопыток: 0\tСтарое сообщение"), std::string::npos) << run.Out;

    // A gateway that refuses: both attempts fail, exit 1, the failure in the history.
    run = Command("send --to 'ВЕРА' -", "Не дойдёт\n");
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("Не отправлено: Вера"), std::string::npos) << run.Err;
    EXPECT_NE(History().find("Ошибка: "), std::string::npos);

    // A number no contact has, with its operator: a new contact, delivered; a
    // number written another way finds its contact.
    Home.write("text.txt", "Из файла\n");
    run = Command("send --to +79005550005 --operator kannel --to 89004440004 --text-file text.txt");
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(KannelArrivedText(Kannel->value("log"), "+79005550005"), "Из файла");
    EXPECT_NE(Home.read("data/SmsAddressBook.ini").find("+79005550005"), std::string::npos);
    EXPECT_NE(run.Out.find("В очереди: Глеб (8 (900) 444-00-04)"), std::string::npos) << run.Out;

    run = Command("history --failed --csv");
    EXPECT_EQ(run.Code, 0);
    EXPECT_NE(run.Out.find("Вера (+79003330003)"), std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.find("Анна"), std::string::npos) << run.Out;
}

// "{name}" and "{phone}" are filled in for each addressee; a number no contact
// had becomes a contact named by the number, so its "{name}" is the number.
TEST_F(CommandLine, SendFillsInEachAddresseesNameAndPhone)
{
    const TRun run = Command("send --to 'анна петрова' --to +79005550006 --operator Kannel "
                             "--text 'Привет, {name}! Ваш номер {phone}. {NAME} {year}'");
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(KannelArrivedText(Kannel->value("log"), "+79005550006"),
              "Привет, +79005550006! Ваш номер +79005550006. {NAME} {year}");
    // Anna's gateway log holds earlier tests' messages too: her text is read in the history.
    EXPECT_NE(History().find("Привет, Анна Петрова! Ваш номер +79001110001. {NAME} {year}"), std::string::npos)
        << History();
}

// An error of several lines is one failure, shown on one line; a sent
// message's status keeps its word.
TEST_F(CommandLine, HistoryShowsAnErrorOfSeveralLinesAsOneFailure)
{
    const std::string top(80, '='), rule(80, '-');
    Home.write("data/SmsHistory.txt",
               U(top + "\r\nДля: Вера (+79003330003)\r\nДата: 05.12.2026 10:00:00\r\nОшибка: 403 Forbidden\r\n"
                       "Шлюз ответил: нет доступа\r\n" + rule + "\r\nТекст один\r\n" +
                 top + "\r\nДля: Глеб (8 (900) 444-00-04)\r\nДата: 06.12.2026 11:30:00\r\nСтатус: Сообщение отправлено.\r\n" +
                 rule + "\r\nТекст, два\r\n"));
    TRun run = Command("history --failed");
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out, "05.12.2026 10:00:00\tВера (+79003330003)\tОшибка: 403 Forbidden; Шлюз ответил: нет доступа\t"
                       "Текст один\n");
    run = Command("history --since 06.12.2026 --csv");
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out, "Дата,Кому,Статус,Текст\n06.12.2026 11:30:00,Глеб (8 (900) 444-00-04),Статус: Сообщение "
                       "отправлено.,\"Текст, два\"\n");
}

TEST_F(CommandLine, BadArgumentsExitTwoWithTheReasonInRussian)
{
    const struct {
        const char* Arguments;
        const char* Reason;
    } cases[] = {
        {"send --text x", "Не указан ни один адресат"},
        {"send --to Никто --text x", "Нет абонента «Никто»"},
        {"send --to 4951234567 --text x", "укажите его оператора"},
        {"send --to 4951234567 --operator Нет --text x", "Нет оператора «Нет»"},
        {"send --group Враги --text x", "Нет группы «Враги»"},
        {"send --to 4951234567 --operator Kannel --group Враги --text x", "Нет группы «Враги»"}, // no contact added
        {"send --to Вера --text '   '", "Не указан текст сообщения"},
        {"send --to Вера", "Не указан текст сообщения"},
        {"send --to Вера --text x --bogus", "Неизвестный параметр: bogus"},
        {"send --to", "Не указано значение параметра"},
        {"history --since 31.13.2026", "Неверная дата"},
        {"queue --csv", "только с командой history"},
        {"frobnicate", "Неизвестная команда: frobnicate"},
        {"send --to Вера --later завтра --text x", "Время --later указано неверно"},
        {"send --to Вера --later '01.01.2001 09:00' --text x", "Время отправки уже прошло"},
    };
    const std::string book = Home.read("data/SmsAddressBook.ini");
    for (const auto& c : cases) {
        const TRun run = Command(c.Arguments);
        EXPECT_EQ(run.Code, 2) << c.Arguments;
        EXPECT_NE(run.Err.find(c.Reason), std::string::npos) << c.Arguments << ": " << run.Err;
        EXPECT_EQ(run.Out, "") << c.Arguments;
    }
    EXPECT_EQ(Home.read("data/SmsAddressBook.ini"), book);
    // A send for later with no program running only queues: the queue shows when it goes.
    const TRun later = Command("send --to Вера --later '31.12.2099 09:00' --text 'С Новым годом'");
    EXPECT_EQ(later.Code, 0) << later.Err;
    EXPECT_NE(Command("queue").Out.find("С Новым годом"), std::string::npos);
    EXPECT_NE(Home.read("data/SmsQueue.journal").find("T\t"), std::string::npos);
    const TRun help = Command("--help");
    EXPECT_EQ(help.Code, 0);
    EXPECT_NE(help.Out.find("velotext [--data-dir ПАПКА] send (--to ИМЯ|ТЕЛЕФОН)"), std::string::npos);
}

// A contact stored with formatting gets each message once, at its digits; a
// number written another way (+7 before the ten digits) finds its contact.
TEST_F(CommandLine, NumbersReachTheGatewayAsNumbersAndFindTheirContacts)
{
    const std::string log = Kannel->value("log");
    size_t before = KannelArrivedPhones(log).size();
    TRun run = Command("send --to Глеб --text 'Номер с пробелами и скобками'");
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(KannelPhonesAfter(log, before, 1), std::vector<std::string> {"89004440004"});
    EXPECT_NE(Home.read("data/SmsAddressBook.ini").find("8 (900) 444-00-04"), std::string::npos); // kept as typed

    before = KannelArrivedPhones(log).size();
    run = Command("send --to +79161234501 --text 'Дине'");
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out.find("В очереди: Дина (9161234501)"), 0u) << run.Out;
    EXPECT_EQ(KannelPhonesAfter(log, before, 1), std::vector<std::string> {"9161234501"});
}

// The text of every source goes as the composer sends it: a line break is a
// blank. What is not text, what CP1251 cannot carry and what is too long is
// refused with the reason before anything is queued, and nothing is written.
TEST_F(CommandLine, TheTextGoesAsTheComposerSendsItOrIsRefusedWithTheReason)
{
    TRun run = Command("send --to 'анна петрова' -", "Первая строка\nвторая строка\n");
    EXPECT_EQ(run.Code, 0) << run.Err;
    run = Command("send --to 'анна петрова' --text \"$(printf 'Третья\\nчетвёртая')\"");
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(History().find("Первая строка вторая строка"), std::string::npos) << History();
    EXPECT_NE(History().find("Третья четвёртая"), std::string::npos) << History();

    using namespace std::string_literals;
    Home.write("nul.txt", "Привет\0мир"s);
    Home.write("utf16.txt", "\xFF\xFEH\0i\0"s);
    Home.write("cp1251.txt", U("Привет"));
    const struct {
        std::string Arguments, Input, Reason;
    } cases[] = {
        {"send --to Вера --text 'Эмодзи 😀 и ✓'", "", "«😀» (U+1F600), «✓» (U+2713)"},
        {"send --to Вера --text 'Эмодзи 😀'", "", "--allow-replace"},
        {"send --to Вера --text-file nul.txt", "", "нулевой байт (NUL)"},
        {"send --to Вера -", "Привет\0мир"s, "нулевой байт (NUL)"},
        {"send --to Вера --text-file utf16.txt", "", "UTF-16"},
        {"send --to Вера --text-file cp1251.txt", "", "не в кодировке UTF-8"},
        {"send --to Вера --text-file /usr/bin/true", "", "/usr/bin/true не принят"},
        {"send --to Вера -", std::string(600, 'x'), "длиннее 480 символов (в нём 600)"},
        {"send --to Вера -", std::string(1 << 20, 'x'), "длиннее 480 символов"},
        {"sendd --to Вера --text x", "", "Неизвестная команда: sendd"},
        {"--data-dir '" + Home.file("nowhere") + "' send --to Вера --text x", "", "не найдена"},
    };
    // Every file of the data folder as it is: a refused command writes none.
    const auto files = [&] {
        std::map<std::string, std::string> seen;
        for (const auto& e : std::filesystem::directory_iterator(Home.file("data"))) {
            struct stat st {};
            ::stat(e.path().c_str(), &st);
            seen[e.path().filename()] = std::to_string(st.st_ino) + "/" + std::to_string(st.st_mtim.tv_sec) + "." +
                                        std::to_string(st.st_mtim.tv_nsec) + "/" + std::to_string(st.st_size);
        }
        return seen;
    };
    const auto before = files();
    for (const auto& c : cases) {
        run = Command(c.Arguments, c.Input);
        EXPECT_EQ(run.Code, 2) << c.Arguments;
        EXPECT_NE(run.Err.find(c.Reason), std::string::npos) << c.Arguments << ": " << run.Err;
        EXPECT_EQ(run.Out, "") << c.Arguments;
    }
    EXPECT_EQ(files(), before);
    EXPECT_FALSE(std::filesystem::exists(Home.file("nowhere")));
    EXPECT_EQ(History().find("Эмодзи"), std::string::npos);

    // Told so, the characters go as "?".
    run = Command("send --to 'анна петрова' --allow-replace --text 'Эмодзи 😀'");
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(History().find("Эмодзи ?"), std::string::npos) << History();
}

// An error of several lines reaches a terminal line by line: no carriage
// return that would let the next line overwrite it.
TEST_F(CommandLine, ErrorsOfSeveralLinesArePrintedWithLineFeeds)
{
    const TRun run = Command("send --to Почтальон --text x");
    EXPECT_EQ(run.Code, 1);
    EXPECT_EQ(run.Err.find('\r'), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("E-Mail шлюз.\n+79007770007@sms.test\n"), std::string::npos) << run.Err;
}

// The program running on the folder (its queue paused by the message it
// brought back) takes the command: its queue grows at once, its title says so.
TEST_F(CommandLine, SendGoesIntoTheRunningProgramsQueue)
{
    const std::string send = Start() + " send --to 'анна петрова' --text 'В окно'";
    const std::string unknown = Start() + " send --to Никто --text x 2>'" + Home.file("err") + "'";
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(
                        std::vector<std::string> {"bash", "-c", Start() + " & a=$!; " + WaitWindow + " >/dev/null; " +
                                                                    send + " >'" + Home.file("out") + "'; rc=$?; " + unknown + "; bad=$?; " +
                                                                    Start() + " queue >'" + Home.file("queue") + "'; " +
                                                                    "title=$(xdotool search --onlyvisible --name '^Velotext \\(2\\)$' | wc -l); " +
                                                                    "kill -TERM $a; wait $a; echo READY rc=$rc bad=$bad title=$title"},
                        90));
    EXPECT_EQ(run->value("rc"), "0");
    EXPECT_EQ(run->value("bad"), "2"); // the running program's refusal, on this start's standard error
    EXPECT_NE(Home.read("err").find("Нет абонента «Никто»"), std::string::npos) << Home.read("err");
    EXPECT_EQ(run->value("title"), "1");
    EXPECT_NE(Home.read("out").find("В очереди: Анна Петрова"), std::string::npos) << Home.read("out");
    const std::string queue = Home.read("queue");
    EXPECT_NE(queue.find("Старое сообщение"), std::string::npos) << queue;
    EXPECT_NE(queue.find("Анна Петрова (+79001110001)\tпопыток: 0\tВ окно"), std::string::npos) << queue;
}

// A link with a number a contact has (written another way) and one nobody has:
// the new-contact editor opens for the second only (once it is cancelled no
// other opens); the text is in the composer. A second link, handed to the
// running program, replaces the text (kept as the draft at the close).
TEST_F(CommandLine, AnSmsLinkFillsTheComposer)
{
    const std::string draft = "'" + Home.file("data/SmsDraft.txt") + "'";
    const std::string link = "'sms:+79004440004,%2B79005550005?body=%D0%A1%D1%81%D1%8B%D0%BB%D0%BA%D0%B0'";
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(
                        std::vector<std::string> {"bash", "-c", Start() + " " + link + " & a=$!; " +
                                                                    "e=$(xdotool search --sync --onlyvisible --name '^Создание Абонента$' | head -1); " +
                                                                    "xdotool windowfocus --sync $e; xdotool key Escape; sleep 1; " +
                                                                    "editors=$(xdotool search --onlyvisible --name '^Создание Абонента$' | wc -l); " +
                                                                    "for i in $(seq 50); do [ -s " + draft + " ] && break; sleep 0.1; done; first=$(iconv -f cp1251 -t utf-8 " + draft + "); " +
                                                                    Start() + " 'sms:89004440004?body=%D0%92%D1%82%D0%BE%D1%80%D0%BE%D0%B5'; second=$?; sleep 1; " +
                                                                    "kill -TERM $a; wait $a; echo READY rc=$? editors=$editors first=$first second=$second"},
                        90));
    EXPECT_EQ(run->value("rc"), "0");
    EXPECT_EQ(run->value("editors"), "0");
    EXPECT_EQ(run->value("first"), "Ссылка");
    EXPECT_EQ(run->value("second"), "0");
    EXPECT_EQ(Cp1251ToUtf8(Home.read("data/SmsDraft.txt")), "Второе");
}

// A link handed to the running program while the composer holds the user's
// text (kept from the last run) asks before replacing it; "No" keeps it. A
// link whose number is a word opens nothing and says why in a box.
TEST_F(CommandLine, ALinkAsksBeforeReplacingTheUsersMessageAndOneWithoutANumberSaysWhy)
{
    Home.write("data/SmsDraft.txt", U("Мой текст"));
    const std::string draft = "'" + Home.file("data/SmsDraft.txt") + "'";
    // Waits up to 10 s for a visible window of that title; $w holds it.
    const auto waitFor = [](const char* title) {
        return std::string("w=; for i in $(seq 100); do w=$(xdotool search --onlyvisible --name '^") + title +
               "$' | head -1); [ -n \"$w\" ] && break; sleep 0.1; done; ";
    };
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(
                        std::vector<std::string> {
                            "bash", "-c",
                            Start() + " & a=$!; " + WaitWindow + " >/dev/null; " + Start() +
                                " 'sms:hello?body=x'; bad=$?; " + waitFor("Ошибка") +
                                "error=$([ -n \"$w\" ] && echo 1 || echo 0); xdotool windowfocus --sync $w; "
                                "xdotool key Escape; sleep 0.5; " +
                                Start() + " 'sms:89004440004?body=%D0%A7%D1%83%D0%B6%D0%BE%D0%B9'; " +
                                waitFor("Подтверждение") +
                                "asked=$([ -n \"$w\" ] && echo 1 || echo 0); xdotool windowfocus --sync $w; "
                                "xdotool key Escape; sleep 0.5; "
                                "editors=$(xdotool search --onlyvisible --name '^Создание Абонента$' | wc -l); "
                                "kill -TERM $a; wait $a; echo READY rc=$? bad=$bad error=$error asked=$asked "
                                "editors=$editors"},
                        90));
    EXPECT_EQ(run->value("rc"), "0");
    EXPECT_EQ(run->value("bad"), "0"); // handed over; the window says why
    EXPECT_EQ(run->value("error"), "1");
    EXPECT_EQ(run->value("asked"), "1");
    EXPECT_EQ(run->value("editors"), "0");
    EXPECT_EQ(Cp1251ToUtf8(Home.read("data/SmsDraft.txt")), "Мой текст");
}

} // namespace

namespace {

// Local time as the journal writes it (yyyymmddhhnnss), `shift` seconds from now.
std::string JournalTime(long long shift)
{
    const TDateTime t = FromLocalSeconds(LocalSeconds(SystemNow()) + shift);
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
    return text;
}

bool LogHas(const std::string& logPath, const std::string& phone)
{
    std::ifstream log(logPath);
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    return text.find("<5555 " + phone + " ") != std::string::npos;
}

} // namespace

// A queue left by a run that ended: a message whose moment has not come goes at
// that moment with nobody pressing "Старт"; one that came due while the
// program was closed waits for the one question of the start ("Позже" keeps
// it, and the next start asks again; "Отправить" sends it); one cut
// mid-attempt never goes on its own.
TEST_F(CommandLine, AfterARestartAScheduledMessageGoesAtItsMomentAndOverdueOnesAfterTheQuestion)
{
    const char* const onTime = "+79007770001";
    const char* const overdue = "+79007770002";
    const char* const cut = "+79007770003";
    ProgramOptions().Load();
    const TProgramOptions& names = ProgramOptions();
    SmsManager().LoadSmsSenders(names.SmsGatesFileName);
    SmsManager().LoadAddressBook(names.AddressBookFileName);
    TSmsSender* web = SmsManager().SmsSenders[SmsManager().SmsSenders.IndexOfName("Kannel")];
    std::string journal = "VELOTEXT-QUEUE 1\n";
    int id = 0;
    for (const char* phone : {onTime, overdue, cut}) {
        auto* c = new TContact;
        c->SetName(phone);
        c->PhoneNumber = phone;
        c->SmsSender = web;
        SmsManager().AddContact(c);
        journal += "+\t" + std::to_string(++id) + "\t" + JournalTime(-600) + "\t0\t0\t" + std::to_string(c->ContactId()) +
                   "\t" + std::to_string(web->SenderId()) + "\t" + phone + "\t" + phone + "\t" + U("Сообщение для ") +
                   phone + "\n";
    }
    SmsManager().SaveAddressBook(names.AddressBookFileName);
    journal += "T\t1\t" + JournalTime(25) + "\t1\n"; // its moment comes while the program runs
    journal += "T\t2\t" + JournalTime(-60) + "\t1\n"; // it came while the program was closed
    journal += "B\t3\n";                               // its attempt was cut
    Home.write("data/SmsQueue.journal", journal);
    ResetSmsManagerForTests();
    ResetProgramOptionsForTests();

    const std::string log = Kannel->value("log");
    const std::string lock = Home.file("data/Velotext.lock");
    // The program started, its question answered with a key; READY with its process id.
    const auto start = [&](const char* key) {
        return std::make_unique<TPeerProcess>(
            std::vector<std::string> {
                "bash", "-c",
                Start() + " & a=$!; box() { xdotool search --all --onlyvisible --pid $a --name '^Подтверждение$'; }; "
                          "for i in $(seq 300); do box >/dev/null && break; sleep 0.2; done; "
                          "for i in 1 2 3 4 5; do q=$(box | head -1); [ -z \"$q\" ] && break; "
                          "xdotool windowfocus --sync $q; xdotool key " + std::string(key) + "; sleep 1; done; "
                          "echo READY a=$a; wait $a"},
            90);
    };
    const auto stop = [&](TPeerProcess& run) {
        kill(std::stoi(run.value("a")), SIGTERM);
        for (int i = 0; i < 300 && std::filesystem::exists(lock); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(std::filesystem::exists(lock));
    };

    std::unique_ptr<TPeerProcess> run = start("Escape"); // "Позже"
    EXPECT_FALSE(LogHas(log, onTime)); // not before its moment
    EXPECT_EQ(KannelArrivedText(log, onTime), std::string("Сообщение для ") + onTime);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_FALSE(LogHas(log, overdue));
    stop(*run);
    run.reset();

    run = start("Return"); // "Отправить"
    EXPECT_EQ(KannelArrivedText(log, overdue), std::string("Сообщение для ") + overdue);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    stop(*run);
    run.reset();
    EXPECT_FALSE(LogHas(log, cut));
    // Still owed, and not in the history as an attempt.
    EXPECT_NE(Command("queue").Out.find(std::string("Сообщение для ") + cut), std::string::npos);
    EXPECT_EQ(History().find(cut), std::string::npos);
}

// A send handed to the running program says when its message will not go at
// once, and why: here the quiet hours of the options, with their end.
TEST_F(CommandLine, ASendHandedToTheProgramInQuietHoursSaysWhenItGoes)
{
    ProgramOptions().Load();
    TSmsOptions options;
    options.Load(ProgramOptions().OptionsFileName);
    const TDateTime now = SystemNow();
    const int minute = now.Hour * 60 + now.Minute;
    options.QuietFrom = (minute + 1440 - 60) % 1440;
    options.QuietTo = (minute + 120) % 1440;
    options.Save(ProgramOptions().OptionsFileName);
    ResetProgramOptionsForTests();
    const std::string send = Start() + " send --to 'анна петрова' --text 'Ночью'";
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(
                        std::vector<std::string> {"bash", "-c", Start() + " & a=$!; " + OwnWindow + " >/dev/null; " + send +
                                                                    " >'" + Home.file("out") + "'; rc=$?; kill -TERM $a; wait $a; echo READY rc=$rc"},
                        90));
    EXPECT_EQ(run->value("rc"), "0");
    char until[32];
    std::snprintf(until, sizeof until, "%02d:%02d", options.QuietTo / 60, options.QuietTo % 60);
    const std::string out = Home.read("out");
    EXPECT_NE(out.find("В очереди: Анна Петрова"), std::string::npos) << out;
    EXPECT_NE(out.find("Тихие часы: отправка с "), std::string::npos) << out;
    EXPECT_NE(out.find(until), std::string::npos) << out;
}

// A program that does not answer (stopped): the send gives up with exit 1,
// and the command it sent is not run when the program wakes up.
TEST_F(CommandLine, ACommandTheProgramReadsAfterTheSenderGaveUpIsNotRun)
{
    const std::string send = Start() + " send --to 'анна петрова' --text 'Опоздавшее'";
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(
                        std::vector<std::string> {"bash", "-c", Start() + " & a=$!; " + OwnWindow + " >/dev/null; kill -STOP $a; " +
                                                                    send + " 2>'" + Home.file("err") + "'; rc=$?; kill -CONT $a; sleep 2; " +
                                                                    Start() + " queue >'" + Home.file("queue") + "'; kill -TERM $a; wait $a; echo READY rc=$rc"},
                        120));
    EXPECT_EQ(run->value("rc"), "1");
    EXPECT_NE(Home.read("err").find("не выполнена"), std::string::npos) << Home.read("err");
    EXPECT_NE(Home.read("queue").find("Старое сообщение"), std::string::npos) << Home.read("queue"); // the program answered
    EXPECT_EQ(Home.read("queue").find("Опоздавшее"), std::string::npos) << Home.read("queue");
}

// The program holding the folder goes away without reading a start's command
// line (as at the end of a close): the start takes the folder and opens its window.
TEST_F(CommandLine, AStartWhoseProgramWentAwayUnansweredOpensItsOwnWindow)
{
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(
                        std::vector<std::string> {"bash", "-c", Start() + " & a=$!; w=$(" + OwnWindow + "); kill -STOP $a; " +
                                                                    Start() + " & b=$!; sleep 2; kill -KILL $a; " +
                                                                    "for i in $(seq 100); do n=$(xdotool search --all --onlyvisible --pid $b --name '^Velotext' | wc -l); "
                                                                    "[ $n -ge 1 ] && break; sleep 0.2; done; "
                                                                    "lock=$(head -1 '" + Home.file("data/Velotext.lock") + "'); kill -TERM $b; wait $b; "
                                                                    "echo READY b=$b lock=$lock windows=$n"},
                        120));
    EXPECT_EQ(run->value("lock"), run->value("b"));
    EXPECT_EQ(run->value("windows"), "1");
}

// A window start while a command-line send works headless on the folder is
// answered at once, in Russian, while the send still runs.
TEST_F(CommandLine, AWindowStartDuringAHeadlessSendIsToldAtOnce)
{
    // A gateway that never answers holds the send for the operator's limit.
    const int port = FreeLoopbackPort();
    ProgramOptions().Load();
    SmsManager().LoadSmsSenders(ProgramOptions().SmsGatesFileName);
    auto* silent = dynamic_cast<TStdSmsSender*>(SmsManager().SmsSenders[SmsManager().SmsSenders.IndexOfName("Kannel")]);
    ASSERT_NE(silent, nullptr);
    silent->WebGate = "http://127.0.0.1:" + std::to_string(port) + "/send?to={phone}&text={message}";
    silent->TimeoutSeconds = 10;
    SmsManager().SaveSmsSenders(ProgramOptions().SmsGatesFileName);
    ResetSmsManagerForTests();
    ResetProgramOptionsForTests();
    const std::string listen = "python3 -c 'import socket,time; s=socket.socket(); s.bind((\"127.0.0.1\"," +
                               std::to_string(port) + ")); s.listen(8); time.sleep(60)' & l=$!; sleep 0.5; ";
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(
                        std::vector<std::string> {"bash", "-c", listen + "env -u DISPLAY " + Start() +
                                                                    " send --to 'анна петрова' --text 'Долго' >/dev/null 2>&1 & h=$!; sleep 2; " +
                                                                    "t=$(date +%s%N); " + Start() + " & b=$!; box=$(xdotool search --sync --onlyvisible --name '^Velotext$' | head -1); "
                                                                    "ms=$(( ($(date +%s%N) - t) / 1000000 )); kill -0 $h; busy=$?; "
                                                                    "xdotool windowfocus --sync $box; xdotool key Return; wait $b; rc=$?; "
                                                                    "kill $h $l; wait $h; echo READY rc=$rc busy=$busy ms=$ms"},
                        120));
    EXPECT_EQ(run->value("busy"), "0"); // the answer came while the send still ran
    EXPECT_LT(std::stoi(run->value("ms")), 6000) << "no answer for seconds"; // the send holds the gate 10 s
    EXPECT_EQ(run->value("rc"), "1");
}
