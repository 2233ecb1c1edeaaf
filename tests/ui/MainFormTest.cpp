#include "support/TestSupport.h"
#include "ui/UiText.h"
#include "ui/main/MainForm.h"

#include "UiTestSupport.h"

#include <QLabel>

TEST(UiText, BoundaryConversionKeepsCyrillicAndMarksTheUnmappable)
{
    EXPECT_EQ(ToQt(U("Ёжик в тумане")), QStringLiteral("Ёжик в тумане"));
    EXPECT_EQ(FromQt(QStringLiteral("Ёжик")), U("Ёжик"));
    EXPECT_EQ(FromQt(QString::fromUtf8("a\xF0\x9F\x98\x80" "b")), "a?b"); // a surrogate pair is one character
    EXPECT_EQ(ToQt("\x98"), QString(QChar(0xFFFD)));
    EXPECT_EQ(FromQt(QStringLiteral("€№")), "\x88\xB9");
}

TEST(MainForm, OpensWithItsTitleAndClosesCleanly)
{
    TestApp();
    auto* form = new TMainForm;
    form->show();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Velotext"));
    auto* label = form->findChild<QLabel*>("WelcomeLabel");
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().contains(QStringLiteral("SMS")));
    EXPECT_TRUE(form->close());
    delete form;
}
