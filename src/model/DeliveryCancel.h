#pragma once
// The process-wide "cancel deliveries" switch. The program turns it on when it
// shuts down so that a delivery in progress ends at once (as failed) instead of
// holding the exit. Any thread may flip it while deliveries run on others.
#include <string>

// While it is on, waits of deliveries end early and new deliveries fail at once.
void SetDeliveriesCancelled(bool cancelled);
bool DeliveriesCancelled();
// A descriptor that polls readable (POLLIN) exactly while the switch is on, for
// waiting on a socket and the switch together; -1 if none could be made.
int DeliveriesCancelledFd();
// Waits the given time; false (at once) when the switch is or gets turned on.
bool WaitUnlessDeliveriesCancelled(int milliseconds);
// The error text of a delivery ended by the switch (CP1251).
std::string DeliveriesCancelledMessage();
