#include "model/SmsHistoryFile.h"

#include "model/SmsHistoryIndex.h"
#include "model/Text.h"
#include "model/TextLines.h"

#include "model/AddressBook.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/SmsQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using Lines = std::vector<std::string>;

const std::string Equals(80, '=');
const std::string Dashes(80, '-');

class SmsHistoryFileTest : public ::testing::Test {
protected:
    SmsHistoryFileTest() : Clock(MakeDateTime(2026, 2, 1, 9, 5, 3))
    {
        Contact.SetName(U("Иванов"));
        Contact.PhoneNumber = "9161234567";
    }

    TSms Finished(int status, const std::string& text, const std::string& error = {})
    {
        TSms sms(&Contact, text);
        sms.TryCount = 1;
        sms.Status = status;
        sms.ErrorText = error;
        return sms;
    }

    TScopedDataDir Data;
    TFakeClock Clock;
    TContact Contact;
    TSmsHistoryFile History{"SmsHistory.txt"};
};

TEST_F(SmsHistoryFileTest, FirstRecordCreatesTheFileWithTheExactLayout)
{
    EXPECT_FALSE(FileExists(Data.dir().file("SmsHistory.txt")));
    TSms sms = Finished(SmsStatusSent, U("Привет"));
    Clock.set(MakeDateTime(2026, 2, 1, 9, 9, 59)); // delivered later: the queued time counts
    History.AddSms(sms);
    EXPECT_EQ(Data.dir().read("SmsHistory.txt"), Equals + "\r\n" + U("Для: Иванов (9161234567)\r\n") +
                                                     U("Дата: 01.02.2026 09:05:03\r\n") +
                                                     U("Статус: Сообщение отправлено.\r\n") + Dashes + "\r\n" +
                                                     U("Привет\r\n"));
}

TEST_F(SmsHistoryFileTest, StatusLinesAndAppending)
{
    History.AddSms(Finished(SmsStatusSent, "one"));
    History.AddSms(Finished(SmsStatusFailed, "two", U("Не удалось отправить SMS через E-Mail шлюз.\r9161234567@sms.example")));
    History.AddSms(Finished(SmsStatusCancelled, "three"));
    History.AddSms(Finished(SmsStatusNone, "four"));
    History.AddSms(Finished(7, "five"));
    Lines lines = History.LoadLines();
    ASSERT_EQ(lines.size(), 6u + 7u + 6u + 5u + 5u);
    EXPECT_EQ(lines[3], U("Статус: Сообщение отправлено."));
    EXPECT_EQ(lines[6], Equals);
    EXPECT_EQ(lines[9], U("Ошибка: Не удалось отправить SMS через E-Mail шлюз.")); // the CR splits the error
    EXPECT_EQ(lines[10], "9161234567@sms.example");
    EXPECT_EQ(lines[11], Dashes);
    EXPECT_EQ(lines[12], "two");
    EXPECT_EQ(lines[16], U("Статус: Доставка прервана пользователем."));
    EXPECT_EQ(lines[19], Equals);
    EXPECT_EQ(lines[21], U("Дата: 01.02.2026 09:05:03"));
    EXPECT_EQ(lines[22], Dashes); // no status line for a message never tried
    EXPECT_EQ(lines[23], "four");
    EXPECT_EQ(lines[27], Dashes);
    EXPECT_EQ(lines[28], "five");
}

TEST_F(SmsHistoryFileTest, TheContactIsTakenAsItIsWhenWritten)
{
    TSms sms = Finished(SmsStatusSent, "x");
    Contact.SetName(U("Петров"));
    Contact.PhoneNumber = "+380441234567";
    Clock.set(MakeDateTime(999, 12, 31, 23, 59, 58));
    TSms late = Finished(SmsStatusSent, "y");
    History.AddSms(sms);
    History.AddSms(late);
    Lines lines = History.LoadLines();
    EXPECT_EQ(lines[1], U("Для: Петров (+380441234567)"));
    EXPECT_EQ(lines[8], U("Дата: 31.12.0999 23:59:58"));
}

TEST_F(SmsHistoryFileTest, ClearLeavesAnEmptyFileAndMissingFileIsAClearError)
{
    try {
        History.LoadLines();
        FAIL() << "no error";
    } catch (const TError& e) {
        EXPECT_NE(e.message().find(U("Файл истории сообщений")), std::string::npos);
        EXPECT_NE(e.message().find(U("не найден")), std::string::npos);
    }
    History.Clear(); // a missing file is created
    EXPECT_TRUE(FileExists(Data.dir().file("SmsHistory.txt")));
    EXPECT_TRUE(History.LoadLines().empty());
    History.AddSms(Finished(SmsStatusSent, "x"));
    History.Clear();
    EXPECT_EQ(Data.dir().read("SmsHistory.txt"), "");
    EXPECT_TRUE(History.LoadLines().empty());
}

TEST_F(SmsHistoryFileTest, AnyLineEndReadsAndJunkNeverBreaksTheReader)
{
    Data.dir().write("SmsHistory.txt", std::string("a\rb\nc\r\n\r\nd\0e", 12));
    EXPECT_EQ(History.LoadLines(), (Lines{"a", "b", "c", "", std::string("d\0e", 3)}));
    std::string huge(3'000'000, 'x');
    Data.dir().write("SmsHistory.txt", huge + "\n");
    EXPECT_EQ(History.LoadLines(), Lines{huge});
}

TEST_F(SmsHistoryFileTest, AFolderInPlaceOfTheFileIsAnErrorForEveryOperation)
{
    ASSERT_EQ(::mkdir(Data.dir().file("SmsHistory.txt").c_str(), 0755), 0);
    EXPECT_THROW(History.AddSms(Finished(SmsStatusSent, "x")), TError);
    EXPECT_THROW(History.LoadLines(), TError);
    EXPECT_THROW(History.Clear(), TError);
}

TEST_F(SmsHistoryFileTest, AWriteThatFailsHalfwayLeavesNoHalfRecord)
{
    History.AddSms(Finished(SmsStatusSent, "first"));
    const std::string before = Data.dir().read("SmsHistory.txt");

    // Let the file grow by only a few bytes: the write of the next record
    // stops partway with EFBIG.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = old;
    tight.rlim_cur = before.size() + 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    bool failed = false;
    try {
        History.AddSms(Finished(SmsStatusSent, std::string(500, 'z')));
    } catch (const TError&) {
        failed = true;
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(failed);
    EXPECT_EQ(Data.dir().read("SmsHistory.txt"), before);
    History.AddSms(Finished(SmsStatusSent, "third"));
    EXPECT_EQ(History.LoadLines().size(), 12u);
}

} // namespace

namespace {

// What the index reads back from the file the writer wrote.
std::vector<TSmsHistoryRecord> ReadBack(const TSmsHistoryFile& history)
{
    TSmsHistoryIndex index;
    const std::vector<std::string> lines = history.LoadLines();
    index.AddLines(lines, 0, lines.size());
    index.Finish();
    return index.Records();
}

// Whatever a text, an error, a name or a phone holds, its record reads back
// whole and the same, and looks the same to a person reading the file.
TEST_F(SmsHistoryFileTest, EveryRecordReadsBackWholeWhateverItHolds)
{
    struct TCase {
        const char* What;
        std::string Name, Phone, Text, Error;
    } cases[] = {
        {"a text holding a line of '='", U("Анна"), "+7 (916) 123-45-01", U("Итоги:\r\n") + Equals + U("\r\nвсё"), ""},
        {"a text holding a line of '-'", U("Анна"), "+79161234501", Dashes + U("\r\nподпись"), ""},
        {"an error holding a line of '-'", U("Анна"), "+79161234501", "x", U("Шлюз ответил:\r") + Dashes + "\r500"},
        {"an error holding a line of '='", U("Анна"), "+79161234501", "x", Equals + U("\rконец")},
        {"a rule line that already ends in blanks", U("Анна"), "1", Equals + "  \r\n" + Dashes + " ", ""},
        {"a phone with an unclosed bracket", U("Иван"), "8 (96 ", U("Привет"), ""},
        {"a phone with a closing bracket", U("Иван"), "96) 1", U("Привет"), ""},
        {"brackets in the name and the phone", U("Иван (работа)"), "8 (900) 123-45-67", "t", ""},
        {"a name ending in an open bracket", U("Иван ("), "8 (900)", "t", ""},
        {"an empty phone", U("Иван (дом)"), "", "t", ""},
    };
    std::vector<TContact> contacts(std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        contacts[i].SetName(cases[i].Name);
        contacts[i].PhoneNumber = cases[i].Phone;
        TSms sms(&contacts[i], cases[i].Text);
        sms.Status = cases[i].Error.empty() ? SmsStatusSent : SmsStatusFailed;
        sms.ErrorText = cases[i].Error;
        History.AddSms(sms);
    }
    const std::vector<TSmsHistoryRecord> records = ReadBack(History);
    ASSERT_EQ(records.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].What);
        EXPECT_EQ(records[i].Name, cases[i].Name);
        EXPECT_EQ(records[i].Phone, cases[i].Phone);
        EXPECT_EQ(records[i].Text, cases[i].Text);
        if (!cases[i].Error.empty()) {
            EXPECT_EQ(records[i].StatusText, cases[i].Error);
        }
        // The record shows as the file has it; a person sees the text's lines as typed.
        const std::vector<std::string> shown = records[i].Lines();
        for (const std::string& line : SplitLines(cases[i].Text))
            EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                                    [&](const std::string& s) { return TrimRight(s) == TrimRight(line); }))
                << line;
    }
    // Each record's lines are the file's own lines, in order.
    const std::vector<std::string> file = History.LoadLines();
    size_t at = 0;
    for (const TSmsHistoryRecord& r : records) {
        for (const std::string& line : r.Lines())
            ASSERT_EQ(file.at(at++), line);
    }
}

} // namespace
