#pragma once
// The main window: the groups and contacts of the address book, the
// recipient list and (below it) the composer. The frame, menus and toolbars
// are built in MainForm.cpp; the address-book panes, the recipient list and
// their commands in MainFormAddressBook.cpp.
#include "model/AddressBook.h"
#include "ui/ObjectListModel.h"
#include "ui/main/RecipientListModel.h"

#include <QMainWindow>

#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QToolBar;
class QToolButton;
class QTreeView;

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
    void RemoveFromRecepientsActionExecute();
    void RemoveAllFromRecepientsActionExecute();
    void SearchActionExecute();
    void ExitActionExecute();

    // --- action handlers of the composer and the other windows ---
    void SendSmsActionExecute();
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
    QAction* RemoveFromRecepientsAction;
    QAction* RemoveAllFromRecepientsAction;
    QAction* SearchAction;
    QAction* ExitAction;
    // Actions of the composer and the other windows.
    QAction* SendSmsAction;
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
};
