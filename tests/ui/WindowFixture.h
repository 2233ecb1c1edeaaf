#pragma once
// A fixture for the windows over the manager: a scratch data folder and
// settings store, a fresh manager and options, a stand-in main window that
// owns the lasting windows, and scripted answers that must all be used.
#include "UiTestSupport.h"
#include "engine/SmsManager.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"
#include "ui/dialogs/UiHelpers.h"

#include <memory>

class TWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        SetProgramSettingsFolder(Data.dir().file("config"));
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        Main = std::make_unique<QWidget>();
    }
    void TearDown() override
    {
        Main.reset(); // destroys the lasting windows it owns
        ResetSmsManagerForTests();
        ResetSmsOptionsForTests();
        ResetProgramOptionsForTests();
        SetProgramSettingsFolder("");
        EXPECT_EQ(Ui.Unanswered, 0);
    }

    TScopedDataDir Data;
    TUiScript Ui;
    std::unique_ptr<QWidget> Main;
};
