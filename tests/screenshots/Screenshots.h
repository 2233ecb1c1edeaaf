#pragma once
// Pictures of the windows, for looking at them without a desktop. The test
// command runs the `screenshots` program under Xvfb (offscreen when xvfb-run
// is missing); it renders every registered window into
// build/screenshots/<Name>.png.
//
// To add a window, write one line in any .cpp file of this folder (a file of
// your own avoids merge conflicts), returning the window to render:
//
//     VELOTEXT_SCREENSHOT(SmsQueueForm) { return std::make_unique<TSmsQueueForm>(); }
//
// Before each function runs, the sample address book of FillSampleData() is in
// the manager (operators, contacts, groups, templates, two queued messages),
// the program options and the data folder point at a temporary folder, and no
// box is shown (a TUiScript answers No/Cancel). The window is shown, laid out,
// grabbed and destroyed. `screenshots Name...` renders only the named ones.
#include <QWidget>

#include <functional>
#include <memory>

using TShotFactory = std::unique_ptr<QWidget> (*)();

struct TShotRegistrar {
    TShotRegistrar(const char* name, TShotFactory factory);
};

#define VELOTEXT_SCREENSHOT(Name)                                                   \
    static std::unique_ptr<QWidget> VelotextShot_##Name();                          \
    static const TShotRegistrar VelotextShotRegistrar_##Name(#Name, VelotextShot_##Name); \
    static std::unique_ptr<QWidget> VelotextShot_##Name()
