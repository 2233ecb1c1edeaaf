// What the main window's start makes before it first appears, and what waits
// until it is up: a lasting window stored hidden is made at the first turn of
// the event loop, one stored shown at once, each in its stored place.
#include "UiTestSupport.h"

#include "engine/SmsManager.h"
#include "engine/StdSmsSenderIo.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"
#include "ui/dialogs/SmsSendersForm.h"
#include "ui/dialogs/SmsTemplatesForm.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"

#include <QAction>
#include <QCoreApplication>
#include <QSettings>

#include <memory>

namespace {

class TStartupOrder : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        SetProgramSettingsFolder(Data.dir().path() + "/settings");
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        ResetTranslitTable();
        RegisterIoClasses();
        TProgramOptions stored;
        stored.Load(); // not a first run: no options dialog
    }
    void TearDown() override
    {
        if (Form)
            Form->close();
        Form.reset();
        ResetSmsManagerForTests();
        ResetProgramOptionsForTests();
        SetProgramSettingsFolder("");
        EXPECT_EQ(Ui.Unanswered, 0);
    }
    void Place(const char* window, int left, int top, bool visible)
    {
        QSettings store(QString::fromStdString(Data.dir().path() + "/settings/Velotext.ini"), QSettings::IniFormat);
        const QString group = QStringLiteral("Windows/") + QLatin1String(window) + QLatin1Char('/');
        store.setValue(group + QStringLiteral("Left"), QString::number(left));
        store.setValue(group + QStringLiteral("Top"), QString::number(top));
        store.setValue(group + QStringLiteral("Width"), QStringLiteral("420"));
        store.setValue(group + QStringLiteral("Height"), QStringLiteral("300"));
        store.setValue(group + QStringLiteral("Visible"), visible ? QStringLiteral("1") : QStringLiteral("0"));
    }
    void Start()
    {
        Form = std::make_unique<TMainForm>();
        Form->SetStartUpOnShow(true);
        Form->show();
        ASSERT_TRUE(Form->StartupState().Complete()) << Form->StartupState().ErrorText;
    }

    TScopedDataDir Data;
    TUiScript Ui;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(TStartupOrder, AHiddenLastingWindowIsMadeOnceTheMainWindowIsUpAShownOneAtOnce)
{
    Place("SmsTemplatesForm", 300, 200, false);
    Place("SmsSendersForm", 120, 80, true);
    Start();
    TSmsSendersForm* senders = TSmsSendersForm::Existing();
    ASSERT_NE(senders, nullptr); // shown with the main window, as it was left
    EXPECT_TRUE(senders->isVisible());
    EXPECT_EQ(TSmsTemplatesForm::Existing(), nullptr); // nothing hidden on the way to the main window

    QCoreApplication::processEvents();
    TSmsTemplatesForm* templates = TSmsTemplatesForm::Existing();
    ASSERT_NE(templates, nullptr);
    EXPECT_FALSE(templates->isVisible());
    EXPECT_EQ(templates->Left(), 300);
    EXPECT_EQ(templates->Top(), 200);
    EXPECT_EQ(templates->Width(), 420);
}

// A lasting window the user opens before its placement came back is left
// where and as it is.
TEST_F(TStartupOrder, AWindowOpenedBeforeItsPlacementCameBackStaysOpen)
{
    Place("SmsTemplatesForm", 300, 200, false);
    Start();
    Form->findChild<QAction*>("TemplatesAction")->trigger();
    QCoreApplication::processEvents();
    ASSERT_NE(TSmsTemplatesForm::Existing(), nullptr);
    EXPECT_TRUE(TSmsTemplatesForm::Existing()->isVisible());
}

} // namespace
