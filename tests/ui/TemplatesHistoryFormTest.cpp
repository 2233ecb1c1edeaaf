#include "WindowFixture.h"
#include "engine/SmsManager.h"
#include "model/SmsHistoryFile.h"
#include "model/SmsQueue.h"
#include "ui/dialogs/SmsHistoryForm.h"
#include "ui/dialogs/SmsTemplatesForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTreeView>
#include <filesystem>

#include <sys/stat.h>

class TTemplatesFormTest : public TWindowTest {
protected:
    void OpenForm()
    {
        TSmsTemplatesForm::Open(SmsManager().Templates, Main.get());
        Form = TSmsTemplatesForm::Existing();
        List = Form->findChild<QListWidget*>("TemplatesListBox");
    }
    std::string File() { return Data.dir().read("SmsTemplates.txt"); }

    TSmsTemplatesForm* Form = nullptr;
    QListWidget* List = nullptr;
};

TEST_F(TTemplatesFormTest, AddEditDeleteSaveTheFileAfterEachChange)
{
    Data.dir().write("SmsTemplates.txt", U("Перезвони\r\n"));
    OpenForm();
    ASSERT_EQ(List->count(), 1);

    Ui.Input(QString()).Input(QStringLiteral("Буду в 18:00"));
    EXPECT_TRUE(Trigger(Form, "AddTB"));
    EXPECT_EQ(File(), U("Перезвони\r\n\r\n")); // an empty template is a template
    EXPECT_TRUE(Trigger(Form, "AddTB"));
    EXPECT_EQ(File(), U("Перезвони\r\n\r\nБуду в 18:00\r\n"));
    EXPECT_EQ(List->item(2)->text(), QStringLiteral("Буду в 18:00"));

    List->setCurrentRow(0);
    Ui.Input(QStringLiteral("Перезвони мне"));
    EXPECT_TRUE(Trigger(Form, "EditTB"));
    EXPECT_EQ(Ui.Calls.back().Title, QStringLiteral("Изменение шаблона SMS"));
    EXPECT_EQ(Ui.Calls.back().Text, QStringLiteral("Перезвони")); // the prompt holds the old text
    EXPECT_EQ(File(), U("Перезвони мне\r\n\r\nБуду в 18:00\r\n"));

    List->setCurrentRow(2);
    Ui.No().Yes();
    EXPECT_TRUE(Trigger(Form, "DeleteTB"));
    EXPECT_EQ(SmsManager().Templates.Count(), 3);
    EXPECT_TRUE(Trigger(Form, "DeleteTB"));
    EXPECT_EQ(Ui.Calls.back().Text, QStringLiteral("Удалить выбранный шаблон SMS?"));
    EXPECT_EQ(File(), U("Перезвони мне\r\n\r\n"));
    EXPECT_EQ(List->count(), 2);
    // No row is selected now: edit, delete and insert do nothing and ask nothing.
    const size_t calls = Ui.Calls.size();
    int inserted = 0;
    SmsManager().Templates.OnInsertTemplate = [&](const std::string&) { ++inserted; };
    EXPECT_TRUE(Trigger(Form, "EditTB"));
    EXPECT_TRUE(Trigger(Form, "DeleteTB"));
    EXPECT_TRUE(Trigger(Form, "InsertTB"));
    EXPECT_EQ(Ui.Calls.size(), calls);
    EXPECT_EQ(inserted, 0);
}

TEST_F(TTemplatesFormTest, InsertHandsTheTemplateToTheComposerEachTime)
{
    Data.dir().write("SmsTemplates.txt", U("Привет\r\nПока\r\n"));
    std::string composer;
    SmsManager().Templates.OnInsertTemplate = [&](const std::string& text) { composer += text + "\r\n"; };
    // Restored as visible at start: the window binds to the manager's list itself.
    TSmsTemplatesForm::Instance(Main.get())->show();
    Form = TSmsTemplatesForm::Existing();
    List = Form->findChild<QListWidget*>("TemplatesListBox");
    ASSERT_EQ(List->count(), 2);
    List->setCurrentRow(1);
    EXPECT_TRUE(Trigger(Form, "InsertTB"));
    emit List->itemDoubleClicked(List->item(1));
    EXPECT_EQ(composer, U("Пока\r\nПока\r\n"));
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(Trigger(Form, "CloseTB"));
    EXPECT_FALSE(Form->isVisible());
}

using TSmsHistoryFormTest = TWindowTest;

namespace {

// One history record as the manager writes it.
std::string Record(const std::string& name, const std::string& phone, const std::string& text,
                   const std::string& error = {}, int day = 1)
{
    TContact contact;
    contact.SetName(name);
    contact.PhoneNumber = phone;
    TSms sms(&contact, text);
    sms.Created = TDateTime {2026, 2, day, 10, 0, 0};
    sms.Status = error.empty() ? SmsStatusSent : SmsStatusFailed;
    sms.ErrorText = error;
    return TSmsHistoryFile::FormatRecord(sms);
}

} // namespace

TEST_F(TSmsHistoryFormTest, ShowsTheFileAndClearsItOnlyWhenConfirmed)
{
    Data.dir().write("SmsHistory.txt", Record(U("Иван"), "123", U("Привет")));
    TSmsHistoryForm* form = TSmsHistoryForm::Open(SmsManager().History, Main.get());
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->isVisible());
    auto* list = form->findChild<QTreeView*>("HistoryListView");
    auto* memo = form->findChild<QPlainTextEdit*>("SmsHistoryMemo");
    EXPECT_EQ(Rows(list), QStringList {QStringLiteral("01.02.2026 10:00:00")});
    list->setCurrentIndex(list->model()->index(0, 0));
    EXPECT_EQ(memo->toPlainText(), QString(80, QLatin1Char('=')) +
                                       QStringLiteral("\nДля: Иван (123)\nДата: 01.02.2026 10:00:00\n"
                                                      "Статус: Сообщение отправлено.\n") +
                                       QString(80, QLatin1Char('-')) + QStringLiteral("\nПривет"));
    Ui.No().Yes();
    EXPECT_TRUE(Trigger(form, "ClearTB")); // No: nothing changes
    EXPECT_EQ(Rows(list).size(), 1);
    EXPECT_TRUE(Trigger(form, "ClearTB"));
    EXPECT_TRUE(Rows(list).isEmpty());
    EXPECT_TRUE(memo->toPlainText().isEmpty());
    EXPECT_EQ(Ui.Texts(TUiCallKind::Confirm).size(), 2);
    EXPECT_EQ(Data.dir().read("SmsHistory.txt"), "");
    EXPECT_TRUE(Trigger(form, "CloseTB"));
    EXPECT_FALSE(form->isVisible());

    // Nothing recorded yet: the error is reported and no window opens.
    std::remove(Data.dir().file("SmsHistory.txt").c_str());
    const size_t calls = Ui.Calls.size();
    EXPECT_EQ(TSmsHistoryForm::Open(SmsManager().History, Main.get()), nullptr);
    EXPECT_FALSE(form->isVisible());
    ASSERT_EQ(Ui.Calls.size(), calls + 1);
    EXPECT_EQ(Ui.Calls.back().Kind, TUiCallKind::Error);
    EXPECT_EQ(Ui.Calls.back().Title, QApplication::applicationDisplayName()); // the top-level report
}

// A history of more lines than one piece: the window runs while the rest is
// read, and what it ends up showing is every record, in order, once.
TEST_F(TSmsHistoryFormTest, ALongHistoryIsShownWholeAndAClearStopsTheRest)
{
    std::string file;
    for (int i = 0; i < 9000; ++i)
        file += Record(U("Иван"), "123", U("Строка ") + std::to_string(i));
    Data.dir().write("SmsHistory.txt", file);
    TSmsHistoryForm form(SmsManager().History, Main.get());
    form.Fill();
    auto* list = form.findChild<QTreeView*>("HistoryListView");
    EXPECT_TRUE(form.Filling());
    EXPECT_LT(Rows(list).size(), 9000);
    while (form.Filling())
        QCoreApplication::processEvents();
    ASSERT_EQ(list->model()->rowCount(), 9000);
    for (int i : {0, 4321, 8999})
        EXPECT_EQ(list->model()->index(i, 4).data().toString(), QStringLiteral("Строка %1").arg(i));

    form.Fill();
    Ui.Yes();
    form.ClearTBClick();
    QCoreApplication::processEvents();
    EXPECT_FALSE(form.Filling());
    EXPECT_TRUE(Rows(list).isEmpty());
    EXPECT_EQ(Data.dir().read("SmsHistory.txt"), "");
}

// The search, the contact, failures only and the period narrow the list down
// together; the status column joins a two-line error with "; " and the record
// below the list shows it on two lines.
TEST_F(TSmsHistoryFormTest, FiltersNarrowTheListAndATwoLineErrorShowsOnTwoLines)
{
    Data.dir().write("SmsHistory.txt", Record(U("Анна"), "101", U("Встреча в пять"), {}, 1) +
                                           Record(U("Борис"), "102", U("Встреча отменена"), U("Нет связи\rсервер молчит"), 5) +
                                           Record(U("Анна"), "101", U("Купи хлеба"), U("Отказ шлюза"), 9));
    TSmsHistoryForm* form = TSmsHistoryForm::Open(SmsManager().History, Main.get());
    ASSERT_NE(form, nullptr);
    while (form->Filling())
        QCoreApplication::processEvents();
    auto* list = form->findChild<QTreeView*>("HistoryListView");
    auto texts = [&] {
        QStringList t;
        for (int i = 0; i < list->model()->rowCount(); ++i)
            t << list->model()->index(i, 4).data().toString();
        return t;
    };
    auto* search = form->findChild<QLineEdit*>("SearchEdit");
    TypeText(search, QStringLiteral("ВСТРЕЧА")); // letter case ignored
    EXPECT_EQ(texts(), (QStringList {QStringLiteral("Встреча в пять"), QStringLiteral("Встреча отменена")}));
    search->clear();
    TypeText(search, QStringLiteral("молчит")); // the error's second line
    EXPECT_EQ(texts(), QStringList {QStringLiteral("Встреча отменена")});
    EXPECT_EQ(list->model()->index(0, 3).data().toString(), QStringLiteral("Нет связи; сервер молчит"));
    list->setCurrentIndex(list->model()->index(0, 0));
    EXPECT_TRUE(form->findChild<QPlainTextEdit*>("SmsHistoryMemo")->toPlainText().contains(
        QStringLiteral("\nОшибка: Нет связи\nсервер молчит\n")));
    search->clear();

    auto* contact = form->findChild<QComboBox*>("ContactComboBox");
    EXPECT_EQ(contact->count(), 3); // (все), Анна, Борис
    contact->setCurrentText(QStringLiteral("Анна"));
    EXPECT_EQ(texts(), (QStringList {QStringLiteral("Встреча в пять"), QStringLiteral("Купи хлеба")}));
    form->findChild<QCheckBox*>("FailedOnlyCheckBox")->click();
    EXPECT_EQ(texts(), QStringList {QStringLiteral("Купи хлеба")});
    contact->setCurrentIndex(0);
    EXPECT_EQ(texts(), (QStringList {QStringLiteral("Встреча отменена"), QStringLiteral("Купи хлеба")}));
    form->findChild<QDateEdit*>("FromDateEdit")->setDate(QDate(2026, 2, 1));
    form->findChild<QDateEdit*>("ToDateEdit")->setDate(QDate(2026, 2, 5)); // the whole last day counts
    form->findChild<QCheckBox*>("PeriodCheckBox")->click();
    EXPECT_EQ(texts(), QStringList {QStringLiteral("Встреча отменена")});
}

// The shown records only, in UTF-8 with a byte-order mark, fields that hold
// the separator, quotes or line breaks quoted; the file dialog is the common one.
TEST_F(TSmsHistoryFormTest, ExportWritesTheShownRecordsAsUtf8CsvWithBom)
{
    Data.dir().write("SmsHistory.txt", Record(U("Анна"), "101", U("Да; \"ок\"")) +
                                           Record(U("Борис"), "102", U("Привет"), U("Нет связи\rсервер молчит")));
    TSmsHistoryForm* form = TSmsHistoryForm::Open(SmsManager().History, Main.get());
    ASSERT_NE(form, nullptr);
    form->findChild<QCheckBox*>("FailedOnlyCheckBox")->click();
    Ui.File(QString::fromStdString(Data.dir().file("out.csv")));
    const mode_t umaskBefore = ::umask(022);
    EXPECT_TRUE(Trigger(form, "ExportTB"));
    ::umask(umaskBefore);
    EXPECT_EQ(Ui.Calls.back().Kind, TUiCallKind::SaveFile);
    struct stat st {};
    ASSERT_EQ(::stat(Data.dir().file("out.csv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // the user's alone, whatever the umask
    EXPECT_EQ(Data.dir().read("out.csv"), "\xEF\xBB\xBF"
                                          "Дата;Абонент;Телефон;Состояние;Сообщение\r\n"
                                          "01.02.2026 10:00:00;Борис;102;\"Ошибка: Нет связи\r\nсервер молчит\";Привет\r\n");
    form->findChild<QCheckBox*>("FailedOnlyCheckBox")->click();
    Ui.File(QString::fromStdString(Data.dir().file("out.csv")));
    EXPECT_TRUE(Trigger(form, "ExportTB"));
    EXPECT_NE(Data.dir().read("out.csv").find("01.02.2026 10:00:00;Анна;101;Сообщение отправлено.;\"Да; \"\"ок\"\"\"\r\n"),
              std::string::npos);
}

// The name is used as typed (UTF-8 on this desktop) and gets ".csv" when it
// has no extension of its own; one with an extension is left as it is.
TEST_F(TSmsHistoryFormTest, ExportKeepsACyrillicNameAsTypedAndAddsCsvWhenItHasNoExtension)
{
    Data.dir().write("SmsHistory.txt", Record(U("Анна"), "101", U("Привет")));
    TSmsHistoryForm* form = TSmsHistoryForm::Open(SmsManager().History, Main.get());
    ASSERT_NE(form, nullptr);
    const struct {
        const char* Typed;
        const char* Written;
    } cases[] = {{"Отчёт за декабрь", "Отчёт за декабрь.csv"}, {"итоги.txt", "итоги.txt"}};
    for (const auto& c : cases) {
        Ui.File(QString::fromStdString(Data.dir().file(c.Typed)));
        EXPECT_TRUE(Trigger(form, "ExportTB"));
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(Data.dir().file(c.Written)))) << c.Written;
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(Data.dir().file("Отчёт за декабрь"))));
}

// An error whose text begins with "Ошибка" is not worded twice in the export.
TEST_F(TSmsHistoryFormTest, ExportedErrorIsNotWordedTwice)
{
    Data.dir().write("SmsHistory.txt", Record(U("Анна"), "101", U("Привет"),
                                              U("Ошибка соединения с SMS шлюзом: сервер не найден")) +
                                           Record(U("Борис"), "102", U("Привет"), U("403 Forbidden")));
    TSmsHistoryForm* form = TSmsHistoryForm::Open(SmsManager().History, Main.get());
    ASSERT_NE(form, nullptr);
    Ui.File(QString::fromStdString(Data.dir().file("out.csv")));
    EXPECT_TRUE(Trigger(form, "ExportTB"));
    const std::string csv = Data.dir().read("out.csv");
    EXPECT_NE(csv.find(";Ошибка соединения с SMS шлюзом: сервер не найден;"), std::string::npos) << csv;
    EXPECT_NE(csv.find(";Ошибка: 403 Forbidden;"), std::string::npos) << csv;
}

// "Повторить" is there for failed records only and queues the same text to the
// same contact of the address book; the recipient list stays as it was.
TEST_F(TSmsHistoryFormTest, RetryQueuesTheSameTextToTheSameContact)
{
    TSmsManager& m = SmsManager();
    auto* anna = new TContact;
    anna->SetName(U("Анна"));
    anna->PhoneNumber = "101";
    m.AddContact(anna);
    Data.dir().write("SmsHistory.txt", Record(U("Анна"), "101", U("Отправлено")) +
                                           Record(U("Анна"), "101", U("Купи хлеба"), U("Нет связи")) +
                                           Record(U("Пётр"), "103", U("Ушло в никуда"), U("Нет связи")));
    TSmsHistoryForm* form = TSmsHistoryForm::Open(m.History, Main.get());
    ASSERT_NE(form, nullptr);
    QSignalSpy queued(form, &TSmsHistoryForm::SmsQueued);
    auto* list = form->findChild<QTreeView*>("HistoryListView");
    list->setCurrentIndex(list->model()->index(0, 0));
    EXPECT_FALSE(Trigger(form, "RetryTB")); // sent: nothing to repeat
    list->setCurrentIndex(list->model()->index(1, 0));
    EXPECT_TRUE(Trigger(form, "RetryTB"));
    ASSERT_EQ(m.Queue.Count(), 1);
    EXPECT_EQ(m.Queue.Items(0)->Contact, anna);
    EXPECT_EQ(m.Queue.Items(0)->Text, U("Купи хлеба"));
    EXPECT_EQ(m.Recipients.Contacts.Count(), 0);
    EXPECT_EQ(queued.size(), 1);

    list->setCurrentIndex(list->model()->index(2, 0)); // no such contact any more
    EXPECT_TRUE(Trigger(form, "RetryTB"));
    EXPECT_EQ(m.Queue.Count(), 1);
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error),
              QStringList {QStringLiteral("Абонента «Пётр» нет в адресной книге: сообщение не поставлено в очередь.")});
}

// Brackets in the phone ("8 (900) ...") or in the name do not move the line
// between them: "Повторить" finds the contact.
TEST_F(TSmsHistoryFormTest, RetryFindsContactsWithBracketsInThePhoneOrTheName)
{
    TSmsManager& m = SmsManager();
    for (const auto& [name, phone] : {std::pair {U("Глеб"), std::string("8 (900) 444-00-04")},
                                      std::pair {U("Иван (работа)"), std::string("+7 (916) 1")}}) {
        auto* contact = new TContact;
        contact->SetName(name);
        contact->PhoneNumber = phone;
        m.AddContact(contact);
        Data.dir().write("SmsHistory.txt", Record(name, phone, U("Купи хлеба"), U("Нет связи")));
        TSmsHistoryForm* form = TSmsHistoryForm::Open(m.History, Main.get());
        ASSERT_NE(form, nullptr);
        auto* list = form->findChild<QTreeView*>("HistoryListView");
        list->setCurrentIndex(list->model()->index(0, 0));
        EXPECT_TRUE(Trigger(form, "RetryTB"));
        ASSERT_EQ(m.Queue.Count(), 1) << Cp1251ToUtf8(name);
        EXPECT_EQ(m.Queue.Items(0)->Contact, contact);
        m.ClearQueue();
        form->close();
    }
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error), QStringList {});
}

// A record whose name the book no longer has finds its contact by the number
// written another way; its text goes as the composer sends it.
TEST_F(TSmsHistoryFormTest, RetryFindsTheContactByTheSameNumberAndSendsTheTextAsTheComposerDoes)
{
    TSmsManager& m = SmsManager();
    auto* dina = new TContact;
    dina->SetName(U("Дина"));
    dina->PhoneNumber = "9161234501";
    m.AddContact(dina);
    Data.dir().write("SmsHistory.txt", Record(U("Дина Старая"), "+7 (916) 123-45-01", U("Купи хлеба\r\nи молока"),
                                              U("Нет связи")));
    TSmsHistoryForm* form = TSmsHistoryForm::Open(m.History, Main.get());
    ASSERT_NE(form, nullptr);
    auto* list = form->findChild<QTreeView*>("HistoryListView");
    list->setCurrentIndex(list->model()->index(0, 0));
    EXPECT_TRUE(Trigger(form, "RetryTB"));
    ASSERT_EQ(m.Queue.Count(), 1);
    EXPECT_EQ(m.Queue.Items(0)->Contact, dina);
    EXPECT_EQ(m.Queue.Items(0)->Text, U("Купи хлеба и молока"));
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error), QStringList {});
}
