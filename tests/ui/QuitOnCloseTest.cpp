// The program ends only when its main window accepts a close, also when the
// window's close asks a question whose event loop runs before the answer.
#include "ui/QuitOnClose.h"

#include "UiTestSupport.h"

#include <QCloseEvent>

namespace {
class TAskingWindow : public QWidget {
public:
    bool Accept = true;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        QCoreApplication::processEvents(); // what a question box's event loop does
        if (Accept)
            event->accept();
        else
            event->ignore();
    }
};
} // namespace

TEST(QuitOnClose, EndsTheProgramOnlyWhenTheMainWindowAcceptsItsClose)
{
    TestApp();
    int quits = 0;
    TQuitOnClose filter([&] { ++quits; });
    TAskingWindow main;
    main.installEventFilter(&filter);
    main.show();
    main.Accept = false;
    EXPECT_FALSE(main.close());
    QCoreApplication::processEvents();
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(quits, 0);
    main.hide(); // hidden to the tray: not a close
    main.show();
    EXPECT_EQ(quits, 0);
    main.Accept = true;
    EXPECT_TRUE(main.close());
    QCoreApplication::processEvents();
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(quits, 1);
}
