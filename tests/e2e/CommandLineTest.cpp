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

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sys/stat.h>

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
