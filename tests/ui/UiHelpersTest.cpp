#include "UiTestSupport.h"
#include "model/AddressBook.h"
#include "support/TestSupport.h"
#include "ui/ObjectListModel.h"
#include "ui/dialogs/UiHelpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QStringListModel>
#include <QTreeView>

#include <algorithm>
#include <random>

TEST(UiHelpers, ScriptAnswersInOrderAndCountsWhatFoundNoAnswer)
{
    TUiScript ui;
    ui.Yes().No();
    EXPECT_TRUE(AskConfirmation(QStringLiteral("Первый?\rВторая строка")));
    EXPECT_FALSE(AskConfirmation(QStringLiteral("Второй?")));
    EXPECT_FALSE(AskConfirmation(QStringLiteral("Третий?"))); // no answer left: No, never a hang
    EXPECT_EQ(AskText("t", "p", "x"), std::nullopt);
    EXPECT_EQ(ui.Unanswered, 2);
    ASSERT_EQ(ui.Calls.size(), 4u);
    EXPECT_EQ(ui.Calls[0].Title, QStringLiteral("Подтверждение"));
    EXPECT_EQ(ui.Calls[0].Text, QStringLiteral("Первый?\rВторая строка")); // kept as passed
}

TEST(UiHelpers, GuardShowsTheTrimmedMessageAndTopLevelAddsAFullStop)
{
    TUiScript ui;
    EXPECT_FALSE(Guard([] { throw TError(U("  Нет связи\r\n")); }));
    EXPECT_TRUE(Guard([] {}));
    ASSERT_EQ(ui.Calls.size(), 1u);
    EXPECT_EQ(ui.Calls[0].Title, QStringLiteral("Ошибка"));
    EXPECT_EQ(ui.Calls[0].Text, QStringLiteral("Нет связи"));
    // A full stop only after a character whose code is above that of ".".
    EXPECT_EQ(TopLevelErrorText(U("Файл не найден")), QStringLiteral("Файл не найден."));
    EXPECT_EQ(TopLevelErrorText(U("Готово.")), QStringLiteral("Готово."));
    EXPECT_EQ(TopLevelErrorText(U("Что?")), QStringLiteral("Что?."));
    EXPECT_EQ(TopLevelErrorText(U("Так!")), QStringLiteral("Так!"));
}

// A real box (no script): a name that looks like markup is shown as typed.
TEST(UiHelpers, BoxesShowTextsAsTypedNotAsMarkup)
{
    TestApp();
    QString shown;
    Qt::TextFormat format = Qt::RichText;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                shown = box->text();
                format = box->textFormat();
                box->buttons().front()->click();
            }
    });
    ShowInfoBox(QStringLiteral("Удалить группу [<b>Друзья</b>]?"));
    EXPECT_EQ(shown, QStringLiteral("Удалить группу [<b>Друзья</b>]?"));
    EXPECT_EQ(format, Qt::PlainText);
}

// The input dialog as AskText runs it: wide enough for the frame to show the
// caption whole (in bold, beside an icon and three buttons of about a line
// height each), one line, and no empty prompt line when there is no prompt.
TEST(UiHelpers, InputDialogShowsItsCaptionWholeOverOneLine)
{
    TestApp();
    struct TCase {
        QString Caption, Prompt;
    };
    for (const TCase& c : {TCase {QStringLiteral("Создание шаблона SMS"), QString()},
                           TCase {QStringLiteral("Добавление нового оператора"), QStringLiteral("Наименование оператора")}}) {
        int width = 0, titleRoom = 0, lineEdits = -1;
        QStringList labels;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible()) {
                    width = dialog->width();
                    QFont bold = dialog->font();
                    bold.setBold(true);
                    const QFontMetrics metrics(bold);
                    titleRoom = metrics.horizontalAdvance(dialog->windowTitle()) + 4 * metrics.height();
                    lineEdits = static_cast<int>(dialog->findChildren<QLineEdit*>().size());
                    for (QLabel* label : dialog->findChildren<QLabel*>())
                        if (label->isVisible())
                            labels << label->text();
                    dialog->findChild<QLineEdit*>()->setText(QStringLiteral("МТС"));
                    dialog->accept();
                }
        });
        EXPECT_EQ(AskText(c.Caption, c.Prompt, QString()), QStringLiteral("МТС"));
        EXPECT_GE(width, titleRoom) << c.Caption.toStdString();
        EXPECT_EQ(lineEdits, 1);
        EXPECT_EQ(labels, c.Prompt.isEmpty() ? QStringList() : QStringList {c.Prompt}) << c.Caption.toStdString();
    }
}

TEST(UiHelpers, CheckNonNegativeIntAcceptsTrimmedNumbersOnly)
{
    EXPECT_EQ(CheckNonNegativeInt(QStringLiteral(" 12\t"), QStringLiteral("м")), 12);
    EXPECT_EQ(CheckNonNegativeInt(QStringLiteral("0"), QStringLiteral("м")), 0);
    for (const char* bad : {"-1", "", "1a", "  "})
        EXPECT_EQ(ErrorOf([&] { CheckNonNegativeInt(QString::fromLatin1(bad), QStringLiteral("Указан неверный номер порта.")); }),
                  U("Указан неверный номер порта."))
            << bad;
}

TEST(UiHelpers, ScriptedDialogIsDrivenWithoutAModalLoop)
{
    TestApp();
    TUiScript ui;
    ui.Dialog([](QDialog& d) { d.accept(); });
    QDialog dialog;
    dialog.setObjectName("Probe");
    EXPECT_EQ(RunDialog(dialog), QDialog::Accepted);
    EXPECT_EQ(RunDialog(dialog), QDialog::Rejected); // nothing scripted: cancelled
    EXPECT_EQ(ui.Unanswered, 1);
}

TEST(ObjectListModel, SortsWithTheRussianCollatorAndFollowsTheList)
{
    TestApp();
    const QStringList expected = {"(Все Абоненты)", "(Найденные Абоненты)", "10", "9", "елка", "Елка", "ёлка",
                                  "Ёлка", "alpha", "Alpha"};
    QStringListModel texts(QStringList{"ёлка", "Alpha", "9", "(Найденные Абоненты)", "Елка", "alpha", "елка", "10",
                                       "Ёлка", "(Все Абоненты)"});
    TCollatedSortModel collated(nullptr);
    collated.setSourceModel(&texts);
    QTreeView plain;
    plain.setModel(&collated);
    EXPECT_EQ(Rows(&plain), expected); // case-sensitive, not code-point order

    TGroupList groups(true);
    for (const char* name : {"ёлка", "Alpha", "9", "Борис"}) {
        auto* g = new TGroup;
        g->SetName(U(name));
        groups.Add(g);
    }
    TObjectListModel<TGroup> model([](const TGroup* g) { return g->Name(); }, nullptr);
    TCollatedSortModel sorted(nullptr);
    sorted.setSourceModel(&model);
    QTreeView view;
    view.setModel(&sorted);
    model.SetList(&groups);
    EXPECT_EQ(Rows(&view), (QStringList{"9", "Борис", "ёлка", "Alpha"}));

    // A rename re-sorts, a removal drops the row, an append shows; the selection follows its object.
    ASSERT_TRUE(SelectRow(&view, QStringLiteral("Alpha")));
    groups[1]->SetName(U("Абрикос"));
    groups.Delete(0);
    auto* g = new TGroup;
    g->SetName(U("Яков"));
    groups.Add(g);
    model.Sync();
    EXPECT_EQ(Rows(&view), (QStringList{"9", "Абрикос", "Борис", "Яков"}));
    EXPECT_EQ(SelectedText(&view), QStringLiteral("Абрикос"));
    EXPECT_EQ(model.ObjectAt(sorted.mapToSource(view.currentIndex())), groups[0]);
}

// A whole address book is sorted in slices side by side and merged: the rows
// must come out exactly as one stable sort with the collator gives them
// (equal captions in list order), at the first fill and when many are added.
TEST(ObjectListModel, ManyRowsSortAsOneStableSortWithTheCollator)
{
    TestApp();
    static const char* const parts[] = {"ёж", "Ёж", "еж", "Еж", "ель", "Ель", "a", "A", "б", "Б", " ", "-", "1", "10", "я"};
    std::mt19937 random(7);
    auto name = [&] {
        std::string text;
        for (int k = 0, n = 1 + static_cast<int>(random() % 3); k < n; ++k)
            text += parts[random() % std::size(parts)];
        return U(text.c_str());
    };
    // Names are unique in a list; the caption here is the phone field, which
    // holds one of few texts: many equal captions.
    TContactList contacts(true);
    auto add = [&](int count) {
        for (int i = 0; i < count; ++i) {
            auto* c = new TContact;
            c->SetName("c" + std::to_string(contacts.Count()));
            c->PhoneNumber = name();
            contacts.Add(c);
        }
    };
    auto expected = [&] {
        std::vector<const TContact*> order;
        for (const TContact* c : contacts)
            order.push_back(c);
        std::stable_sort(order.begin(), order.end(), [](const TContact* a, const TContact* b) {
            return RussianCollator().compare(ToQt(a->PhoneNumber), ToQt(b->PhoneNumber)) < 0;
        });
        return order;
    };
    TObjectListModel<TContact> model([](const TContact* c) { return c->PhoneNumber; }, nullptr);
    auto rows = [&] {
        std::vector<const TContact*> shown;
        for (int row = 0; row < model.rowCount(); ++row)
            shown.push_back(model.ObjectAt(model.index(row)));
        return shown;
    };
    add(9000);
    model.SetList(&contacts);
    EXPECT_EQ(rows(), expected());
    add(6000); // taken in by Sync: merged behind the equal captions already shown
    model.Sync();
    EXPECT_EQ(rows(), expected());
    EXPECT_EQ(model.data(model.index(0), Qt::DisplayRole).toString(), ToQt(expected()[0]->PhoneNumber));
}
