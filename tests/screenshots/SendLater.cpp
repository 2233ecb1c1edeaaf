// The send-later choice, and the queue window with messages that wait: one
// for the time the user chose, one for its retry.
#include "Screenshots.h"

#include "engine/SmsManager.h"
#include "ui/dialogs/SendLaterDialog.h"
#include "ui/main/SmsQueueForm.h"

VELOTEXT_SCREENSHOT(SendLaterDialog) { return std::make_unique<TSendLaterDialog>(); }

VELOTEXT_SCREENSHOT(SmsQueueForm_due)
{
    TSmsQueue& queue = SmsManager().Queue;
    const long long now = LocalSeconds(Now());
    if (queue.Count() > 0) {
        queue.Items(0)->NotBefore = now - now % 3600 + 3600 * 15;
        queue.Items(0)->Scheduled = true;
    }
    if (queue.Count() > 1) {
        queue.Items(1)->TryCount = 1;
        queue.Items(1)->NotBefore = now + 30;
    }
    return std::make_unique<TSmsQueueForm>();
}
