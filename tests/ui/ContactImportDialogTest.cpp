#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "support/TestSupport.h"
#include "ui/UiText.h"
#include "ui/dialogs/ContactImportDialog.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"

#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <thread>

namespace {

class TContactImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ResetSmsManagerForTests();
        Mts = AddSender("МТС");
        Beeline = AddSender("Билайн");
        Ivan = new TContact;
        Ivan->SetName(U("Иван"));
        Ivan->PhoneNumber = "+79160000001";
        Ivan->SmsSender = Mts;
        M().AddContact(Ivan);
        Form = std::make_unique<TMainForm>();
        Form->show();
    }
    void TearDown() override
    {
        SetImportWorkerHook(nullptr);
        Form.reset();
        ResetSmsManagerForTests();
        EXPECT_EQ(Ui.Unanswered, 0);
    }
    static TSmsManager& M() { return SmsManager(); }
    static TStdSmsSender* AddSender(const char* name)
    {
        auto* s = new TStdSmsSender;
        s->SetName(U(name));
        M().AddSmsSender(s);
        return s;
    }
    void Trigger(const char* action)
    {
        QAction* a = Form->findChild<QAction*>(action);
        ASSERT_NE(a, nullptr) << action;
        a->trigger();
    }
    static TGroup* GroupNamed(const char* name)
    {
        const int at = M().Groups.IndexOfName(U(name));
        return at >= 0 ? M().Groups[at] : nullptr;
    }
    static std::vector<std::string> Members(const TGroup* group)
    {
        std::vector<std::string> names;
        for (const TContact* c : group->Contacts)
            names.push_back(c->Name());
        return names;
    }

    TScopedDataDir Data;
    TUiScript Ui;
    TStdSmsSender* Mts;
    TStdSmsSender* Beeline;
    TContact* Ivan;
    std::unique_ptr<TMainForm> Form;
};

const char* const ThreeCards = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Иван\r\nTEL;TYPE=CELL:+7 916 000-00-09\r\nEND:VCARD\r\n"
                               "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Оля\r\nTEL:8 916 000 00 02\r\nCATEGORIES:Семья\r\nEND:VCARD\r\n"
                               "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Пётр\r\nTEL:+79160000003\r\nEND:VCARD\r\n";

} // namespace

TEST_F(TContactImportTest, TheMenuImportsAFileWithTheChoicesMadeInThePreview)
{
    QStringList items;
    for (QAction* menu : Form->menuBar()->actions())
        if (menu->text() == QStringLiteral("&Абоненты"))
            for (QAction* item : menu->menu()->actions())
                items << item->text();
    EXPECT_TRUE(items.contains(QStringLiteral("И&мпорт абонентов...")));
    EXPECT_TRUE(items.contains(QStringLiteral("&Экспорт абонентов...")));

    Data.dir().write("phone.vcf", ThreeCards);
    Ui.File(ToQt(Data.dir().file("phone.vcf")));
    bool okWasOffWithoutOperator = false;
    QString counts;
    Ui.Dialog([&](QDialog& d) {
        auto* ok = d.findChild<QPushButton*>("OkButton");
        okWasOffWithoutOperator = !ok->isEnabled();
        auto* sender = d.findChild<QComboBox*>("SenderCombo");
        sender->setCurrentIndex(sender->findText(QStringLiteral("Билайн")));
        d.findChild<QComboBox*>("GroupCombo")->setEditText(QStringLiteral("С телефона"));
        d.findChild<QRadioButton*>("UpdateRadio")->click();
        counts = d.findChild<QLabel*>("CountsLabel")->text();
        ok->click();
    });
    Trigger("ImportContactsAction");

    EXPECT_TRUE(okWasOffWithoutOperator);
    EXPECT_EQ(counts, QStringLiteral("Новых: 2, обновится: 1, пропущено: 0, отклонено: 0"));
    ASSERT_EQ(M().Contacts().Count(), 3);
    EXPECT_EQ(Ivan->PhoneNumber, "+7 916 000-00-09"); // updated, written as in the file
    EXPECT_EQ(Ivan->SmsSender, Mts);                   // its own operator kept
    TContact* olya = M().Contacts()[1];
    EXPECT_EQ(olya->Name(), U("Оля"));
    EXPECT_EQ(olya->PhoneNumber, "8 916 000 00 02");
    EXPECT_EQ(olya->SmsSender, Beeline);
    ASSERT_NE(GroupNamed("С телефона"), nullptr);
    EXPECT_EQ(Members(GroupNamed("С телефона")), (std::vector<std::string>{U("Иван"), U("Оля"), U("Пётр")}));
    ASSERT_NE(GroupNamed("Семья"), nullptr);
    EXPECT_EQ(Members(GroupNamed("Семья")), std::vector<std::string>{U("Оля")});
}

TEST_F(TContactImportTest, CancellingTheReadingChangesNothing)
{
    Data.dir().write("phone.vcf", ThreeCards);
    // The reading waits until the user has pressed "Отмена" in the progress window.
    SetImportWorkerHook([](const std::atomic<bool>& cancel) {
        while (!cancel.load())
            std::this_thread::yield();
    });
    bool pressed = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* progress = qobject_cast<QProgressDialog*>(w); progress && progress->isVisible()) {
                progress->findChild<QPushButton*>()->click();
                pressed = true;
            }
    });
    Ui.File(ToQt(Data.dir().file("phone.vcf")));
    Trigger("ImportContactsAction");
    EXPECT_TRUE(pressed);
    EXPECT_EQ(M().Contacts().Count(), 1);
    EXPECT_EQ(M().Groups.Count(), 2);
    for (const TUiCall& call : Ui.Calls)
        EXPECT_NE(call.Kind, TUiCallKind::Dialog) << "no preview after a cancel";
}

TEST_F(TContactImportTest, ABadFileIsRefusedInABoxAndChangesNothing)
{
    Data.dir().write("photo.vcf", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
    Data.dir().write("cut.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:A\nTEL:+79160000005\n");
    // 200 MB without using the disk: a sparse file.
    Data.dir().write("huge.vcf", "BEGIN:VCARD\n");
    std::filesystem::resize_file(Data.dir().file("huge.vcf"), 200ull * 1024 * 1024);
    Ui.File(ToQt(Data.dir().file("photo.vcf")))
        .File(ToQt(Data.dir().file("cut.vcf")))
        .File(ToQt(Data.dir().file("huge.vcf")));
    Trigger("ImportContactsAction");
    Trigger("ImportContactsAction");
    Trigger("ImportContactsAction");
    const QStringList errors = Ui.Texts(TUiCallKind::Error);
    ASSERT_EQ(errors.size(), 3);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("нулевые байты"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[1].contains(QStringLiteral("Файл оборван"))) << errors[1].toStdString();
    EXPECT_TRUE(errors[2].contains(QStringLiteral("слишком велик для импорта: 200 МБ"))) << errors[2].toStdString();
    EXPECT_EQ(M().Contacts().Count(), 1);
}

TEST_F(TContactImportTest, PastingNumbersIntoTheRecipientsGoesThroughThePreview)
{
    QApplication::clipboard()->setText(QStringLiteral("+7 916 000-00-07 Оля\n89160000001, 8 916 000 00 08"));
    Ui.Dialog([&](QDialog& d) {
        auto* sender = d.findChild<QComboBox*>("SenderCombo");
        sender->setCurrentIndex(sender->findText(QStringLiteral("МТС")));
        d.findChild<QComboBox*>("GroupCombo")->setEditText(QStringLiteral("Рассылка"));
        d.findChild<QPushButton*>("OkButton")->click();
    });
    auto* recipients = Form->findChild<QTreeView*>("RecepientsListView");
    recipients->setFocus();
    QTest::keyClick(recipients, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(M().Contacts().Count(), 3);
    EXPECT_EQ(M().Contacts()[1]->Name(), U("Оля"));
    EXPECT_EQ(M().Contacts()[2]->Name(), "8 916 000 00 08"); // named by its number
    // Every pasted number is a recipient, the one the book had too.
    EXPECT_EQ(M().Recipients.Contacts.Count(), 3);
    EXPECT_GE(M().Recipients.Contacts.IndexOf(Ivan), 0);
    // The chosen group takes them all, in the order pasted, the contact the book had too.
    ASSERT_NE(GroupNamed("Рассылка"), nullptr);
    EXPECT_EQ(Members(GroupNamed("Рассылка")), (std::vector<std::string>{U("Оля"), U("Иван"), "8 916 000 00 08"}));
}

TEST_F(TContactImportTest, ExportOfTheSelectedGroupReadsBackIntoAnEmptyBook)
{
    auto* group = new TGroup(false);
    group->SetName(U("Коллеги"));
    M().AddGroup(group);
    M().AddContactToGroup(Ivan, group);
    Form->FillGroups();
    ASSERT_TRUE(SelectRow(Form->findChild<QTreeView*>("GroupsListView"), QStringLiteral("Коллеги")));
    Ui.File(ToQt(Data.dir().file("out.csv")));
    const mode_t umaskBefore = ::umask(022);
    Trigger("ExportContactsAction");
    ::umask(umaskBefore);
    ASSERT_EQ(Ui.Texts(TUiCallKind::Info), QStringList{QStringLiteral("Выгружено абонентов: 1.")});
    struct stat st {};
    ASSERT_EQ(::stat(Data.dir().file("out.csv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // the user's alone, whatever the umask
    const TImportSource back = ReadContactFile(Data.dir().file("out.csv"));
    ASSERT_EQ(back.Rows.size(), 1u);
    EXPECT_EQ(back.Rows[0].Name, U("Иван"));
    EXPECT_EQ(back.Rows[0].SenderName, U("МТС"));
    EXPECT_EQ(back.Rows[0].Groups, std::vector<std::string>{U("Коллеги")});
}

// A Cyrillic name typed without an extension: written under that name (UTF-8)
// with ".vcf", the first filter's.
TEST_F(TContactImportTest, ExportToANameWithoutExtensionWritesAVCardUnderTheNameAsTyped)
{
    Form->FillGroups();
    ASSERT_TRUE(SelectRow(Form->findChild<QTreeView*>("GroupsListView"), QStringLiteral("(Все Абоненты)")));
    Ui.File(QString::fromStdString(Data.dir().file("Контакты")));
    Trigger("ExportContactsAction");
    ASSERT_EQ(Ui.Texts(TUiCallKind::Info).size(), 1);
    const std::string written = Data.dir().file("Контакты.vcf"); // UTF-8 bytes, as the desktop names files
    ASSERT_TRUE(std::filesystem::exists(written));
    EXPECT_EQ(ReadContactFile(written).Rows.size(), static_cast<size_t>(M().Contacts().Count()));
}

TEST_F(TContactImportTest, ChoosingAnotherCsvColumnMakesTheRowsAnew)
{
    // A mail program's export whose mobile column is empty for one contact.
    Data.dir().write("book.csv", "First Name,Last Name,Mobile Phone,Home Phone\r\n"
                                 "Анна,Орлова,,+7 495 000-00-11\r\n"
                                 "Борис,Зуев,+7 916 000-00-12,\r\n");
    Ui.File(ToQt(Data.dir().file("book.csv")));
    QStringList counts;
    Ui.Dialog([&](QDialog& d) {
        auto* sender = d.findChild<QComboBox*>("SenderCombo");
        sender->setCurrentIndex(sender->findText(QStringLiteral("МТС")));
        auto* phone = d.findChild<QComboBox*>("PhoneColumnCombo");
        EXPECT_EQ(phone->currentText(), QStringLiteral("Мобильный, иначе первый"));
        phone->setCurrentIndex(phone->findText(QStringLiteral("Mobile Phone")));
        counts << d.findChild<QLabel*>("CountsLabel")->text();
        phone->setCurrentIndex(phone->findText(QStringLiteral("Home Phone")));
        counts << d.findChild<QLabel*>("CountsLabel")->text();
        // Another name column, then the two joined again: first and last names.
        auto* name = d.findChild<QComboBox*>("NameColumnCombo");
        const int joined = name->currentIndex();
        name->setCurrentIndex(name->findText(QStringLiteral("Last Name")));
        name->setCurrentIndex(joined);
        d.findChild<QPushButton*>("OkButton")->click();
    });
    Trigger("ImportContactsAction");
    EXPECT_EQ(counts, (QStringList{QStringLiteral("Новых: 1, обновится: 0, пропущено: 0, отклонено: 1"),
                                   QStringLiteral("Новых: 1, обновится: 0, пропущено: 0, отклонено: 1")}));
    ASSERT_EQ(M().Contacts().Count(), 2);
    EXPECT_EQ(M().Contacts()[1]->Name(), U("Анна Орлова"));
    EXPECT_EQ(M().Contacts()[1]->PhoneNumber, "+7 495 000-00-11");
}

TEST_F(TContactImportTest, APastedNumberUnderAKnownNameDoesNotMakeThatContactARecipient)
{
    // The book's Ivan has another number: skipping the row must not send to his.
    QApplication::clipboard()->setText(QStringLiteral("+7 916 000-00-99 Иван\n+7 916 000-00-98 Зоя"));
    Ui.Dialog([&](QDialog& d) {
        auto* sender = d.findChild<QComboBox*>("SenderCombo");
        sender->setCurrentIndex(sender->findText(QStringLiteral("МТС")));
        d.findChild<QPushButton*>("OkButton")->click();
    });
    auto* recipients = Form->findChild<QTreeView*>("RecepientsListView");
    recipients->setFocus();
    QTest::keyClick(recipients, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(M().Recipients.Contacts.Count(), 1);
    EXPECT_EQ(M().Recipients.Contacts[0]->Name(), U("Зоя"));
    EXPECT_EQ(Ivan->PhoneNumber, "+79160000001");
}

// The pasted ten digits are the number the book has after "+7": that contact
// becomes the recipient, no second contact is made.
TEST_F(TContactImportTest, APastedNumberWithoutItsCountryCodeFindsTheContact)
{
    QApplication::clipboard()->setText(QStringLiteral("(916) 000-00-01\n+7 916 000-00-55 Зоя"));
    Ui.Dialog([&](QDialog& d) {
        auto* sender = d.findChild<QComboBox*>("SenderCombo");
        sender->setCurrentIndex(sender->findText(QStringLiteral("МТС")));
        d.findChild<QPushButton*>("OkButton")->click();
    });
    auto* recipients = Form->findChild<QTreeView*>("RecepientsListView");
    recipients->setFocus();
    QTest::keyClick(recipients, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(M().Contacts().Count(), 2); // Зоя only
    ASSERT_EQ(M().Recipients.Contacts.Count(), 2);
    EXPECT_EQ(M().Recipients.Contacts[0], Ivan);
}

TEST_F(TContactImportTest, AMailClientsFoldedVCardAndAnOutlookCsvComeInWhole)
{
    const std::string samples = std::string(VELOTEXT_TEST_DATA_DIR) + "/contacts/";
    Ui.File(QString::fromStdString(samples + "mail-client-3.0.vcf")).File(QString::fromStdString(samples + "outlook.csv"));
    QString phoneChoice, shownPhone, phoneTip;
    auto chooseMtsAndOk = [](QDialog& d) {
        auto* sender = d.findChild<QComboBox*>("SenderCombo");
        sender->setCurrentIndex(sender->findText(QStringLiteral("МТС")));
        d.findChild<QPushButton*>("OkButton")->click();
    };
    Ui.Dialog(chooseMtsAndOk).Dialog([&](QDialog& d) {
        phoneChoice = d.findChild<QComboBox*>("PhoneColumnCombo")->currentText();
        const QAbstractItemModel* rows = d.findChild<QTableView*>("RowsView")->model();
        shownPhone = rows->index(0, 1).data().toString();
        phoneTip = rows->index(0, 1).data(Qt::ToolTipRole).toString();
        chooseMtsAndOk(d);
    });
    Trigger("ImportContactsAction");
    Trigger("ImportContactsAction");
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error), QStringList());

    const int anna = M().Contacts().IndexOfName(U("Анна-Мария Константиновна Воскресенская-Преображенская"));
    ASSERT_GE(anna, 0);
    EXPECT_EQ(M().Contacts()[anna]->PhoneNumber, "+7 (916) 123-45-67");
    ASSERT_NE(GroupNamed("Одноклассники, выпуск 1998"), nullptr);

    EXPECT_EQ(phoneChoice, QStringLiteral("Мобильный, иначе первый"));
    EXPECT_EQ(shownPhone, QStringLiteral("+7 (916) 100-00-02"));
    EXPECT_TRUE(phoneTip.contains(QStringLiteral("+7 (495) 100-00-01"))) << phoneTip.toStdString();
    EXPECT_TRUE(phoneTip.contains(QStringLiteral("+7 (495) 100-00-03"))) << phoneTip.toStdString();
    const int sergey = M().Contacts().IndexOfName(U("Сергей Орлов"));
    ASSERT_GE(sergey, 0);
    EXPECT_EQ(M().Contacts()[sergey]->PhoneNumber, "+7 (916) 100-00-02");
    ASSERT_NE(GroupNamed("Семья"), nullptr);
    ASSERT_NE(GroupNamed("Друзья"), nullptr);
    EXPECT_GE(GroupNamed("Друзья")->Contacts.IndexOf(M().Contacts()[sergey]), 0);
    EXPECT_EQ(GroupNamed("Семья;Друзья"), nullptr);
    // Gennady's only number is in "Other Phone".
    EXPECT_GE(M().Contacts().IndexOfName(U("Геннадий Шаров")), 0);
}

TEST_F(TContactImportTest, APastedNumberTheBookHoldsSaysItWillBeARecipient)
{
    QApplication::clipboard()->setText(QStringLiteral("+7 916 000-00-07 Оля\n8 (916) 000-00-01"));
    QStringList fates;
    Ui.Dialog([&](QDialog& d) {
        const QAbstractItemModel* rows = d.findChild<QTableView*>("RowsView")->model();
        for (int r = 0; r < rows->rowCount(); ++r)
            fates << rows->index(r, 3).data().toString();
        d.reject();
    });
    auto* recipients = Form->findChild<QTreeView*>("RecepientsListView");
    recipients->setFocus();
    QTest::keyClick(recipients, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(fates.size(), 2);
    EXPECT_EQ(fates[1], QStringLiteral("Уже есть: Иван — будет получателем"));
}

namespace {

// Cards enough for the import to plan off the window's thread and add in slices.
std::string ManyCards(int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Абонент " + std::to_string(i) + "\r\nTEL;TYPE=CELL:+7 903 " +
               std::to_string(1000000 + i) + "\r\nCATEGORIES:Рассылка\r\nEND:VCARD\r\n";
    return out;
}

// Presses "Отмена" of the progress window whose label starts with `label` as soon as it shows progress.
void CancelProgressWhen(const QString& label, int atLeast, bool& pressed)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [=, &pressed] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* progress = qobject_cast<QProgressDialog*>(w);
                progress && progress->isVisible() && progress->labelText().startsWith(label) && progress->value() >= atLeast) {
                progress->findChild<QPushButton*>()->click();
                pressed = true;
                poll->deleteLater();
                return;
            }
    });
    poll->start(1);
}

} // namespace

TEST_F(TContactImportTest, CancellingABigImportWhileItIsAddedChangesNothing)
{
    Data.dir().write("many.vcf", ManyCards(20000));
    Ui.File(ToQt(Data.dir().file("many.vcf")));
    bool pressed = false, stillOpen = false;
    Ui.Dialog([&](QDialog& d) {
        auto* sender = d.findChild<QComboBox*>("SenderCombo");
        sender->setCurrentIndex(sender->findText(QStringLiteral("МТС")));
        CancelProgressWhen(QStringLiteral("Добавление"), 1, pressed);
        d.findChild<QPushButton*>("OkButton")->click();
        stillOpen = d.result() != QDialog::Accepted;
        d.reject();
    });
    Trigger("ImportContactsAction");
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(stillOpen) << "a cancelled addition leaves the preview as it was";
    EXPECT_EQ(M().Contacts().Count(), 1);
    EXPECT_EQ(GroupNamed("Рассылка"), nullptr);
}

TEST_F(TContactImportTest, CancellingABigPlanInThePreviewClosesItWithoutImporting)
{
    Data.dir().write("many.vcf", ManyCards(3000));
    // The first stage (reading) goes on; the plan made anew waits for "Отмена".
    int stages = 0;
    SetImportWorkerHook([&stages](const std::atomic<bool>& cancel) {
        if (++stages < 2)
            return;
        while (!cancel.load())
            std::this_thread::yield();
    });
    Ui.File(ToQt(Data.dir().file("many.vcf")));
    bool pressed = false;
    int result = -1;
    Ui.Dialog([&](QDialog& d) {
        CancelProgressWhen(QStringLiteral("Сравнение"), 0, pressed);
        auto* sender = d.findChild<QComboBox*>("SenderCombo");
        sender->setCurrentIndex(sender->findText(QStringLiteral("МТС")));
        result = d.result();
        if (d.isVisible())
            d.findChild<QPushButton*>("OkButton")->click();
    });
    Trigger("ImportContactsAction");
    EXPECT_TRUE(pressed);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(M().Contacts().Count(), 1);
}

TEST_F(TContactImportTest, AHugeQuotedCsvFieldIsARefusedRowWithAShortName)
{
    // A spreadsheet's export whose first name cell holds 50 MB (a pasted document).
    Data.dir().write("huge-field.csv", "Name,Mobile Phone\r\n\"" + std::string(50 * 1024 * 1024, 'x') +
                                           "\",+7 916 000-00-41\r\nЗоя,+7 916 000-00-42\r\n");
    Ui.File(ToQt(Data.dir().file("huge-field.csv")));
    QString name, fate;
    Ui.Dialog([&](QDialog& d) {
        const QAbstractItemModel* rows = d.findChild<QTableView*>("RowsView")->model();
        name = rows->index(0, 0).data().toString();
        fate = rows->index(0, 3).data().toString();
        auto* sender = d.findChild<QComboBox*>("SenderCombo");
        sender->setCurrentIndex(sender->findText(QStringLiteral("МТС")));
        d.findChild<QPushButton*>("OkButton")->click();
    });
    Trigger("ImportContactsAction");
    EXPECT_LE(name.size(), 65);
    EXPECT_EQ(fate, QStringLiteral("Отклонить: Имя длиннее 64 знаков"));
    ASSERT_EQ(M().Contacts().Count(), 2);
    EXPECT_EQ(M().Contacts()[1]->Name(), U("Зоя"));
}
