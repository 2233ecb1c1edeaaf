#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

TPlacedWidget::TPlacedWidget(QWidget* window, std::string name, bool sizeable)
    : FWindow(window), FName(std::move(name)), FSizeable(sizeable)
{
}

// The position is the frame's, as the window system places it; the size is the client area's.
int TPlacedWidget::Left() const { return FWindow->x(); }
int TPlacedWidget::Top() const { return FWindow->y(); }
int TPlacedWidget::Width() const { return FWindow->width(); }
int TPlacedWidget::Height() const { return FWindow->height(); }
void TPlacedWidget::SetLeft(int left) { FWindow->move(left, FWindow->y()); }
void TPlacedWidget::SetTop(int top) { FWindow->move(FWindow->x(), top); }
void TPlacedWidget::SetWidth(int width) { FWindow->resize(width, FWindow->height()); }
void TPlacedWidget::SetHeight(int height) { FWindow->resize(FWindow->width(), height); }
bool TPlacedWidget::Visible() const { return FWindow->isVisible(); }
void TPlacedWidget::SetVisible(bool visible) { FWindow->setVisible(visible); }

namespace {
QSize ScreenSize()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(1024, 768);
}
} // namespace

int TPlacedWidget::ScreenWidth() const { return ScreenSize().width(); }
int TPlacedWidget::ScreenHeight() const { return ScreenSize().height(); }
