// The running program's status rounds: the timer's tick only hands the due
// queries to a worker (the window keeps running while a gateway is slow to
// answer), a second tick during a round starts nothing, and the verdict
// arrives with RoundFinished. The state file beside the history is opened by
// the first tick.
#include "WindowFixture.h"

#include "engine/DeliveryTracker.h"
#include "engine/ReportListener.h"
#include "storage/DeliveryStatusFile.h"
#include "ui/DeliveryPoller.h"

#include <QSignalSpy>
#include <atomic>
#include <future>

namespace {

using DeliveryPollerTest = TWindowTest;

TEST_F(DeliveryPollerTest, ATickAsksOnAWorkerOneRoundAtATime)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> asked {0};
    TReportListener gateway(0, [&](const std::string& target) {
        if (target.rfind("/status?id=77", 0) != 0)
            return 404;
        ++asked;
        released.wait_for(std::chrono::seconds(10)); // a slow gateway
        return 200;                                   // body "OK"
    });
    TDeliveryBook book;
    TDeliveryEntry entry;
    entry.Name = U("Анна Петрова");
    entry.Phone = "+7 (916) 123-45-03";
    entry.Date = "08.12.2026 10:00:00";
    entry.QueryUrl = "http://127.0.0.1:" + std::to_string(gateway.Port()) + "/status?id=77";
    entry.DeliveredPattern = "^OK";
    entry.AcceptedAt = LocalSeconds(Now()) - 60;
    book.Add(entry);
    SaveDeliveryBook(book, DeliveryStatusFileName(SmsManager().History.FileName()));
    DeliveryTracker().Close();

    {
        TDeliveryPoller poller(nullptr, 3600 * 1000);
        QSignalSpy finished(&poller, &TDeliveryPoller::RoundFinished);
        poller.Tick();
        EXPECT_TRUE(DeliveryTracker().IsOpen());
        EXPECT_TRUE(poller.RoundRunning());
        poller.Tick(); // during the round: nothing more is asked
        EXPECT_EQ(DeliveryTracker().Entries().at(0).State, TDeliveryState::Accepted);
        release.set_value();
        ASSERT_TRUE(finished.wait(10000));
        EXPECT_EQ(asked.load(), 1);
        EXPECT_EQ(DeliveryTracker().Entries().at(0).State, TDeliveryState::Delivered);
    }
    TDeliveryBook disk;
    LoadDeliveryBook(disk, DeliveryStatusFileName(SmsManager().History.FileName()));
    EXPECT_EQ(disk.Entries().at(0).State, TDeliveryState::Delivered);
    DeliveryTracker().Close();
}

TEST_F(DeliveryPollerTest, AReportOfANotDeliveredMessageIsToldAtTheNextTick)
{
    DeliveryTracker().Close();
    DeliveryTracker().SetListenerPortForTests(0);
    TDeliveryBook book;
    TDeliveryEntry entry;
    entry.Name = U("Олег");
    entry.Phone = "8 903 555-00-01";
    entry.Date = "08.12.2026 10:00:00";
    entry.Token = "5f2a";
    entry.AcceptedAt = LocalSeconds(Now());
    book.Add(entry);
    SaveDeliveryBook(book, DeliveryStatusFileName(SmsManager().History.FileName()));
    TDeliveryPoller poller(nullptr, 3600 * 1000);
    QSignalSpy told(&poller, &TDeliveryPoller::NotDelivered);
    poller.Tick(); // opens the state file
    EXPECT_EQ(DeliveryTracker().Report("5f2a", "2", "UNDELIV"), 200);
    EXPECT_EQ(DeliveryTracker().Report("5f2b", "2", "forged"), 403);
    poller.Tick();
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told.at(0).at(0).toStringList(),
              QStringList {QStringLiteral("Олег (8 903 555-00-01): Доставка: не доставлено: UNDELIV")});
    poller.Tick();
    EXPECT_EQ(told.size(), 1); // told once
    DeliveryTracker().Close();
    DeliveryTracker().SetListenerPortForTests(std::nullopt);
}

} // namespace
