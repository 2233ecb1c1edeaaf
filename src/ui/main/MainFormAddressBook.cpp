// The main window's address-book panes and recipient list: rows over the
// manager's lists, the address-book commands, the search, the list keys,
// double-clicks and drag and drop.
#include "engine/SmsManager.h"
#include "ui/SaveSoon.h"
#include "ui/dialogs/ContactEditor.h"
#include "ui/dialogs/ContactImportDialog.h"
#include "ui/dialogs/GroupEditor.h"
#include "ui/dialogs/GroupSelector.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"

#include <QApplication>
#include <QClipboard>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeView>

#include <memory>

void TMainForm::CreateLists()
{
    FGroups = new TObjectListModel<TGroup>([](const TGroup* g) { return g->Name(); }, this);
    FContacts = new TObjectListModel<TContact>([](const TContact* c) { return ContactCaption(c); }, this);
    FRecipients = new TRecipientListModel(this, AppIcon(TIcon::Contact), AppIcon(TIcon::Group));
    FGroups->SetIcon(AppIcon(TIcon::Group));
    FContacts->SetIcon(AppIcon(TIcon::Contact));
    GroupsListView->setModel(FGroups);
    ContactsListView->setModel(FContacts);
    RecepientsListView->setModel(FRecipients);
    // Whatever changes the recipients changes what the message costs.
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(FRecipients, signal, this, [this] { ScheduleCostUpdate(); });
    connect(FRecipients, &QAbstractItemModel::modelReset, this, [this] { ScheduleCostUpdate(); });
    connect(FRecipients, &QAbstractItemModel::dataChanged, this, [this] { ScheduleCostUpdate(); });
    for (QTreeView* view : {GroupsListView, ContactsListView, RecepientsListView})
        view->setIconSize(QSize(16, 16));
    RecepientsListView->setAccessibleName(QStringLiteral("Кому"));

    connect(GroupsListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { TopLevelGuard([&] { GroupsListViewSelectItem(); }); });
    connect(GroupsListView, &QTreeView::doubleClicked, this,
            [this] { TopLevelGuard([&] { AddGroupToRecipients(SelectedGroup()); }); });
    connect(ContactsListView, &QTreeView::doubleClicked, this,
            [this] { TopLevelGuard([&] { AddContactToRecipients(SelectedContact()); }); });
    connect(RecepientsListView, &QTreeView::doubleClicked, this,
            [this] { TopLevelGuard([&] { RemoveSelectedRecipient(); }); });
    connect(SearchEdit, &QLineEdit::textChanged, this, [this] { TopLevelGuard([&] { SearchActionExecute(); }); });

    // Keys (modifiers are not looked at) and drops are handled here, not by the views.
    GroupsListView->installEventFilter(this);
    ContactsListView->installEventFilter(this);
    SearchEdit->installEventFilter(this);
    RecepientsListView->installEventFilter(this);
    // Drags copy, never move: the views must not drop rows by themselves.
    GroupsListView->setDragDropMode(QAbstractItemView::DragDrop);
    ContactsListView->setDragDropMode(QAbstractItemView::DragOnly);
    RecepientsListView->setDragDropMode(QAbstractItemView::DropOnly);
    for (QTreeView* view : {GroupsListView, ContactsListView, RecepientsListView}) {
        view->setDefaultDropAction(Qt::CopyAction);
        view->setDropIndicatorShown(false);
    }
    GroupsListView->viewport()->installEventFilter(this);
    RecepientsListView->viewport()->installEventFilter(this);
}

// --- selection -------------------------------------------------------------------
int TMainForm::SelectedRow(const QTreeView* view) const
{
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TMainForm::SelectRow(QTreeView* view, int row)
{
    if (row < 0 || row >= view->model()->rowCount()) {
        view->selectionModel()->clear();
        return;
    }
    QModelIndex index = view->model()->index(row, 0);
    view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(index);
}

void TMainForm::SelectAfterRemoval(QTreeView* view, int row)
{
    const int count = view->model()->rowCount();
    if (row >= 0 && row < count)
        SelectRow(view, row);
    else if (row > 0)
        SelectRow(view, row - 1);
    else
        SelectRow(view, -1);
}

TGroup* TMainForm::SelectedGroup() const
{
    return FGroups->ObjectAt(FGroups->index(SelectedRow(GroupsListView)));
}

TContact* TMainForm::SelectedContact() const
{
    return FContacts->ObjectAt(FContacts->index(SelectedRow(ContactsListView)));
}

std::optional<TRecipient> TMainForm::SelectedRecipient() const
{
    const TRecipient* row = FRecipients->KeyAt(FRecipients->index(SelectedRow(RecepientsListView)));
    return row ? std::optional<TRecipient>(*row) : std::nullopt;
}

TGroup* TMainForm::GroupAt(const QPoint& point) const { return FGroups->ObjectAt(GroupsListView->indexAt(point)); }

// --- filling --------------------------------------------------------------------------
void TMainForm::FillGroups()
{
    FGroups->SetList(&SmsManager().Groups);
    FRecipients->SetList(&SmsManager().Recipients);
    FQuietGroupSelection = true; // the contacts are filled once, below
    SelectRow(GroupsListView, 0);
    FQuietGroupSelection = false;
    FillContacts();
    GroupsListView->setFocus();
}

void TMainForm::FillContacts()
{
    TGroup* group = SelectedGroup();
    FContacts->SetList(group ? &group->Contacts : nullptr);
    if (FContacts->rowCount() > 0)
        SelectRow(ContactsListView, 0);
}

void TMainForm::GroupsListViewSelectItem()
{
    if (!FQuietGroupSelection)
        FillContacts();
}

void TMainForm::RefreshGroupCaptions(TGroup*)
{
    FGroups->Sync();
    FRecipients->Sync();
}

void TMainForm::RefreshContactCaptions(TContact*)
{
    FContacts->Sync();
    FRecipients->Sync();
}

void TMainForm::RemoveRecipientRows() { FRecipients->Sync(); }

// --- recipients -----------------------------------------------------------------------
void TMainForm::AddContactToRecipients(TContact* contact)
{
    if (!contact || SmsManager().Recipients.Contacts.IndexOf(contact) >= 0)
        return;
    SmsManager().AddRecipientContact(contact);
    FRecipients->Sync();
}

void TMainForm::AddGroupToRecipients(TGroup* group)
{
    if (!group || SmsManager().Recipients.Groups.IndexOf(group) >= 0)
        return;
    SmsManager().AddRecipientGroup(group);
    FRecipients->Sync();
}

void TMainForm::RemoveSelectedRecipient()
{
    std::optional<TRecipient> recipient = SelectedRecipient();
    if (!recipient)
        return;
    const int row = SelectedRow(RecepientsListView);
    if (auto* contact = std::get_if<TContact*>(&*recipient))
        SmsManager().RemoveRecipientContact(*contact);
    else
        SmsManager().RemoveRecipientGroup(std::get<TGroup*>(*recipient));
    FRecipients->Sync();
    SelectAfterRemoval(RecepientsListView, row);
}

void TMainForm::EmptyRecipientList()
{
    SmsManager().ClearRecipients();
    FRecipients->Sync();
}

void TMainForm::AddGroupToRecepientsActionExecute() { AddGroupToRecipients(SelectedGroup()); }
void TMainForm::AddContactToRecepientsActionExecute() { AddContactToRecipients(SelectedContact()); }
void TMainForm::RemoveFromRecepientsActionExecute() { RemoveSelectedRecipient(); }
void TMainForm::RemoveAllFromRecepientsActionExecute() { EmptyRecipientList(); }

// --- groups -----------------------------------------------------------------------------
void TMainForm::AddGroupActionExecute()
{
    auto group = std::make_unique<TGroup>(false);
    if (!TGroupEditor::Execute(group.get(), true, this))
        return;
    TSmsManager& manager = SmsManager();
    if (manager.Groups.IndexOf(group.get()) >= 0)
        return;
    manager.AddGroup(group.get()); // a refusal leaves the group to the unique_ptr
    TGroup* added = group.release();
    FSaveSoon->MarkChanged(DataAddressBook);
    FGroups->Sync();
    SelectRow(GroupsListView, FGroups->RowOf(added));
}

void TMainForm::EditGroupActionExecute()
{
    TGroup* group = SelectedGroup();
    if (!group || group == SmsManager().AllContactsGroup)
        return;
    if (!TGroupEditor::Execute(group, false, this))
        return;
    FSaveSoon->MarkChanged(DataAddressBook);
    RefreshGroupCaptions(group);
}

void TMainForm::RemoveGroupActionExecute()
{
    TGroup* group = SelectedGroup();
    if (!group || group == SmsManager().AllContactsGroup)
        return;
    if (!AskConfirmation(QStringLiteral("Удалить группу [%1]?").arg(ToQt(group->Name()))))
        return;
    const int row = SelectedRow(GroupsListView);
    const bool shown = FContacts->List() == &group->Contacts;
    SmsManager().DeleteGroup(group);
    FSaveSoon->MarkChanged(DataAddressBook);
    if (shown)
        FContacts->SetList(nullptr); // its member list has gone with it
    RemoveRecipientRows();
    FGroups->Sync();
    SelectAfterRemoval(GroupsListView, row); // the selection change refills the contacts
}

// --- contacts -----------------------------------------------------------------------------
void TMainForm::AddContactActionExecute()
{
    auto contact = std::make_unique<TContact>();
    if (!TContactEditor::Execute(contact.get(), true, this))
        return;
    TSmsManager& manager = SmsManager();
    if (manager.Contacts().IndexOf(contact.get()) >= 0)
        return;
    TGroup* group = SelectedGroup();
    manager.AddContact(contact.get()); // a refusal leaves the contact to the unique_ptr
    TContact* added = contact.release();
    FSaveSoon->MarkChanged(DataAddressBook);
    if (group && group != manager.AllContactsGroup) {
        try {
            manager.AddContactToGroup(added, group);
        } catch (...) {
            FContacts->Sync();
            throw;
        }
    }
    FContacts->Sync();
    SelectRow(ContactsListView, FContacts->RowOf(added));
}

void TMainForm::EditContactActionExecute()
{
    TContact* contact = SelectedContact();
    if (!contact || !TContactEditor::Execute(contact, false, this))
        return;
    FSaveSoon->MarkChanged(DataAddressBook);
    RefreshContactCaptions(contact);
}

void TMainForm::RemoveContactActionExecute()
{
    TContact* contact = SelectedContact();
    if (!contact)
        return;
    if (!AskConfirmation(QStringLiteral("Удалить Абонента [%1]?").arg(ToQt(ContactCaption(contact)))))
        return;
    const int row = SelectedRow(ContactsListView);
    SmsManager().DeleteContact(contact);
    FSaveSoon->MarkChanged(DataAddressBook);
    RemoveRecipientRows();
    FContacts->Sync();
    SelectAfterRemoval(ContactsListView, row);
}

void TMainForm::AddContactToGroupActionExecute()
{
    TContact* contact = SelectedContact();
    if (!contact)
        return;
    if (TGroup* group = TGroupSelector::Execute(contact, this)) {
        SmsManager().AddContactToGroup(contact, group);
        FSaveSoon->MarkChanged(DataAddressBook);
        if (FContacts->List() == &group->Contacts)
            FContacts->Sync();
    }
}

void TMainForm::RemoveContactFromGroupActionExecute()
{
    TGroup* group = SelectedGroup();
    TContact* contact = SelectedContact();
    if (!group || !contact || group == SmsManager().AllContactsGroup)
        return;
    if (!AskConfirmation(QStringLiteral("Удалить контакт [%1]\rиз группы [%2]?")
                             .arg(ToQt(ContactCaption(contact)), ToQt(group->Name()))))
        return;
    const int row = SelectedRow(ContactsListView);
    SmsManager().RemoveContactFromGroup(contact, group);
    FSaveSoon->MarkChanged(DataAddressBook);
    FContacts->Sync();
    SelectAfterRemoval(ContactsListView, row);
}

// --- search -------------------------------------------------------------------------------
void TMainForm::SearchActionExecute()
{
    TSmsManager& manager = SmsManager();
    manager.SearchContacts(Trim(FromQt(SearchEdit->text())));
    FQuietGroupSelection = true; // one refill below, not two
    SelectRow(GroupsListView, FGroups->RowOf(manager.FoundContactsGroup));
    FQuietGroupSelection = false;
    FillContacts();
}

// --- import and export ----------------------------------------------------------------------
void TMainForm::ImportContactsActionExecute()
{
    const std::optional<QString> path = AskOpenFileName(
        QStringLiteral("Импорт абонентов"),
        QStringLiteral("Файлы vCard (*.vcf *.vcard);;Файлы CSV (*.csv);;Текстовые файлы (*.txt);;Все файлы (*)"));
    if (!path)
        return;
    if (ImportContactsFromFile(this, *path)) {
        FSaveSoon->SaveNow(); // an import may bring thousands: on disk at once, not a second later
        FGroups->Sync();
        FContacts->Sync();
        FRecipients->Sync();
    }
}

void TMainForm::ExportContactsActionExecute()
{
    TGroup* group = SelectedGroup();
    ExportContacts(group ? group : SmsManager().AllContactsGroup);
}

bool TMainForm::PasteRecipients()
{
    const QString text = QApplication::clipboard()->text();
    if (!TextHasContacts(text))
        return false;
    const std::optional<TImportResult> result = ImportContactsFromText(this, text);
    if (!result)
        return true;
    FGroups->Sync();
    FContacts->Sync();
    for (TContact* contact : result->Contacts)
        if (contact && SmsManager().Recipients.Contacts.IndexOf(contact) < 0)
            SmsManager().AddRecipientContact(contact);
    FRecipients->Sync();
    return true;
}

// --- keys -----------------------------------------------------------------------------------
bool TMainForm::ListViewKeyDown(QObject* view, int key)
{
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    QAction* action = nullptr;
    if (view == GroupsListView)
        action = enter ? EditGroupAction
                 : key == Qt::Key_Insert ? AddGroupAction
                 : key == Qt::Key_Delete ? RemoveGroupAction
                                         : nullptr;
    else if (view == ContactsListView)
        action = enter ? EditContactAction
                 : key == Qt::Key_Insert ? AddContactAction
                 : key == Qt::Key_Delete ? RemoveContactAction
                                         : nullptr;
    else if (view == SearchEdit && enter)
        action = SearchAction;
    if (!action)
        return false;
    action->trigger();
    return true;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == SendButton && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Down && key->modifiers() & Qt::AltModifier) || key->key() == Qt::Key_F4) {
            SendButton->showMenu(); // the arrow's menu, as a combo box opens
            return true;
        }
    }
    if (watched == RecepientsListView && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste)) {
        bool taken = false;
        Guard([&] { taken = PasteRecipients(); });
        if (taken)
            return true;
    }
    if (event->type() == QEvent::KeyPress && ListViewKeyDown(watched, static_cast<QKeyEvent*>(event)->key()))
        return true;
    if (ListViewDragEvent(watched, event))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

// --- drag and drop ----------------------------------------------------------------------------
bool TMainForm::RecepientsListViewDragOver(const QObject* source) const
{
    return source && (source == GroupsListView || source == ContactsListView);
}

void TMainForm::RecepientsListViewDragDrop(const QObject* source)
{
    if (source == GroupsListView)
        AddGroupToRecipients(SelectedGroup());
    else if (source == ContactsListView)
        AddContactToRecipients(SelectedContact());
}

bool TMainForm::GroupsListViewDragOver(const QObject* source) const { return source && source == ContactsListView; }

void TMainForm::GroupsListViewDragDrop(const QObject* source, const QPoint& point)
{
    if (source != ContactsListView)
        return;
    TContact* contact = SelectedContact();
    TGroup* group = GroupAt(point);
    if (!contact || !group)
        return;
    // On the all-contacts group, or a group the contact is in already, this changes nothing.
    SmsManager().AddContactToGroup(contact, group);
    FSaveSoon->MarkChanged(DataAddressBook);
    if (FContacts->List() == &group->Contacts)
        FContacts->Sync();
}

// The drop targets' own drag handling is replaced: their rules are the
// window's, and a drop only ever copies.
bool TMainForm::ListViewDragEvent(QObject* viewport, QEvent* event)
{
    const bool recipients = viewport == RecepientsListView->viewport();
    if (!recipients && viewport != GroupsListView->viewport())
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        const bool accepts =
            recipients ? RecepientsListViewDragOver(drag->source()) : GroupsListViewDragOver(drag->source());
        if (accepts) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        QObject* source = drop->source();
        const QPoint point = drop->position().toPoint();
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        TopLevelGuard([&] {
            if (recipients)
                RecepientsListViewDragDrop(source);
            else
                GroupsListViewDragDrop(source, point);
        });
        return true;
    }
    default:
        return false;
    }
}
