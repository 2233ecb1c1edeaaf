#pragma once
// The main window: the groups and contacts of the address book, the
// recipient list and (below it) the composer. The frame, menus and toolbars
// are built in MainForm.cpp; the address-book panes, the recipient list and
// their commands in MainFormAddressBook.cpp; the composer, the send, the
// countdown and the status texts in MainFormComposer.cpp; start-up, shut-down
// and the tray in MainFormLifecycle.cpp.
#include "engine/Startup.h"
#include "model/AddressBook.h"
#include "ui/ObjectListModel.h"
#include "ui/main/RecipientListModel.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>

#include <array>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QToolBar;
class QToolButton;
class QTimer;
class QTreeView;
class TMessageMemo;
class TSaveSoon;
class TSmsQueueForm;
struct TSmsLink;
class TNotifier;
struct TSmsHistoryRecord;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);

    // --- the address-book panes and the recipient list ---
    TGroup* SelectedGroup() const;
    TContact* SelectedContact() const;
    std::optional<TRecipient> SelectedRecipient() const;
    // The group of the groups row under a point of the list's viewport, or none.
    TGroup* GroupAt(const QPoint& point) const;

    // Rows of every group, the first selected; rows of the selected group's members.
    void FillGroups();
    void FillContacts();
    void AddContactToRecipients(TContact* contact);
    void AddGroupToRecipients(TGroup* group);
    void RemoveSelectedRecipient();
    void EmptyRecipientList();
    // Rows follow the object's new caption (and sort again).
    void RefreshGroupCaptions(TGroup* group);
    void RefreshContactCaptions(TContact* contact);
    // Drops the recipient rows of objects the recipient list no longer holds.
    void RemoveRecipientRows();

    // Drag and drop. `source` is the view the drag comes from.
    bool RecepientsListViewDragOver(const QObject* source) const;
    void RecepientsListViewDragDrop(const QObject* source);
    bool GroupsListViewDragOver(const QObject* source) const;
    void GroupsListViewDragDrop(const QObject* source, const QPoint& point);

    // --- action handlers (the address book) ---
    void AddGroupActionExecute();
    void EditGroupActionExecute();
    void RemoveGroupActionExecute();
    void AddGroupToRecepientsActionExecute();
    void AddContactActionExecute();
    void EditContactActionExecute();
    void RemoveContactActionExecute();
    void AddContactToGroupActionExecute();
    void RemoveContactFromGroupActionExecute();
    void AddContactToRecepientsActionExecute();
    void ImportContactsActionExecute();
    void ExportContactsActionExecute();
    // Ctrl+V on the recipients: numbers in the clipboard go through the import preview.
    bool PasteRecipients();
    void RemoveFromRecepientsActionExecute();
    void RemoveAllFromRecepientsActionExecute();
    void SearchActionExecute();
    void ExitActionExecute();

    // --- action handlers of the composer and the other windows ---
    void SendSmsActionExecute();
    void SendLaterActionExecute();
    void NewSmsActionExecute();
    void SmsQueueActionExecute();
    void TemplatesActionExecute();
    void SmsHistoryActionExecute();
    void OptionsActionExecute();
    void TranslitEditorActionExecute();
    void AboutActionExecute();
    void SmsSendersActionExecute();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreatePanels();
    void CreateLists();
    void FormResize();
    void GroupsListViewSelectItem();
    bool ListViewKeyDown(QObject* view, int key);
    bool ListViewDragEvent(QObject* viewport, QEvent* event);
    // Selects a row and gives it the focus mark; -1 leaves nothing selected.
    void SelectRow(QTreeView* view, int row);
    int SelectedRow(const QTreeView* view) const;
    // The row-removal rule, after the selected row at `row` has gone.
    void SelectAfterRemoval(QTreeView* view, int row);

    // Components.
    QWidget* GroupsListPanel;
    QWidget* ContactListPanel;
    QWidget* RecepientsAndMsgPanel;
    QWidget* RecepientsPanel;
    QWidget* MsgPanel; // the composer
    QToolBar* GroupToolBar;
    QToolBar* ContactToolBar;
    QTreeView* GroupsListView;
    QTreeView* ContactsListView;
    QTreeView* RecepientsListView;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QToolButton* SearchSB;
    QLineEdit* SearchEdit;
    QMenu* GroupsPopupMenu;
    QMenu* ContactsPopupMenu;
    QMenu* RecepientsPopupMenu;

    // Actions of the address book.
    QAction* AddGroupAction;
    QAction* EditGroupAction;
    QAction* RemoveGroupAction;
    QAction* AddGroupToRecepientsAction;
    QAction* AddContactAction;
    QAction* EditContactAction;
    QAction* RemoveContactAction;
    QAction* AddContactToGroupAction;
    QAction* RemoveContactFromGroupAction;
    QAction* AddContactToRecepientsAction;
    QAction* ImportContactsAction;
    QAction* ExportContactsAction;
    QAction* RemoveFromRecepientsAction;
    QAction* RemoveAllFromRecepientsAction;
    QAction* SearchAction;
    QAction* ExitAction;
    // Actions of the composer and the other windows.
    QAction* SendSmsAction;
    QAction* SendLaterAction; // on the send button's arrow and in the "Сообщение" menu
    QAction* NewSmsAction;
    QAction* SmsQueueAction;
    QAction* TemplatesAction;
    QAction* SmsHistoryAction;
    QAction* OptionsAction;
    QAction* TranslitEditorAction;
    QAction* AboutAction;
    QAction* SmsSendersAction;

    // Rows over the manager's lists.
    TObjectListModel<TGroup>* FGroups;
    TObjectListModel<TContact>* FContacts;
    TRecipientListModel* FRecipients;
    bool FQuietGroupSelection = false; // a selection made by code refills the contacts itself

    // ---- Composer, send cycle, countdown, status, tray, start-up and shut-down ----
    // (MainFormComposer.cpp, MainFormLifecycle.cpp)
public:
    ~TMainForm() override;
    // The program's start-up (options, placement, data files, panes) runs when
    // the window is first shown, once this is set; the program entry sets it.
    void SetStartUpOnShow(bool on) { FStartUpOnShow = on; }
    // A start-up begun before the window was built (it read the big files
    // meanwhile); the first show finishes it instead of loading everything.
    void SetStartupLoad(TStartupLoad* load) { FStartupLoad = load; }
    // The text that is sent: the composer's text trimmed, line breaks as blanks.
    std::string MessageText() const;
    void UpdateCharCounter();
    // The cost line, the marks on characters an operator cannot carry and the
    // transliteration button's tooltip, recomputed once the current burst of
    // changes (typing, recipients, the transliteration switch) is over.
    void ScheduleCostUpdate();
    void UpdateCost();
    // The composer holds the prefix and the suffix of the sending options; the caret at the start.
    void NewMessage();
    // The templates list's insert notification: the text and a line break at the caret.
    void InsertTemplateText(const std::string& text);
    // The templates menu's "Вставить поле": the field at the caret, the caret after it.
    void InsertFieldText(std::string_view field);
    // Tray icon and TranslitTB after the sending options.
    void ApplyOptions();
    // Queue count, failure count and pause in the labels and the caption; why
    // the queue waits, whole, in QueueStateLabel.
    void UpdateStatus();
    // Why nothing is being sent although messages wait (empty when something goes).
    QString QueueStateText() const;
    void UpdateQueueActions();
    // Send unavailable for 16 ticks of DelayTimer; the label counts 14 down to 0.
    void StartSendDelay();
    // The checks and the hand-over of the composed message to the manager.
    // With `notBefore` (LocalSeconds) the messages wait for that moment.
    void EnqueueMessage(long long notBefore = 0);
    void DelayTimerTimer();
    void TemplatesPopupMenuPopup();
    // The tray icon's clicks: a left click or a double-click toggles the window once.
    void TrayIconActivated(QSystemTrayIcon::ActivationReason reason);

    TSmsQueueForm* SmsQueueForm() const { return FSmsQueueForm; }
    QSystemTrayIcon* TrayIcon() const { return FTrayIcon; }
    // Which start-up steps completed: shut-down writes back only those files.
    const TStartupState& StartupState() const { return FStartup; }
    // True while the window is hidden in the tray.
    bool HiddenToTray() const { return FHiddenToTray; }

    // Opens the history window (failures only, or at a record); the failure
    // count starts again from 0, since the user now sees them.
    void ShowHistory(bool failedOnly = false, const TSmsHistoryRecord* at = nullptr);
    // The queue window finished a message for good: with the option to report
    // send errors, a failure is notified; the end of a batch is notified when
    // this window is hidden or minimised.
    void SmsFinished();
    // Gateways said these messages were not delivered ("name (phone): ..."):
    // they count with the failures, in the same grouped notification.
    void CountNotDelivered(const QStringList& lines);
    TNotifier* Notifier() const { return FNotifier; }

    // Another start on the same data folder: the window comes to the front
    // (back from the tray when hidden there).
    void ShowFromOutside();
    // An "sms:" link opens its own message: each number's contact (the same
    // number by SamePhone) goes into the recipients, a number no contact has
    // opens the new-contact editor with it; the body becomes the text. A
    // message the user put in the composer is replaced only after "Заменить
    // текущее сообщение?"; a link that names no number raises its reason.
    // Nothing happens before the data has loaded.
    void OpenSmsLink(const TSmsLink& link);
    // The command line changed the queue (and perhaps added contacts): the
    // lists, the queue window and the status follow.
    void RefreshAfterCommand(bool contactsAdded);
    // A signal or the session's end: the window closes without its question
    // (the delivery out is cut, everything loaded is saved). Nothing happens
    // once the window has closed.
    void CloseWithoutAsking();
    // The session saves its state: the pending edits and every loaded file, now.
    void SaveAllNow();
    // The scheduler of the saves as edits happen.
    TSaveSoon* SaveScheduler() const { return FSaveSoon; }

signals:
    // The window has begun to close for good (its question, if any, answered
    // yes): from here on the program takes no command lines from later starts.
    void ClosingStarted();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Creates the composer's actions, menus, timer and tray icon (FormCreate's part).
    void CreateComposerActions();
    // Fills the composer panel at the bottom of the right column.
    void CreateComposerPanel(QWidget* panel);
    // The tray icon with its menu, inactive until the options say otherwise (FormCreate's part).
    void CreateTrayIcon();
    void FormShow();
    // The start's one question about messages that came due while the program was closed.
    void AskAboutOverdue(int overdue);
    bool FormCloseQuery();
    void FormClose();
    void PlaceWindows(bool save);
    void RestoreDraft();
    // The scheduler's saving: the marked files whose load completed; returns those that failed.
    unsigned SaveChangedFiles(unsigned files);
    // The composer's text as a new message has it (the options' prefix and suffix).
    std::string NewMessageText() const;

    void TranslitActionExecute();
    void StartActionExecute();
    void PauseActionExecute();
    void HideToTray();
    void RestoreFromTray();
    bool TrayActive() const;

    QToolBar* ToolBar1 = nullptr;
    QLabel* SmsErrorLabel = nullptr;
    QLabel* SmsInfoLabel = nullptr;
    QLabel* QueueStateLabel = nullptr; // why the queue waits, on lines of its own
    QLabel* CharCounterLabel = nullptr;
    QLabel* SmsCostLabel = nullptr;
    bool FCostPending = false;
    TMessageMemo* MessageMemo = nullptr;
    QToolButton* SendButton = nullptr;
    QLabel* SecondsLeftLabel = nullptr;
    QToolButton* TranslitTB = nullptr;
    QAction* TranslitAction = nullptr;
    QAction* StartAction = nullptr;
    QAction* PauseAction = nullptr;
    QMenu* TemplatesPopupMenu = nullptr;
    QMenu* SmsQueuePopupMenu = nullptr;
    QMenu* TrayPopupMenu = nullptr;
    std::array<QAction*, 20> TemplateItems {};
    QTimer* DelayTimer = nullptr;
    QSystemTrayIcon* FTrayIcon = nullptr;
    TNotifier* FNotifier = nullptr;
    int FBatchSent = 0;  // messages of the batch under way: sent,
    int FBatchTotal = 0; // and finished either way
    int FFailuresNotified = 0; // failures told by the notification still shown
    bool FHistoryBound = false; // the history window's SmsQueued is connected
    QString BaseTitle;
    int SecondsLeft = 0;
    TSmsQueueForm* FSmsQueueForm = nullptr;
    TStartupState FStartup;
    TStartupLoad* FStartupLoad = nullptr;
    bool FStartUpOnShow = false;
    bool FStarted = false;      // FormShow has run
    bool FTemplatesBound = false; // the templates list's insert notification is ours
    bool FHiddenToTray = false;
    std::vector<QPointer<QWidget>> FHiddenWithMain; // the other windows hidden to the tray, shown again with it
    QElapsedTimer FLastTrayToggle;
    TSaveSoon* FSaveSoon = nullptr;
    bool FDraftLoaded = false;         // the kept composer text was read (or there was none)
    unsigned FSaveErrorsShown = 0;     // files whose failed save was reported (once until it succeeds)
    bool FCloseWithoutAsking = false;
    bool FClosed = false;
    // What the last "sms:" link put in the composer: while it is unchanged,
    // the next link replaces it without a question.
    std::string FLinkText;
    std::vector<TContact*> FLinkContacts;
    std::vector<TContact*> RecipientContacts() const;
    bool ComposerHoldsUsersMessage() const;
    // ---- end of the composer's block ----
};
