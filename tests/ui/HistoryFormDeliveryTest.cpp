// The history window joins the delivery states kept beside the history: a
// "Доставка" column, and "Не доставленные" shows only the messages the
// gateway could not deliver (with the reason), however the other filters go.
#include "WindowFixture.h"
#include "engine/DeliveryTracker.h"
#include "model/SmsHistoryFile.h"
#include "model/SmsQueue.h"
#include "storage/DeliveryStatusFile.h"
#include "ui/dialogs/SmsHistoryForm.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTreeView>

namespace {

std::string SentRecord(const char* name, const char* phone, int day)
{
    TContact contact;
    contact.SetName(U(name));
    contact.PhoneNumber = phone;
    TSms sms(&contact, U("Встреча в 15:00"));
    sms.Created = TDateTime {2026, 12, day, 10, 0, 0};
    sms.Status = SmsStatusSent;
    return TSmsHistoryFile::FormatRecord(sms);
}

QStringList Column(const QTreeView* view, int column)
{
    QStringList texts;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        texts << view->model()->index(row, column).data().toString();
    return texts;
}

} // namespace

TEST_F(TWindowTest, HistoryShowsTheDeliveryStateAndFiltersNotDelivered)
{
    DeliveryTracker().Close();
    Data.dir().write("SmsHistory.txt", SentRecord("Анна Петрова", "+7 (916) 123-45-03", 5) +
                                           SentRecord("Олег", "8 903 555-00-01", 6) +
                                           SentRecord("Вера", "+79003330003", 7));
    TDeliveryBook book;
    auto accepted = [&](const char* name, const char* phone, const char* date) {
        TDeliveryEntry e;
        e.Name = U(name);
        e.Phone = phone;
        e.Date = date;
        e.QueryUrl = "http://127.0.0.1:9/status?id=1";
        e.AcceptedAt = 1000;
        return book.Add(e);
    };
    const auto anna = accepted("Анна Петрова", "+7 (916) 123-45-03", "05.12.2026 10:00:00");
    const auto oleg = accepted("Олег", "8 903 555-00-01", "06.12.2026 10:00:00");
    book.TakeDue(2000, DefaultDeliveryWaitSeconds);
    book.Answer(anna, TStatusAnswer::Delivered, "", 2000);
    book.Answer(oleg, TStatusAnswer::NotDelivered, "absent subscriber", 2000);
    SaveDeliveryBook(book, "SmsHistory.delivery");

    TSmsHistoryForm* form = TSmsHistoryForm::Open(SmsManager().History, Main.get());
    ASSERT_NE(form, nullptr);
    auto* list = form->findChild<QTreeView*>("HistoryListView");
    ASSERT_EQ(list->model()->headerData(5, Qt::Horizontal).toString(), QStringLiteral("Доставка"));
    EXPECT_EQ(Column(list, 5),
              (QStringList {QStringLiteral("доставлено"), QStringLiteral("не доставлено: absent subscriber"), QString()}));
    EXPECT_EQ(Column(list, 4).at(0), QStringLiteral("Встреча в 15:00"));

    auto* notDelivered = form->findChild<QCheckBox*>("NotDeliveredCheckBox");
    ASSERT_NE(notDelivered, nullptr);
    notDelivered->setChecked(true);
    EXPECT_EQ(Rows(list), QStringList {QStringLiteral("06.12.2026 10:00:00")});
    form->findChild<QLineEdit*>("SearchEdit")->setText(QStringLiteral("анна"));
    EXPECT_TRUE(Rows(list).isEmpty());
    form->findChild<QLineEdit*>("SearchEdit")->clear();
    EXPECT_EQ(Rows(list), QStringList {QStringLiteral("06.12.2026 10:00:00")});
    notDelivered->setChecked(false);
    EXPECT_EQ(Rows(list).size(), 3);
    form->close();
}
