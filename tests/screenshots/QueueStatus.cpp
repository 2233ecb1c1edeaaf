// The main window saying why its queue waits, whole: quiet hours with their
// end and messages held after a restart, at the default size and at the
// smallest the window is meant to allow.
#include "Screenshots.h"

#include "engine/SmsManager.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"
#include "ui/main/MainForm.h"
#include "ui/main/SmsQueueForm.h"

#include <QApplication>
#include <QLabel>

namespace {

std::unique_ptr<QWidget> StatusAt(int width, int height)
{
    TSmsManager& m = SmsManager();
    const long long now = LocalSeconds(Now());
    SmsOptions().QuietFrom = SmsOptions().QuietTo = -1; // as the start finds them, before the quiet hours
    m.HoldRestored(now); // the sample's queued messages, as a restart finds them
    m.AddRecipientContact(m.Contacts()[0]);
    m.QueueSms(U("Напоминание о встрече"));
    const int minute = static_cast<int>(now % 86400 / 60);
    SmsOptions().QuietFrom = (minute + 1440 - 30) % 1440;
    SmsOptions().QuietTo = (minute + 90) % 1440;
    auto form = std::make_unique<TMainForm>();
    form->FillGroups();
    form->UpdateStatus();
    SmsOptions().QuietFrom = SmsOptions().QuietTo = -1; // the pictures after this one have none
    form->resize(width, height);
    QApplication::processEvents();
    return form;
}

} // namespace

VELOTEXT_SCREENSHOT(MainForm_status_800) { return StatusAt(800, 514); }
VELOTEXT_SCREENSHOT(MainForm_status_640) { return StatusAt(640, 480); }

// The queue window after a restart: the messages held for the user's word, one
// of them picked, "Отправить" ready.
VELOTEXT_SCREENSHOT(SmsQueueForm_held)
{
    SmsOptions().QuietFrom = SmsOptions().QuietTo = -1;
    SmsManager().HoldRestored(LocalSeconds(Now()));
    auto form = std::make_unique<TSmsQueueForm>();
    form->RefreshQueue();
    return form;
}
