// The program entry's windows: the queue window, the transliteration dialog
// and the about box (the main window: AddressBookWindows.cpp).
#include "Screenshots.h"

#include "ui/dialogs/AboutDialog.h"
#include "ui/dialogs/TranslitDlg.h"
#include "ui/main/SmsQueueForm.h"

VELOTEXT_SCREENSHOT(SmsQueueForm) { return std::make_unique<TSmsQueueForm>(); }
VELOTEXT_SCREENSHOT(AboutDialog) { return std::make_unique<TAboutDialog>(); }
VELOTEXT_SCREENSHOT(TranslitDlg) { return std::make_unique<TTranslitDlg>(); }
