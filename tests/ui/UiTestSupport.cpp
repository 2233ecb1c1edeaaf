#include "UiTestSupport.h"

#include <QTest>

QApplication& TestApp()
{
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at exit Qt's own globals (icon and font caches) are
    // gone before a static application's destructor would run its clean-up
    // routines over them.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void TypeText(QWidget* widget, const QString& text)
{
    for (QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

::testing::AssertionResult Trigger(QWidget* window, const char* actionName)
{
    auto* action = window->findChild<QAction*>(QString::fromLatin1(actionName));
    if (!action)
        return ::testing::AssertionFailure() << "no action " << actionName;
    if (!action->isEnabled())
        return ::testing::AssertionFailure() << "action " << actionName << " is disabled";
    action->trigger();
    return ::testing::AssertionSuccess();
}

QStringList Rows(const QAbstractItemView* view)
{
    QStringList rows;
    const QAbstractItemModel* model = view->model();
    for (int row = 0; model && row < model->rowCount(); ++row)
        rows << model->index(row, 0).data().toString();
    return rows;
}

QString SelectedText(const QAbstractItemView* view)
{
    QModelIndex current = view->currentIndex();
    return current.isValid() && view->selectionModel()->isSelected(current) ? current.data().toString() : QString();
}

bool SelectRow(QAbstractItemView* view, const QString& text)
{
    const QAbstractItemModel* model = view->model();
    for (int row = 0; model && row < model->rowCount(); ++row) {
        QModelIndex index = model->index(row, 0);
        if (index.data().toString() == text) {
            view->setCurrentIndex(index);
            return true;
        }
    }
    return false;
}
