// The main window's composer: the message box and its counter, the templates
// and queue menus, the send with its checks, the countdown after a send and
// the status texts.
#include "ui/main/MainForm.h"

#include "engine/SmsManager.h"
#include "model/Error.h"
#include "model/Text.h"
#include "model/Translit.h"
#include "storage/SmsOptions.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MessageMemo.h"
#include "ui/main/SmsQueueForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int TemplateCaptionLength = 32;

// A menu item shows "&" as itself and a tab as a blank.
QString MenuCaption(const std::string& text)
{
    QString caption = ToQt(text);
    caption.replace(QChar('&'), QStringLiteral("&&"));
    caption.replace(QChar('\t'), QChar(' '));
    return caption;
}

QToolButton* MenuButton(QToolBar* bar, QAction* action, QMenu* menu, const char* name)
{
    auto* button = Named(new QToolButton(bar), name);
    button->setDefaultAction(action);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::MenuButtonPopup);
    button->setAutoRaise(true);
    bar->addWidget(button);
    return button;
}
} // namespace

void TMainForm::CreateComposerActions()
{
    BaseTitle = windowTitle(); // the title without the queue count
    TranslitAction = MakeAction(this, "TranslitAction", QStringLiteral("Транслитерация"), TIcon::Translit,
                                &TMainForm::TranslitActionExecute);
    TranslitAction->setCheckable(true);
    StartAction = MakeAction(this, "StartAction", QStringLiteral("Возобновить рассылку"), TIcon::Start,
                             &TMainForm::StartActionExecute);
    PauseAction = MakeAction(this, "PauseAction", QStringLiteral("Приостановить рассылку"), TIcon::Pause,
                             &TMainForm::PauseActionExecute);

    TemplatesPopupMenu = Named(new QMenu(this), "TemplatesPopupMenu");
    // Item i inserts template i; the captions are set each time the menu opens.
    static const char* const itemNames[] = {
        "Template01", "Template1",   "Template21",  "Template31",  "Template41",  "Template51",  "Template61",
        "Template71", "Template81",  "Template91",  "Template101", "Template111", "Template121", "Template131",
        "Template141", "Template151", "Template92", "Template171", "Template181", "Template191"};
    static_assert(std::size(itemNames) == std::tuple_size_v<decltype(TemplateItems)>);
    for (int i = 0; i < static_cast<int>(TemplateItems.size()); ++i) {
        QAction* item = TemplatesPopupMenu->addAction(QStringLiteral("Template %1").arg(i));
        item->setObjectName(QString::fromLatin1(itemNames[i]));
        connect(item, &QAction::triggered, this, [i] { Guard([i] { SmsManager().Templates.InsertTemplate(i); }); });
        TemplateItems[i] = item;
    }
    connect(TemplatesPopupMenu, &QMenu::aboutToShow, this, [this] { Guard([this] { TemplatesPopupMenuPopup(); }); });

    SmsQueuePopupMenu = Named(new QMenu(this), "SmsQueuePopupMenu");
    SmsQueuePopupMenu->addAction(StartAction);
    SmsQueuePopupMenu->addAction(PauseAction);

    DelayTimer = Named(new QTimer(this), "DelayTimer");
    DelayTimer->setInterval(1000);
    connect(DelayTimer, &QTimer::timeout, this, [this] { Guard([this] { DelayTimerTimer(); }); });
}

void TMainForm::CreateComposerPanel(QWidget* panel)
{
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(4, 0, 4, 4);
    column->setSpacing(2);

    ToolBar1 = Named(new QToolBar(panel), "ToolBar1");
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->addAction(NewSmsAction);
    ToolBar1->addSeparator();
    MenuButton(ToolBar1, TemplatesAction, TemplatesPopupMenu, "TemplatesTB");
    MenuButton(ToolBar1, SmsQueueAction, SmsQueuePopupMenu, "SmsQueueTB");
    ToolBar1->addSeparator();
    TranslitTB = Named(new QToolButton(ToolBar1), "TranslitTB");
    TranslitTB->setDefaultAction(TranslitAction);
    TranslitTB->setToolButtonStyle(Qt::ToolButtonTextOnly); // its pressed state reads better as a word
    TranslitTB->setAutoRaise(true);
    ToolBar1->addWidget(TranslitTB);
    ToolBar1->addSeparator();
    ToolBar1->addAction(SendSmsAction);
    column->addWidget(ToolBar1);

    SmsErrorLabel = Named(new QLabel(panel), "SmsErrorLabel");
    QPalette maroon = SmsErrorLabel->palette();
    maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
    SmsErrorLabel->setPalette(maroon);
    column->addWidget(SmsErrorLabel);

    auto* infoRow = new QHBoxLayout;
    SmsInfoLabel = Named(new QLabel(QStringLiteral("Сообщение:"), panel), "SmsInfoLabel");
    CharCounterLabel = Named(new QLabel(panel), "CharCounterLabel");
    CharCounterLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    infoRow->addWidget(SmsInfoLabel, 1);
    infoRow->addWidget(CharCounterLabel);
    column->addLayout(infoRow);

    MessageMemo = Named(new TMessageMemo(panel), "MessageMemo");
    SmsInfoLabel->setBuddy(MessageMemo);
    MessageMemo->setAccessibleName(QStringLiteral("Сообщение"));
    connect(MessageMemo, &QPlainTextEdit::textChanged, this, [this] { UpdateCharCounter(); });
    column->addWidget(MessageMemo, 1);

    auto* sendRow = new QHBoxLayout;
    SendButton = Named(new QToolButton(panel), "SendButton");
    SendButton->setDefaultAction(SendSmsAction);
    SendButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SendButton->setMinimumHeight(28);
    SecondsLeftLabel = Named(new QLabel(panel), "SecondsLeftLabel");
    SecondsLeftLabel->setWordWrap(true);
    sendRow->addWidget(SendButton);
    sendRow->addWidget(SecondsLeftLabel, 1);
    column->addLayout(sendRow);

    UpdateCharCounter();
}

std::string TMainForm::MessageText() const { return ComposedMessageText(MessageMemo->Text()); }

void TMainForm::UpdateCharCounter()
{
    CharCounterLabel->setText(ToQt(CharCounterText(static_cast<int>(MessageText().size()))));
}

void TMainForm::NewMessage()
{
    const TSmsOptions& options = SmsOptions();
    std::string text = Trim(options.Prefix);
    const std::string suffix = Trim(options.Suffix);
    if (!suffix.empty())
        text = text.empty() ? suffix : text + "\r\n" + suffix;
    MessageMemo->SetText(text);
    MessageMemo->SetSelStart(0);
}

void TMainForm::InsertTemplateText(const std::string& text)
{
    const int position = MessageMemo->SelStart();
    MessageMemo->InsertAt(position, text + "\r\n");
    MessageMemo->SetSelStart(position + static_cast<int>(text.size()) + 2);
    // The command comes from the templates window: the keyboard goes to this
    // window's message field, so the window becomes the active one as well.
    if (FHiddenToTray)
        RestoreFromTray();
    raise();
    activateWindow();
    MessageMemo->setFocus();
}

void TMainForm::TemplatesPopupMenuPopup()
{
    for (QAction* item : TemplateItems)
        item->setVisible(false);
    const TSmsTemplateList& templates = SmsManager().Templates;
    const int count = std::min(templates.Count(), static_cast<int>(TemplateItems.size()));
    for (int i = 0; i < count; ++i) {
        std::string caption = templates.Get(i);
        if (caption.size() > TemplateCaptionLength)
            caption = caption.substr(0, TemplateCaptionLength) + "...";
        TemplateItems[i]->setText(MenuCaption(caption));
        TemplateItems[i]->setVisible(true);
    }
}

void TMainForm::EnqueueMessage()
{
    if (MessageText().empty())
        throw TError(Cp1251("Не указан текст сообщения."));
    TSmsManager& manager = SmsManager();
    if (manager.Recipients.Contacts.Count() == 0 && manager.Recipients.Groups.Count() == 0)
        throw TError(Cp1251("Список адресатов пуст."));
    if (TranslitTB->isChecked())
        MessageMemo->SetText(Translit(MessageText()));
    manager.QueueSms(MessageText());
    const TSmsOptions& options = SmsOptions();
    if (options.ClearMessageAfterSendFlag)
        NewMessage();
    if (options.ClearRecepientsAfterSendFlag)
        EmptyRecipientList();
}

void TMainForm::SendSmsActionExecute()
{
    EnqueueMessage();
    if (FSmsQueueForm)
        FSmsQueueForm->RefreshQueue();
    UpdateStatus();
    StartSendDelay();
}

void TMainForm::StartSendDelay()
{
    SecondsLeft = 15;
    SendSmsAction->setEnabled(false);
    DelayTimer->stop();
    DelayTimer->start();
}

void TMainForm::DelayTimerTimer()
{
    --SecondsLeft;
    if (SecondsLeft < 0) {
        DelayTimer->stop();
        SendSmsAction->setEnabled(true);
        SecondsLeftLabel->clear();
    } else {
        SecondsLeftLabel->setText(QStringLiteral("Следующее SMS можно отослать через %1 сек.").arg(SecondsLeft));
    }
}

void TMainForm::UpdateStatus()
{
    const TSmsQueue& queue = SmsManager().Queue;
    const int queued = queue.Count();
    QString info = QStringLiteral("Сообщение:");
    QString title = BaseTitle;
    if (queued > 0) {
        info = QStringLiteral("В очереди %1 SMS").arg(queued);
        title = QStringLiteral("%1 (%2)").arg(BaseTitle).arg(queued);
    }
    setWindowTitle(title);
    if (queue.FailedCount > 0)
        SmsErrorLabel->setText(QStringLiteral("Не удалось отправить %1 SMS").arg(queue.FailedCount));
    else
        SmsErrorLabel->clear();
    if (FSmsQueueForm && FSmsQueueForm->Paused())
        info += QStringLiteral(" (рассылка приостановлена)");
    SmsInfoLabel->setText(info);
}

void TMainForm::UpdateQueueActions()
{
    const bool paused = FSmsQueueForm && FSmsQueueForm->Paused();
    StartAction->setVisible(paused);
    StartAction->setEnabled(paused);
    PauseAction->setVisible(!paused);
    PauseAction->setEnabled(!paused);
}

void TMainForm::NewSmsActionExecute() { NewMessage(); }

void TMainForm::TranslitActionExecute() { SmsOptions().TranslitFlag = TranslitAction->isChecked(); }

void TMainForm::StartActionExecute()
{
    if (FSmsQueueForm)
        FSmsQueueForm->Resume();
    UpdateQueueActions();
}

void TMainForm::PauseActionExecute()
{
    if (FSmsQueueForm)
        FSmsQueueForm->Pause();
    UpdateQueueActions();
}
