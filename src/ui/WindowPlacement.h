#pragma once
// The placement of a top-level widget as the program options store it: a
// window derives from this beside its Qt class and passes itself in.
#include "storage/ProgramOptions.h"

#include <string>

class QPoint;
class QWidget;

// A window hidden with the main window to the tray carries this property set
// to true: its placement is stored as shown, as it comes back with the main window.
constexpr const char* HiddenWithMainProperty = "HiddenWithMain";

class TPlacedWidget : public TPlacedWindow {
public:
    // `sizeable` false: a fixed border, whose stored size is not applied.
    TPlacedWidget(QWidget* window, std::string name, bool sizeable);

    std::string WindowName() const override { return FName; }
    int Left() const override;
    int Top() const override;
    int Width() const override;
    int Height() const override;
    void SetLeft(int left) override;
    void SetTop(int top) override;
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    bool SizeableBorder() const override { return FSizeable; }
    bool Visible() const override;
    void SetVisible(bool visible) override;
    int ScreenWidth() const override;
    int ScreenHeight() const override;

private:
    QPoint FramePosition() const;
    void MoveFrameTo(int left, int top);

    QWidget* FWindow;
    std::string FName;
    bool FSizeable;
};
