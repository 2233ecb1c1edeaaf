// The main window's frame: the three columns, the menu bar, the toolbars and
// the actions behind them.
#include "ui/main/MainForm.h"

#include "engine/SmsManager.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "ui/dialogs/AboutDialog.h"
#include "ui/dialogs/OptionsDlg.h"
#include "ui/dialogs/SmsHistoryForm.h"
#include "ui/dialogs/SmsSendersForm.h"
#include "ui/dialogs/SmsTemplatesForm.h"
#include "ui/dialogs/TranslitDlg.h"
#include "ui/SaveSoon.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/SmsQueueForm.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {
constexpr int RightColumnWidth = 363;
constexpr int TopStripHeight = 36;
constexpr int ComposerHeight = 236;

QToolBar* MakeIconToolBar(QWidget* parent, const char* name, std::initializer_list<QAction*> actions)
{
    auto* bar = Named(new QToolBar(parent), name);
    bar->setIconSize(QSize(24, 24));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (QAction* action : actions)
        bar->addAction(action);
    return bar;
}

QToolButton* MakeSpeedButton(QWidget* parent, const char* name, QAction* action)
{
    auto* button = Named(new QToolButton(parent), name);
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    button->setIconSize(QSize(24, 24));
    return button;
}

QMenu* MakeMenu(QWidget* parent, const char* name, const QString& title, std::initializer_list<QAction*> items)
{
    auto* menu = Named(new QMenu(title, parent), name);
    for (QAction* item : items) {
        if (item)
            menu->addAction(item);
        else
            menu->addSeparator();
    }
    return menu;
}
} // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Velotext"));
    setWindowIcon(AppIcon(TIcon::Application));
    CreateActions();
    CreateComposerActions();
    CreatePanels();
    CreateComposerPanel(MsgPanel);
    CreateMenus();
    CreateLists();
    CreateTrayIcon();
    FSaveSoon = new TSaveSoon([this](unsigned files) { return SaveChangedFiles(files); }, this);
    resize(800, 514);
}

void TMainForm::CreateActions()
{
    const auto topLevel = TErrorReport::TopLevel; // manager errors reach the program's report
    AddGroupAction = MakeAction(this, "AddGroupAction", QStringLiteral("&Создать группу Абонентов"), TIcon::Add,
                                &TMainForm::AddGroupActionExecute, topLevel);
    EditGroupAction = MakeAction(this, "EditGroupAction", QStringLiteral("&Изменить группу Абонентов"), TIcon::Edit,
                                 &TMainForm::EditGroupActionExecute, topLevel);
    RemoveGroupAction = MakeAction(this, "RemoveGroupAction", QStringLiteral("&Удалить группу Абонентов"),
                                   TIcon::Remove, &TMainForm::RemoveGroupActionExecute, topLevel);
    AddGroupToRecepientsAction = MakeAction(this, "AddGroupToRecepientsAction",
                                            QStringLiteral("&Добавить в список адресатов"), TIcon::AddRecipient,
                                            &TMainForm::AddGroupToRecepientsActionExecute, topLevel);
    AddContactAction = MakeAction(this, "AddContactAction", QStringLiteral("&Добавить Абонента"), TIcon::Contact,
                                  &TMainForm::AddContactActionExecute, topLevel);
    EditContactAction = MakeAction(this, "EditContactAction", QStringLiteral("&Изменить Абонента"), TIcon::Edit,
                                   &TMainForm::EditContactActionExecute, topLevel);
    RemoveContactAction = MakeAction(this, "RemoveContactAction", QStringLiteral("&Удалить Абонента"), TIcon::Remove,
                                     &TMainForm::RemoveContactActionExecute, topLevel);
    AddContactToGroupAction = MakeAction(this, "AddContactToGroupAction", QStringLiteral("Добавить Абонента в &группу"),
                                         TIcon::Group, &TMainForm::AddContactToGroupActionExecute, topLevel);
    RemoveContactFromGroupAction = MakeAction(this, "RemoveContactFromGroupAction",
                                              QStringLiteral("Удалить Абонента и&з группы"), TIcon::Delete,
                                              &TMainForm::RemoveContactFromGroupActionExecute, topLevel);
    AddContactToRecepientsAction = MakeAction(this, "AddContactToRecepientsAction",
                                              QStringLiteral("Добавить в список &адресатов"), TIcon::AddRecipient,
                                              &TMainForm::AddContactToRecepientsActionExecute, topLevel);
    ImportContactsAction = MakeAction(this, "ImportContactsAction", QStringLiteral("И&мпорт абонентов..."), TIcon::Import,
                                      &TMainForm::ImportContactsActionExecute);
    ExportContactsAction = MakeAction(this, "ExportContactsAction", QStringLiteral("&Экспорт абонентов..."), TIcon::Save,
                                      &TMainForm::ExportContactsActionExecute);
    RemoveFromRecepientsAction = MakeAction(this, "RemoveFromRecepientsAction",
                                            QStringLiteral("&Удалить из списка адресатов"), TIcon::RemoveRecipient,
                                            &TMainForm::RemoveFromRecepientsActionExecute, topLevel);
    RemoveAllFromRecepientsAction = MakeAction(this, "RemoveAllFromRecepientsAction",
                                               QStringLiteral("&Очистить список адресатов"), TIcon::Clear,
                                               &TMainForm::RemoveAllFromRecepientsActionExecute, topLevel);
    SearchAction = MakeAction(this, "SearchAction", QStringLiteral("Найти"), TIcon::Find,
                              &TMainForm::SearchActionExecute, topLevel);
    ExitAction = MakeAction(this, "ExitAction", QStringLiteral("&Выйти из программы"), TIcon::Exit,
                            &TMainForm::ExitActionExecute, topLevel);

    // The composer's and the other windows' commands.
    SendSmsAction = MakeAction(this, "SendSmsAction", QStringLiteral("&Отправить SMS"), TIcon::Send,
                               &TMainForm::SendSmsActionExecute);
    SendSmsAction->setShortcut(Qt::CTRL | Qt::Key_S);
    SendLaterAction = MakeAction(this, "SendLaterAction", QStringLiteral("Отправить &позже..."), TIcon::Send,
                                 &TMainForm::SendLaterActionExecute);
    SendLaterAction->setShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    connect(SendSmsAction, &QAction::enabledChanged, SendLaterAction, &QAction::setEnabled); // the same countdown
    NewSmsAction = MakeAction(this, "NewSmsAction", QStringLiteral("&Новое сообщение"), TIcon::New,
                              &TMainForm::NewSmsActionExecute);
    NewSmsAction->setShortcut(Qt::CTRL | Qt::Key_N);
    SmsQueueAction = MakeAction(this, "SmsQueueAction", QStringLiteral("Показать о&чередь сообщений"), TIcon::Queue,
                                &TMainForm::SmsQueueActionExecute);
    TemplatesAction = MakeAction(this, "TemplatesAction", QStringLiteral("Показать &шаблоны сообщений"),
                                 TIcon::Templates, &TMainForm::TemplatesActionExecute);
    SmsHistoryAction = MakeAction(this, "SmsHistoryAction", QStringLiteral("Показать &историю сообщений"),
                                  TIcon::History, &TMainForm::SmsHistoryActionExecute);
    OptionsAction = MakeAction(this, "OptionsAction", QStringLiteral("&Настройки программы"), TIcon::Options,
                               &TMainForm::OptionsActionExecute);
    TranslitEditorAction = MakeAction(this, "TranslitEditorAction", QStringLiteral("Настройка &транслитерации"),
                                      TIcon::Translit, &TMainForm::TranslitEditorActionExecute);
    TranslitEditorAction->setStatusTip(QString()); // the one command without a hint
    AboutAction = MakeAction(this, "AboutAction", QStringLiteral("&О программе..."), TIcon::About,
                             &TMainForm::AboutActionExecute);
    SmsSendersAction = MakeAction(this, "SmsSendersAction", QStringLiteral("&Справочник операторов"),
                                  TIcon::Operators, &TMainForm::SmsSendersActionExecute);
}

void TMainForm::CreateMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    bar->addMenu(MakeMenu(this, "GroupsMenu", QStringLiteral("&Группы"),
                          {AddGroupAction, EditGroupAction, RemoveGroupAction, nullptr, AddGroupToRecepientsAction}));
    bar->addMenu(MakeMenu(this, "ContactsMenu", QStringLiteral("&Абоненты"),
                          {AddContactAction, EditContactAction, RemoveContactAction, nullptr, AddContactToGroupAction,
                           RemoveContactFromGroupAction, nullptr, AddContactToRecepientsAction, nullptr,
                           ImportContactsAction, ExportContactsAction}));
    bar->addMenu(MakeMenu(this, "SmsSendersMenu", QStringLiteral("&Операторы"), {SmsSendersAction}));
    bar->addMenu(MakeMenu(this, "MessageMenu", QStringLiteral("&Сообщение"),
                          {SendSmsAction, SendLaterAction, nullptr, NewSmsAction, nullptr, SmsQueueAction, TemplatesAction,
                           SmsHistoryAction}));
    bar->addMenu(MakeMenu(this, "OptionsMenu", QStringLiteral("&Настройки"), {OptionsAction, TranslitEditorAction}));
    bar->addMenu(MakeMenu(this, "HelpMenu", QStringLiteral("Сп&равка"), {AboutAction}));
    bar->addMenu(MakeMenu(this, "ExitMenu", QStringLiteral("&Выход"), {ExitAction}));
    // F10 opens the menu bar, as on the rest of the desktop.
    auto* menuKey = Named(new QAction(this), "MenuBarKeyAction");
    menuKey->setShortcut(Qt::Key_F10);
    addAction(menuKey);
    connect(menuKey, &QAction::triggered, bar, [bar] { bar->setActiveAction(bar->actions().value(0)); });

    GroupsPopupMenu = MakeMenu(this, "GroupsPopupMenu", QString(),
                               {AddGroupToRecepientsAction, nullptr, AddGroupAction, EditGroupAction, RemoveGroupAction});
    ContactsPopupMenu = MakeMenu(this, "ContactsPopupMenu", QString(),
                                 {AddContactToRecepientsAction, nullptr, AddContactAction, EditContactAction,
                                  RemoveContactAction, nullptr, AddContactToGroupAction, RemoveContactFromGroupAction});
    RecepientsPopupMenu = MakeMenu(this, "RecepientsPopupMenu", QString(), {RemoveFromRecepientsAction});
    const std::pair<QTreeView*, QMenu*> popups[] = {
        {GroupsListView, GroupsPopupMenu}, {ContactsListView, ContactsPopupMenu},
        {RecepientsListView, RecepientsPopupMenu}};
    for (auto [view, menu] : popups) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, menu,
                [view, menu](const QPoint& point) { menu->popup(view->viewport()->mapToGlobal(point)); });
    }
}

void TMainForm::CreatePanels()
{
    auto* central = Named(new QWidget(this), "CentralPanel");
    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);

    // A list column: toolbar, label, list.
    auto makeColumn = [&](const char* name, QToolBar* bar, const QString& caption, QTreeView*& list,
                          const char* listName) {
        auto* panel = Named(new QFrame(central), name);
        panel->setFrameShape(QFrame::StyledPanel);
        auto* layout = new QVBoxLayout(panel);
        layout->setContentsMargins(8, 0, 8, 8);
        layout->setSpacing(4);
        bar->setParent(panel);
        auto* label = new QLabel(caption, panel);
        label->setWordWrap(true); // a narrow window wraps the caption rather than cutting it
        list = MakeListView(panel, listName);
        label->setBuddy(list);
        layout->addWidget(bar);
        layout->addWidget(label);
        layout->addWidget(list, 1);
        return panel;
    };
    GroupToolBar = MakeIconToolBar(central, "GroupToolBar",
                               {AddGroupAction, EditGroupAction, RemoveGroupAction, AddGroupToRecepientsAction});
    ContactToolBar = MakeIconToolBar(central, "ContactToolBar",
                                 {AddContactAction, EditContactAction, RemoveContactAction, AddContactToGroupAction,
                                  RemoveContactFromGroupAction, AddContactToRecepientsAction});
    GroupsListPanel = makeColumn("GroupsListPanel", GroupToolBar, QStringLiteral("Группы Абонентов:"), GroupsListView,
                                 "GroupsListView");
    ContactListPanel = makeColumn("ContactListPanel", ContactToolBar, QStringLiteral("Абоненты:"), ContactsListView,
                                  "ContactsListView");

    // The right column: the top strip, the recipient list, the composer.
    RecepientsAndMsgPanel = Named(new QFrame(central), "RecepientsAndMsgPanel");
    RecepientsAndMsgPanel->setFixedWidth(RightColumnWidth);
    auto* right = new QVBoxLayout(RecepientsAndMsgPanel);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    auto* strip = Named(new QWidget(RecepientsAndMsgPanel), "TopPanel");
    strip->setFixedHeight(TopStripHeight);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(4, 2, 8, 2);
    stripLayout->setSpacing(4);
    SpeedButton1 = MakeSpeedButton(strip, "SpeedButton1", RemoveFromRecepientsAction);
    SpeedButton2 = MakeSpeedButton(strip, "SpeedButton2", RemoveAllFromRecepientsAction);
    auto* divider = new QFrame(strip);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Sunken);
    auto* searchLabel = new QLabel(QStringLiteral("Поиск Абонента:"), strip);
    SearchEdit = Named(new QLineEdit(strip), "SearchEdit");
    searchLabel->setBuddy(SearchEdit);
    SearchSB = Named(new QToolButton(strip), "SearchSB");
    SearchSB->setIcon(AppIcon(TIcon::Find));
    SearchSB->setToolTip(QStringLiteral("Найти Абонента"));
    SearchSB->setAutoRaise(true);
    connect(SearchSB, &QToolButton::clicked, this, [this] { TopLevelGuard([&] { SearchActionExecute(); }); });
    for (QWidget* w : std::initializer_list<QWidget*> {SpeedButton1, SpeedButton2, divider, searchLabel})
        stripLayout->addWidget(w);
    stripLayout->addWidget(SearchEdit, 1);
    stripLayout->addWidget(SearchSB);

    RecepientsPanel = Named(new QWidget(RecepientsAndMsgPanel), "RecepientsPanel");
    auto* recipientsLayout = new QVBoxLayout(RecepientsPanel);
    recipientsLayout->setContentsMargins(8, 4, 8, 8);
    recipientsLayout->setSpacing(4);
    auto* recipientsLabel = new QLabel(QStringLiteral("Список адресатов:"), RecepientsPanel);
    RecepientsListView = MakeListView(RecepientsPanel, "RecepientsListView");
    recipientsLabel->setBuddy(RecepientsListView);
    recipientsLayout->addWidget(recipientsLabel);
    recipientsLayout->addWidget(RecepientsListView, 1);

    MsgPanel = Named(new QWidget(RecepientsAndMsgPanel), "MsgPanel");
    MsgPanel->setFixedHeight(ComposerHeight);
    right->addWidget(strip);
    right->addWidget(RecepientsPanel, 1);
    right->addWidget(MsgPanel);

    columns->addWidget(GroupsListPanel, 1);
    columns->addWidget(ContactListPanel, 1);
    columns->addWidget(RecepientsAndMsgPanel);
    setCentralWidget(central);
}

void TMainForm::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

// The groups pane gets half of what the right column leaves, less 5: the
// contacts pane ends up 10 pixels wider. A bound, not a fixed width, so that
// the window can still be made smaller (down to 640 pixels).
void TMainForm::FormResize()
{
    const int both = centralWidget()->width() - RecepientsAndMsgPanel->width();
    GroupsListPanel->setMaximumWidth(std::max(0, (both - 10) / 2));
}

void TMainForm::ExitActionExecute() { close(); }

// The other windows' commands.
void TMainForm::SmsQueueActionExecute()
{
    // The queue window is created at start-up, a child of this window.
    if (auto* queue = findChild<TSmsQueueForm*>()) {
        queue->show();
        queue->raise();
        queue->activateWindow();
    }
}

void TMainForm::TemplatesActionExecute() { TSmsTemplatesForm::Open(SmsManager().Templates, this); }
void TMainForm::SmsHistoryActionExecute() { ShowHistory(); }
void TMainForm::OptionsActionExecute()
{
    if (TOptionsDlg::Execute(this))
        ApplyOptions();
}

void TMainForm::AboutActionExecute() { TAboutDialog::Execute(this); }
void TMainForm::SmsSendersActionExecute() { TSmsSendersForm::Open(this); }

void TMainForm::TranslitEditorActionExecute()
{
    if (TTranslitDlg::Execute(this))
        SaveTranslitTable(ProgramOptions().TranslitFileName);
}

