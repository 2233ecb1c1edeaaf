// The transliteration dialog: the grid of entries that differ from their own
// character, the save rules (defaults, then the rows; keys trimmed to one
// character), refused keys, and a save without edits that changes nothing.
#include "model/Translit.h"
#include "support/TestSupport.h"
#include "ui/dialogs/TranslitDlg.h"
#include "ui/dialogs/UiHelpers.h"

#include "UiTestSupport.h"

#include <QAction>
#include <QPushButton>
#include <QTableWidget>

namespace {

class TranslitDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ResetTranslitTable();
    }
    void TearDown() override
    {
        ResetTranslitTable();
        EXPECT_EQ(Ui.Unanswered, 0);
    }
    // Runs the dialog; `edit` works on its grid; then the named button is pressed.
    bool Run(const std::function<void(QDialog&, QTableWidget*)>& edit, const char* button = "SaveButton")
    {
        Ui.Dialog([&](QDialog& dialog) {
            auto* grid = dialog.findChild<QTableWidget*>("CharsetListEditor");
            ASSERT_NE(grid, nullptr);
            edit(dialog, grid);
            dialog.findChild<QPushButton*>(button)->click();
        });
        return TTranslitDlg::Execute();
    }
    static int RowOf(QTableWidget* grid, const QString& key)
    {
        for (int row = 0; row < grid->rowCount(); ++row)
            if (grid->item(row, 0)->text() == key)
                return row;
        return -1;
    }
    static void AddRow(QDialog& dialog, QTableWidget* grid, const QString& key, const QString& value)
    {
        ASSERT_TRUE(Trigger(&dialog, "AddRowAction"));
        const int row = grid->rowCount() - 1;
        grid->item(row, 0)->setText(key);
        grid->item(row, 1)->setText(value);
    }

    TUiScript Ui;
};

TEST_F(TranslitDlgTest, SavingWithoutEditsKeepsTheTableIncludingTheHyphensBlank)
{
    TranslitTable()[static_cast<unsigned char>('\x01')] = "x"; // a key the trim would drop
    const TTranslitTable before = TranslitTable();
    QStringList keys;
    EXPECT_TRUE(Run([&](QDialog&, QTableWidget* grid) {
        for (int row = 0; row < grid->rowCount(); ++row)
            keys << grid->item(row, 0)->text();
        EXPECT_EQ(grid->item(RowOf(grid, "-"), 1)->text(), QString()); // the blank, shown trimmed
    }));
    EXPECT_EQ(keys.size(), 71);
    EXPECT_EQ(keys.value(1), QStringLiteral("-"));
    EXPECT_EQ(keys.last(), QStringLiteral("я"));
    EXPECT_TRUE(TranslitTable() == before);
    EXPECT_EQ(Translit(U("SMS-шлюз")), "SMS shljuz");
}

TEST_F(TranslitDlgTest, SaveAppliesRowsOverTheDefaultsAndIgnoresKeysThatAreNotOneCharacter)
{
    TranslitTable()[static_cast<unsigned char>('w')] = "vv"; // a user entry, then its row deleted
    EXPECT_TRUE(Run([&](QDialog& dialog, QTableWidget* grid) {
        grid->setCurrentCell(RowOf(grid, "w"), 0);
        ASSERT_TRUE(Trigger(&dialog, "DeleteRowAction"));
        grid->setCurrentCell(RowOf(grid, QStringLiteral("а")), 0);
        ASSERT_TRUE(Trigger(&dialog, "DeleteRowAction")); // a default row: its default comes back
        grid->item(RowOf(grid, QStringLiteral("б")), 1)->setText(QString()); // б vanishes
        grid->item(RowOf(grid, QStringLiteral("в")), 1)->setText(QStringLiteral("  w  "));
        AddRow(dialog, grid, QStringLiteral(" q "), QStringLiteral("k"));
        AddRow(dialog, grid, QStringLiteral("ab"), QStringLiteral("z"));
        AddRow(dialog, grid, QStringLiteral("\t"), QStringLiteral("T"));
    }));
    EXPECT_EQ(Translit(U("абвqw")), "awkw");
    EXPECT_EQ(TranslitTable()[static_cast<unsigned char>('\t')], "\t");
    EXPECT_EQ(TranslitTable()[static_cast<unsigned char>('a')], "a");
}

TEST_F(TranslitDlgTest, DuplicateKeysAndEqualsSignsAreRefusedAndCancelKeepsTheTable)
{
    const TTranslitTable before = TranslitTable();
    EXPECT_FALSE(Run(
        [&](QDialog& dialog, QTableWidget* grid) {
            AddRow(dialog, grid, QStringLiteral("ж"), QStringLiteral("j"));      // ж is there already
            EXPECT_EQ(grid->item(grid->rowCount() - 1, 0)->text(), QString()); // back to what it was
            grid->item(RowOf(grid, QStringLiteral("ж")), 0)->setText(QStringLiteral("Ж")); // case counts: refused
            grid->item(grid->rowCount() - 1, 0)->setText(QStringLiteral("="));
            EXPECT_EQ(grid->item(grid->rowCount() - 1, 0)->text(), QString());
            grid->item(grid->rowCount() - 1, 0)->setText(QStringLiteral("ü")); // would become "?"
            EXPECT_EQ(grid->item(grid->rowCount() - 1, 0)->text(), QString());
            grid->item(RowOf(grid, QStringLiteral("я")), 1)->setText(QStringLiteral("ya"));
        },
        "CancelButton"));
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error),
              (QStringList{QStringLiteral("Символ \"ж\" уже есть в таблице."),
                           QStringLiteral("Символ \"Ж\" уже есть в таблице."),
                           QStringLiteral("Символ не может содержать знак \"=\"."),
                           QStringLiteral("Символа \"ü\" нет в кодировке Windows-1251.")}));
    EXPECT_TRUE(TranslitTable() == before);
}

} // namespace
