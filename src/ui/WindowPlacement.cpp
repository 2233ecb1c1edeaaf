#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QEvent>
#include <QWindow>

TPlacedWidget::TPlacedWidget(QWidget* window, std::string name, bool sizeable)
    : FWindow(window), FName(std::move(name)), FSizeable(sizeable)
{
}

// The position is the frame's, as the window system places it; the size is the client area's.
// A shown window's frame is asked of the window system: the widget's own idea
// of it is only brought up to date when the window moves.
int TPlacedWidget::Left() const { return FramePosition().x(); }
int TPlacedWidget::Top() const { return FramePosition().y(); }
int TPlacedWidget::Width() const { return FWindow->width(); }
int TPlacedWidget::Height() const { return FWindow->height(); }
void TPlacedWidget::SetLeft(int left) { MoveFrameTo(left, FWindow->y()); }
void TPlacedWidget::SetTop(int top) { MoveFrameTo(FWindow->x(), top); }

QPoint TPlacedWidget::FramePosition() const
{
    if (QWindow* window = FWindow->windowHandle(); window && window->handle() && FWindow->isVisible())
        return window->framePosition();
    return FWindow->pos();
}

namespace {
// Puts a window's frame at a position once the window manager has framed the
// window (its first exposure), then goes away.
class TFramePlacer : public QObject {
public:
    TFramePlacer(QWindow* window, QPoint frame) : QObject(window), FWindow(window), FFrame(frame)
    {
        setObjectName(QStringLiteral("FramePlacer"));
        window->installEventFilter(this);
    }
    void SetFrame(QPoint frame) { FFrame = frame; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == FWindow && event->type() == QEvent::Expose && FWindow->isExposed()) {
            // The client area goes inside the frame the window manager drew.
            const QMargins frame = FWindow->frameMargins();
            if (FWindow->framePosition() != FFrame)
                FWindow->setPosition(FFrame + QPoint(frame.left(), frame.top()));
            deleteLater();
        }
        return false;
    }

private:
    QWindow* FWindow;
    QPoint FFrame;
};
} // namespace

void TPlacedWidget::MoveFrameTo(int left, int top)
{
    FWindow->move(left, top);
    // move() takes the frame's position only while the window has no window
    // system window, or once its frame is known. In between (the main window
    // places itself while it is being shown, before the window manager has
    // framed it) the frame counts as nothing: the client area lands where the
    // frame belongs, and the window would creep up by its title bar at every
    // start. The frame is put in its place as soon as it is known.
    QWindow* window = FWindow->windowHandle();
    if (!window || !window->handle() || window->isExposed())
        return;
    if (auto* placer = window->findChild<TFramePlacer*>(QStringLiteral("FramePlacer"), Qt::FindDirectChildrenOnly))
        placer->SetFrame(QPoint(left, top));
    else
        new TFramePlacer(window, QPoint(left, top));
}

void TPlacedWidget::SetWidth(int width) { FWindow->resize(width, FWindow->height()); }
void TPlacedWidget::SetHeight(int height) { FWindow->resize(FWindow->width(), height); }
bool TPlacedWidget::Visible() const
{
    return FWindow->isVisible() || FWindow->property(HiddenWithMainProperty).toBool();
}
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
