// The delivery states of accepted messages: the query back-off, one query of
// a message at a time, the wait that ends in "неизвестно", reports by token,
// and the text form that a restart reads back.
#include "model/DeliveryStatus.h"

#include "model/Clock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

const long long T0 = LocalSeconds(MakeDateTime(2026, 12, 8, 10, 0, 0));

TDeliveryEntry Accepted(const std::string& name, const std::string& url = "http://127.0.0.1/s?id=7")
{
    TDeliveryEntry e;
    e.Name = name;
    e.Phone = "+7 (916) 123-45-03";
    e.Date = "08.12.2026 10:00:00";
    e.Sender = U("Сервис");
    e.GateId = "7";
    e.QueryUrl = url;
    e.DeliveredPattern = "DELIVRD";
    e.AcceptedAt = T0;
    return e;
}

TEST(DeliveryStatus, QueriesBackOffThenEverySixHours)
{
    TDeliveryBook book;
    const auto id = book.Add(Accepted("A"));
    // Due moments after the acceptance, each query answered "ожидает".
    const long long expected[] = {30, 30 + 120, 150 + 600, 750 + 3600, 4350 + 21600, 25950 + 21600};
    long long now = T0;
    for (long long due : expected) {
        EXPECT_TRUE(book.TakeDue(T0 + due - 1, DefaultDeliveryWaitSeconds).empty()) << due;
        now = T0 + due;
        const auto queries = book.TakeDue(now, DefaultDeliveryWaitSeconds);
        ASSERT_EQ(queries.size(), 1u) << due;
        EXPECT_EQ(queries[0].Url, "http://127.0.0.1/s?id=7");
        book.Answer(id, TStatusAnswer::Pending, "", now);
    }
    EXPECT_EQ(book.FindId(id)->Queries, 6);
    EXPECT_EQ(book.FindId(id)->State, TDeliveryState::Accepted);
}

TEST(DeliveryStatus, AMessageIsNeverAskedTwiceAtOnce)
{
    TDeliveryBook book;
    const auto id = book.Add(Accepted("A"));
    ASSERT_EQ(book.TakeDue(T0 + 30, DefaultDeliveryWaitSeconds).size(), 1u);
    // Still unanswered: a later round, even past the wait, leaves it alone.
    EXPECT_TRUE(book.TakeDue(T0 + 3600, DefaultDeliveryWaitSeconds).empty());
    EXPECT_TRUE(book.TakeDue(T0 + DefaultDeliveryWaitSeconds + 1, DefaultDeliveryWaitSeconds).empty());
    EXPECT_EQ(book.Asked(), 1);
    book.Answer(id, TStatusAnswer::NotDelivered, U("абонент недоступен"), T0 + 3601);
    EXPECT_EQ(book.Asked(), 0);
    EXPECT_EQ(book.FindId(id)->State, TDeliveryState::NotDelivered);
    EXPECT_EQ(book.FindId(id)->Reason, U("абонент недоступен"));
    EXPECT_TRUE(book.TakeDue(T0 + 100000, DefaultDeliveryWaitSeconds).empty());
}

TEST(DeliveryStatus, NoFinalAnswerWithinTheWaitIsUnknown)
{
    TDeliveryBook book;
    const long long wait = 2 * 3600; // set shorter than the default
    const auto asked = book.Add(Accepted("A"));
    TDeliveryEntry reported = Accepted("B", "");
    reported.Token = "f00d";
    const auto byReport = book.Add(reported);
    EXPECT_EQ(book.NextDue(wait), T0 + 30);
    long long now = T0;
    while (true) {
        const auto queries = book.TakeDue(now, wait);
        if (book.FindId(asked)->State != TDeliveryState::Accepted)
            break;
        for (const auto& q : queries)
            book.Answer(q.Id, TStatusAnswer::NoAnswer, "", now);
        now = book.NextDue(wait);
        ASSERT_GT(now, 0);
    }
    EXPECT_EQ(now, T0 + wait);
    EXPECT_EQ(book.FindId(asked)->State, TDeliveryState::Unknown);
    EXPECT_EQ(book.FindId(byReport)->State, TDeliveryState::Unknown);
    EXPECT_EQ(book.FindId(asked)->Reason, U("нет окончательного ответа шлюза за 2 ч"));
    EXPECT_EQ(book.Waiting(), 0);
    EXPECT_EQ(book.NextDue(wait), 0);
    // A report that comes late still tells what became of it.
    EXPECT_TRUE(book.Report("f00d", TStatusAnswer::Delivered, "", now + 5));
    EXPECT_EQ(book.FindId(byReport)->State, TDeliveryState::Delivered);
}

TEST(DeliveryStatus, ReportsOnlyForAKnownToken)
{
    TDeliveryBook book;
    TDeliveryEntry e = Accepted("A", "");
    e.Token = "3a9c1f";
    const auto id = book.Add(e);
    EXPECT_FALSE(book.Report("3a9c1e", TStatusAnswer::Delivered, "", T0 + 5));
    EXPECT_FALSE(book.Report("", TStatusAnswer::Delivered, "", T0 + 5));
    EXPECT_EQ(book.FindId(id)->State, TDeliveryState::Accepted);
    EXPECT_TRUE(book.Report("3a9c1f", TStatusAnswer::Pending, "", T0 + 5)); // "buffered": still waiting
    EXPECT_EQ(book.FindId(id)->State, TDeliveryState::Accepted);
    EXPECT_TRUE(book.Report("3a9c1f", TStatusAnswer::NotDelivered, "UNDELIV", T0 + 9));
    EXPECT_EQ(book.FindId(id)->State, TDeliveryState::NotDelivered);
    EXPECT_EQ(book.FindId(id)->FinalAt, T0 + 9);
    // A final state is not overturned by a later report.
    EXPECT_TRUE(book.Report("3a9c1f", TStatusAnswer::Delivered, "", T0 + 10));
    EXPECT_EQ(book.FindId(id)->State, TDeliveryState::NotDelivered);
}

TEST(DeliveryStatus, TextFormReadsBackWholeAndRefusesBrokenLines)
{
    TDeliveryBook book;
    TDeliveryEntry e = Accepted(U("Анна\tПетрова"));
    e.Reason = "x";
    const auto a = book.Add(e);
    book.Add(Accepted("B\\C"));
    book.TakeDue(T0 + 30, DefaultDeliveryWaitSeconds);
    book.Answer(a, TStatusAnswer::NotDelivered, U("строка 1\r\nстрока 2"), T0 + 31);
    const std::string text = book.Serialize();

    TDeliveryBook read;
    read.Parse(text);
    EXPECT_EQ(read.Serialize(), text);
    const TDeliveryEntry* back = read.Find(U("Анна\tПетрова"), "+7 (916) 123-45-03", "08.12.2026 10:00:00");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Reason, U("строка 1\r\nстрока 2"));
    EXPECT_EQ(back->State, TDeliveryState::NotDelivered);
    // New ids go on after the ones read.
    EXPECT_EQ(read.Add(Accepted("C")), 3u);

    for (const std::string& broken : {std::string("something else\r\n"), text + "1\taccepted\r\n",
                                      text.substr(0, text.size() - 3) + "\\q\r\n"}) {
        TDeliveryBook kept;
        kept.Add(Accepted("K"));
        EXPECT_NE(ErrorOf([&] { kept.Parse(broken); }), "") << broken;
        EXPECT_EQ(kept.Entries().size(), 1u);
    }
}

} // namespace
