// The delivery states' own file beside the history: read back after a
// restart, written safely and owner-only, and never written over when it
// does not read.
#include "ManagerFixture.h"

#include "model/SafeFile.h"
#include "storage/DeliveryStatusFile.h"

#include <sys/stat.h>

namespace {

using DeliveryStatusFileTest = ManagerTest;

TEST_F(DeliveryStatusFileTest, BesideTheHistoryAndReadBack)
{
    EXPECT_EQ(DeliveryStatusFileName("SmsHistory.txt"), "SmsHistory.delivery");
    EXPECT_EQ(DeliveryStatusFileName("/home/a.b/hist"), "/home/a.b/hist.delivery");
    EXPECT_EQ(DeliveryStatusFileName("/home/a/.hist"), "/home/a/.hist.delivery");

    TDeliveryBook book;
    LoadDeliveryBook(book, "SmsHistory.delivery"); // missing: empty
    EXPECT_TRUE(book.Entries().empty());
    TDeliveryEntry e;
    e.Name = U("Анна Петрова");
    e.Phone = "+79161234503";
    e.Date = "01.02.2026 09:05:03";
    e.QueryUrl = "http://127.0.0.1/status?id=9&password=secret";
    book.Add(e);
    SaveDeliveryBook(book, "SmsHistory.delivery");
    struct stat st {};
    ASSERT_EQ(stat(Data.dir().file("SmsHistory.delivery").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    TDeliveryBook read;
    LoadDeliveryBook(read, "SmsHistory.delivery");
    EXPECT_EQ(read.Serialize(), book.Serialize());
}

TEST_F(DeliveryStatusFileTest, AFileThatDoesNotReadIsRefusedNamingIt)
{
    for (const std::string& bytes : {std::string("VelotextDeliveryStatus 1\r\n1\tbroken\r\n"),
                                     std::string("V\0e\0l\0", 6)}) {
        Data.dir().write("SmsHistory.delivery", bytes);
        TDeliveryBook book;
        const std::string error = ErrorOf([&] { LoadDeliveryBook(book, "SmsHistory.delivery"); });
        EXPECT_NE(error.find("SmsHistory.delivery"), std::string::npos) << error;
        EXPECT_EQ(Read("SmsHistory.delivery"), bytes);
    }
}

} // namespace
