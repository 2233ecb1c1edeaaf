// The main window's start-up and shut-down, its tray icon, and the commands
// that open the other windows.
#include "ui/main/MainForm.h"

#include "engine/SmsManager.h"
#include "model/Error.h"
#include "model/MessageText.h"
#include "model/SmsDraft.h"
#include "model/SmsLink.h"
#include "model/Text.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "ui/Notifier.h"
#include "ui/SaveSoon.h"
#include "ui/WindowPlacement.h"
#include "ui/dialogs/ContactEditor.h"
#include "ui/dialogs/SmsSendersForm.h"
#include "ui/dialogs/SmsTemplatesForm.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MessageMemo.h"
#include "ui/main/SmsQueueForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include <exception>
#include <functional>
#include <memory>

namespace {
// The main window's placement: it is shown whatever its stored visibility says.
class TMainPlacement : public TPlacedWidget {
public:
    explicit TMainPlacement(QWidget* window) : TPlacedWidget(window, "MainForm", true) {}
    bool Visible() const override { return true; }
    void SetVisible(bool) override {}
};

QString CriticalErrorText(const std::string& message)
{
    return QStringLiteral("Критическая ошибка:\r\r%1\r\rДействие не может быть выполнено.").arg(ToQt(Trim(message)));
}
} // namespace

// ---- start-up ----

TMainForm::~TMainForm()
{
    if (FTemplatesBound) // the templates list outlives the window
        SmsManager().Templates.OnInsertTemplate = nullptr;
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (FStarted || !FStartUpOnShow)
        return;
    FStarted = true;
    Guard([this] { FormShow(); });
}

void TMainForm::FormShow()
{
    std::string error;
    const auto place = [this] { PlaceWindows(false); };
    // A queue file of a newer version: the user chooses between an empty
    // queue (the file kept aside) and no start at all.
    const auto startEmpty = [](const std::string& reason) {
        return AskConfirmation(ToQt(reason) + QStringLiteral("\r\rНачать работу с пустой очередью? Файл будет сохранён "
                                                             "рядом под другим именем, его сообщения не будут отправлены."),
                               QStringLiteral("Файл очереди сообщений"));
    };
    FStartup = FStartupLoad ? FStartupLoad->Finish(place, startEmpty) : LoadProgramData(place, startEmpty);
    if (!FStartup.Complete()) {
        error = FStartup.ErrorText;
    } else {
        try {
            SearchEdit->clear();
            SecondsLeftLabel->clear();
            DelayTimer->stop();
            SendSmsAction->setEnabled(true);
            TSmsSendersForm::RefillIfVisible(); // an operators window reopened before the operators were read
            SmsManager().Templates.OnInsertTemplate = [this](const std::string& text) { InsertTemplateText(text); };
            FTemplatesBound = true;
            connect(FSmsQueueForm, &TSmsQueueForm::QueueChanged, this, [this] { Guard([this] { UpdateStatus(); }); });
            connect(FSmsQueueForm, &TSmsQueueForm::SmsFinished, this, [this] { Guard([this] { SmsFinished(); }); });
            // Messages back from the last run whose time has not come wait for it;
            // one cut mid-attempt (it may have reached its gateway) and those that
            // came due while the program was closed wait for the user's word.
            const TQueueHold hold = SmsManager().HoldRestored(LocalSeconds(Now()));
            FSmsQueueForm->RefreshQueue(); // a queue window reopened before the queue was read
            FillGroups();
            UpdateStatus();
            ApplyOptions();
            if (const std::string note = QueueRestoreNote(FStartup.Restore); !note.empty())
                ShowInfoBox(ToQt(note), QStringLiteral("Файл очереди сообщений"));
            if (const std::string note = TakeSecretStoreMessage(); !note.empty())
                ShowErrorBox(ToQt(note), QStringLiteral("Связка ключей"));
            NewMessage();
            RestoreDraft();
            UpdateQueueActions();
            // Asked once the boxes of the start (queue file, keyring, draft) are closed:
            // one question at a time.
            if (hold.Overdue > 0)
                QTimer::singleShot(0, this, [this, overdue = hold.Overdue] { Guard([&] { AskAboutOverdue(overdue); }); });
        } catch (...) {
            error = ExceptionMessage(std::current_exception());
            FStartup.ErrorText = error.empty() ? std::string(" ") : error;
        }
    }
    if (!error.empty() || !FStartup.Complete()) {
        if (FSmsQueueForm) // no delivery is tried over data that did not load
            FSmsQueueForm->StopDelivery();
        ShowErrorBox(CriticalErrorText(error));
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    // The options dialog of a first run opens once the window is on the screen.
    if (ProgramOptions().FirstRun)
        QTimer::singleShot(0, this, [this] { Guard([this] { OptionsActionExecute(); }); });
}

void TMainForm::AskAboutOverdue(int overdue)
{
    if (FClosed)
        return;
    if (AskChoice(QStringLiteral("%1 SMS должны были уйти, пока программа была закрыта. Отправить сейчас?").arg(overdue),
                  QStringLiteral("Отправить"), QStringLiteral("Позже")))
        SmsManager().ReleaseOverdue();
    if (FSmsQueueForm)
        FSmsQueueForm->RefreshQueue();
    UpdateStatus();
}

// The composer's unsent text of the last run comes back; from now on every
// change of the composer is kept. A kept text that cannot be read is
// reported and never written over.
void TMainForm::RestoreDraft()
{
    Guard([this] {
        const std::string draft = LoadSmsDraft();
        FDraftLoaded = true;
        if (!draft.empty()) {
            MessageMemo->SetText(draft);
            MessageMemo->SetSelStart(MessageMemo->Length());
        }
    });
    connect(MessageMemo, &QPlainTextEdit::textChanged, FSaveSoon, [this] { FSaveSoon->MarkChanged(DataDraft); });
}

unsigned TMainForm::SaveChangedFiles(unsigned files)
{
    unsigned failed = 0;
    const TProgramOptions& names = ProgramOptions();
    // A file whose load did not complete is never written.
    auto attempt = [&](unsigned file, bool loaded, const std::function<void()>& save) {
        if (!(files & file) || !loaded)
            return;
        try {
            save();
            FSaveErrorsShown &= ~file;
        } catch (...) {
            failed |= file;
            if (!(FSaveErrorsShown & file)) { // once, not at every keystroke that follows
                FSaveErrorsShown |= file;
                ShowCaughtError(std::current_exception(), QStringLiteral("Ошибка"));
            }
        }
    };
    attempt(DataAddressBook, FStartup.AddressBookLoaded,
            [&] { SmsManager().SaveAddressBook(names.AddressBookFileName); });
    attempt(DataOperators, FStartup.SmsSendersLoaded, [&] { SmsManager().SaveSmsSenders(names.SmsGatesFileName); });
    attempt(DataDraft, FDraftLoaded, [&] {
        // A composer that holds nothing but what a new message starts with keeps no text.
        const std::string text = MessageMemo->Text();
        SaveSmsDraft(Trim(text).empty() || text == NewMessageText() ? std::string() : text);
    });
    return failed;
}

void TMainForm::PlaceWindows(bool save)
{
    // The main window, the templates window, the operators window and the queue
    // window, in this order. Restoring a secondary window creates it (creating
    // the queue window starts its send timer); saving skips one that a failed
    // start never created.
    TMainPlacement main(this);
    if (save) {
        for (TPlacedWindow* window : {static_cast<TPlacedWindow*>(&main),
                                      static_cast<TPlacedWindow*>(TSmsTemplatesForm::Existing()),
                                      static_cast<TPlacedWindow*>(TSmsSendersForm::Existing()),
                                      static_cast<TPlacedWindow*>(FSmsQueueForm)})
            if (window)
                ProgramOptions().SaveWindow(*window);
        return;
    }
    ProgramOptions().RestoreWindow(main);
    ProgramOptions().RestoreWindow(*TSmsTemplatesForm::Instance(this));
    ProgramOptions().RestoreWindow(*TSmsSendersForm::Instance(this));
    if (!FSmsQueueForm)
        FSmsQueueForm = new TSmsQueueForm(this);
    ProgramOptions().RestoreWindow(*FSmsQueueForm);
}

// ---- shut-down ----

void TMainForm::closeEvent(QCloseEvent* event)
{
    bool close = true;
    Guard([&] { close = FormCloseQuery(); });
    if (!close) {
        event->ignore();
        return;
    }
    Guard([this] { FormClose(); });
    FClosed = true;
    event->accept();
}

bool TMainForm::FormCloseQuery()
{
    if (FCloseWithoutAsking)
        return true; // a signal or the session's end: nobody to ask
    if (!FStarted || !FStartup.Complete())
        return true; // nothing can have been queued
    const TSmsManager& manager = SmsManager();
    if (manager.Queue.Count() == 0 && !manager.CurrentDelivery())
        return true;
    if (FHiddenToTray)
        RestoreFromTray(); // the question needs a window to stand on
    return AskConfirmation(
        QStringLiteral("ВНИМАНИЕ! В очереди сообщений есть неотправленные SMS.\r"
                       "Они останутся в очереди до следующего запуска программы.\r\rВыйти из программы?"));
}

void TMainForm::FormClose()
{
    emit ClosingStarted();
    DelayTimer->stop();
    if (FTrayIcon)
        FTrayIcon->hide();
    if (FSmsQueueForm)
        FSmsQueueForm->StopDelivery(); // the attempt out ends here, its history record written
    if (FTemplatesBound) {
        SmsManager().Templates.OnInsertTemplate = nullptr;
        FTemplatesBound = false;
    }
    if (FStarted) {
        FSaveSoon->SaveNow(); // the edits of the last moment
        const TStartupState state = FStartup;
        FStartup = TStartupState {}; // a second close writes nothing
        SaveProgramData(state, [this] { PlaceWindows(true); });
    }
}

void TMainForm::CloseWithoutAsking()
{
    if (FClosed)
        return;
    FCloseWithoutAsking = true;
    close();
}

void TMainForm::SaveAllNow()
{
    if (!FStarted || FClosed)
        return;
    FSaveSoon->SaveNow();
    Guard([this] { SaveProgramData(FStartup, [this] { PlaceWindows(true); }); });
}

void TMainForm::ShowFromOutside()
{
    if (!FClosed)
        RestoreFromTray(); // shown, not minimized, raised and active
}

std::vector<TContact*> TMainForm::RecipientContacts() const
{
    std::vector<TContact*> contacts;
    for (TContact* c : SmsManager().Recipients.Contacts)
        contacts.push_back(c);
    return contacts;
}

bool TMainForm::ComposerHoldsUsersMessage() const
{
    // What a link put there and nobody changed since is the link's, not the user's.
    const TRecipientList& recipients = SmsManager().Recipients;
    const bool ownRecipients = recipients.Groups.Count() > 0 ||
                               (recipients.Contacts.Count() > 0 && RecipientContacts() != FLinkContacts);
    const std::string text = MessageMemo->Text();
    const bool ownText = !ComposedMessageText(text).empty() && text != NewMessageText() && text != FLinkText;
    return ownRecipients || ownText;
}

void TMainForm::OpenSmsLink(const TSmsLink& link)
{
    if (!FStarted || FClosed || !FStartup.Complete())
        return;
    ShowFromOutside();
    if (!link.Error.empty())
        throw TError(link.Error);
    if (ComposerHoldsUsersMessage() && !AskConfirmation(QStringLiteral("Заменить текущее сообщение?")))
        return;
    // The link's message, exactly: its recipients and its body, nothing of the one before.
    EmptyRecipientList();
    // First: the editor below may stay open a while. The body keeps the
    // characters CP1251 lacks, so the composer marks them as it does typed ones.
    if (link.Body.empty())
        MessageMemo->SetText(NewMessageText());
    else
        MessageMemo->setPlainText(WithLineFeeds(QString::fromUtf8(link.Body.data(), qsizetype(link.Body.size()))));
    FLinkText = MessageMemo->Text();
    FLinkContacts.clear();
    TSmsManager& manager = SmsManager();
    for (const std::string& phone : link.Phones) {
        TContact* contact = manager.FindContactByPhone(phone);
        if (!contact) {
            auto created = std::make_unique<TContact>();
            created->PhoneNumber = phone;
            if (!TContactEditor::Execute(created.get(), true, this) || manager.Contacts().IndexOf(created.get()) >= 0)
                continue;
            manager.AddContact(created.get()); // a refusal leaves the contact to the unique_ptr
            contact = created.release();
            FSaveSoon->MarkChanged(DataAddressBook);
            FContacts->Sync();
        }
        AddContactToRecipients(contact);
        FLinkContacts = RecipientContacts();
    }
    MessageMemo->setFocus();
    ScheduleCostUpdate();
}

void TMainForm::RefreshAfterCommand(bool contactsAdded)
{
    if (contactsAdded) {
        FSaveSoon->MarkChanged(DataAddressBook);
        FContacts->Sync();
    }
    if (FSmsQueueForm)
        FSmsQueueForm->RefreshQueue();
    UpdateStatus();
}

// ---- options ----

void TMainForm::ApplyOptions()
{
    const TSmsOptions& options = SmsOptions();
    TranslitAction->setChecked(options.TranslitFlag);
    if (TrayActive()) {
        FTrayIcon->show();
    } else {
        FTrayIcon->hide();
        if (FHiddenToTray)
            RestoreFromTray();
    }
}

// ---- tray ----

void TMainForm::CreateTrayIcon()
{
    TrayPopupMenu = Named(new QMenu(this), "TrayPopupMenu");
    TrayPopupMenu->addAction(AboutAction);
    TrayPopupMenu->addSeparator();
    TrayPopupMenu->addAction(ExitAction);
    QApplication::setWindowIcon(AppIcon(TIcon::Application));
    FTrayIcon = new QSystemTrayIcon(AppIcon(TIcon::Application), this);
    FTrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    FTrayIcon->setToolTip(QStringLiteral("Velotext"));
    FTrayIcon->setContextMenu(TrayPopupMenu); // the one context menu: Qt opens it on a right click
    connect(FTrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { Guard([&] { TrayIconActivated(reason); }); });
    FNotifier = new TNotifier(FTrayIcon, this);
}

bool TMainForm::TrayActive() const
{
    return SmsOptions().MinimizeToTrayFlag && QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainForm::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayActive() && !FHiddenToTray)
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && TrayActive())
                HideToTray();
        });
}

void TMainForm::HideToTray()
{
    // The whole program goes to the tray: the queue, templates and operators
    // windows that are shown hide with the main window and come back with it
    // (dialogs are left alone: hiding a modal one would end it). Only the
    // program's own windows, those this window owns: the tray icon is a
    // top-level window too on trays that embed it (XEmbed), and must stay.
    const auto ownWindow = [this](const QWidget* window) {
        for (const QWidget* owner = window->parentWidget(); owner; owner = owner->parentWidget())
            if (owner == this)
                return true;
        return false;
    };
    FHiddenWithMain.clear();
    for (QWidget* window : QApplication::topLevelWidgets())
        if (ownWindow(window) && window->isVisible() && window->windowType() == Qt::Window && !window->isModal()) {
            FHiddenWithMain.emplace_back(window);
            window->setProperty(HiddenWithMainProperty, true); // stored as shown should the program end now
            window->hide();
        }
    FHiddenToTray = true;
    hide();
}

void TMainForm::RestoreFromTray()
{
    FHiddenToTray = false;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    for (const QPointer<QWidget>& window : FHiddenWithMain)
        if (window) {
            window->setProperty(HiddenWithMainProperty, false);
            window->show();
        }
    FHiddenWithMain.clear();
    raise();
    activateWindow();
}

void TMainForm::TrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick)
        return;
    // A double-click arrives as Trigger, then DoubleClick: one toggle only.
    if (reason == QSystemTrayIcon::DoubleClick && FLastTrayToggle.isValid() &&
        FLastTrayToggle.elapsed() <= QApplication::doubleClickInterval())
        return;
    FLastTrayToggle.start();
    if (FHiddenToTray || !isVisible() || isMinimized())
        RestoreFromTray();
    else if (TrayActive())
        HideToTray();
    else
        showMinimized();
}
