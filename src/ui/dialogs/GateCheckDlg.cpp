#include "ui/dialogs/GateCheckDlg.h"

#include "engine/GateCheck.h"
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "model/Clock.h"
#include "model/DeliveryCancel.h"
#include "ui/UiText.h"
#include "ui/dialogs/UiHelpers.h"

#include <QApplication>
#include <QClipboard>
#include <QCollator>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <algorithm>

namespace {

// The phone of the last check in this run: the next check starts with it.
QString LastPhone;

// How a step is marked in the report: what went out, what came back.
QString StepMark(TGateStep kind)
{
    switch (kind) {
    case TGateStep::Sent:
        return QStringLiteral("→ ");
    case TGateStep::Received:
    case TGateStep::Body:
        return QStringLiteral("← ");
    case TGateStep::Outcome:
        return QStringLiteral("■ ");
    default:
        return QStringLiteral("· ");
    }
}

// One step: its time in milliseconds, then its lines, the later ones indented under the first.
QString StepText(const TGateTraceLine& line)
{
    const QString time = QStringLiteral("%1 мс").arg(line.Ms, 6);
    QString text = ToQt(line.Text);
    if (line.Kind == TGateStep::Body)
        text = text.isEmpty() ? QStringLiteral("(тело ответа пусто)") : QStringLiteral("Тело ответа:\n") + text;
    else if (line.Kind == TGateStep::Letter)
        text = QStringLiteral("Письмо:\n") + text;
    const QString indent(time.size() + 3, QLatin1Char(' '));
    QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 1; i < lines.size(); ++i)
        lines[i] = indent + lines[i];
    return time + QLatin1Char(' ') + StepMark(line.Kind) + lines.join(QLatin1Char('\n'));
}

} // namespace

void TGateCheckDlg::Execute(const TSmsSender& sender, QWidget* parent)
{
    TGateCheckDlg dialog(sender, parent);
    RunDialog(dialog);
}

TGateCheckDlg::TGateCheckDlg(const TSmsSender& sender, QWidget* parent) : QDialog(parent), FSender(sender)
{
    setObjectName(QStringLiteral("GateCheckDlg"));
    setWindowTitle(QStringLiteral("Проверка оператора «%1»").arg(ToQt(sender.Name())));
    resize(760, 560);

    PhoneEdit = Named(new QLineEdit(this), "PhoneEdit");
    ContactComboBox = Named(new QComboBox(this), "ContactComboBox");
    ContactComboBox->addItem(QStringLiteral("(выбрать абонента)"));
    std::vector<std::pair<QString, QString>> contacts; // caption, phone
    const TContactList& list = SmsManager().Contacts();
    for (int i = 0; i < list.Count(); ++i)
        contacts.emplace_back(ToQt(ContactCaption(list.Items(i))), ToQt(list.Items(i)->PhoneNumber));
    QCollator collator(QLocale(QLocale::Russian, QLocale::Russia));
    std::sort(contacts.begin(), contacts.end(),
              [&](const auto& a, const auto& b) { return collator.compare(a.first, b.first) < 0; });
    for (const auto& [caption, phone] : contacts)
        ContactComboBox->addItem(caption, phone);
    connect(ContactComboBox, &QComboBox::activated, this, [this](int index) { ContactChosen(index); });
    PhoneEdit->setText(LastPhone);
    if (LastPhone.isEmpty()) // else the first contact served by this operator
        for (int i = 0; i < list.Count(); ++i)
            if (list.Items(i)->SmsSender == &sender && !list.Items(i)->PhoneNumber.empty()) {
                PhoneEdit->setText(ToQt(list.Items(i)->PhoneNumber));
                break;
            }

    const TDateTime now = Now();
    TextEdit = Named(new QLineEdit(this), "TextEdit");
    TextEdit->setText(QStringLiteral("Проверка %1 %2:%3")
                          .arg(ToQt(sender.Name()))
                          .arg(now.Hour, 2, 10, QLatin1Char('0'))
                          .arg(now.Minute, 2, 10, QLatin1Char('0')));

    auto* phoneRow = new QHBoxLayout;
    phoneRow->addWidget(PhoneEdit, 1);
    phoneRow->addWidget(ContactComboBox, 1);
    auto* form = new QFormLayout;
    auto* phoneLabel = new QLabel(QStringLiteral("Телефон:"), this);
    phoneLabel->setBuddy(PhoneEdit);
    PhoneEdit->setAccessibleName(phoneLabel->text());
    ContactComboBox->setAccessibleName(QStringLiteral("Абонент"));
    form->addRow(phoneLabel, phoneRow);
    auto* textLabel = new QLabel(QStringLiteral("Текст:"), this);
    textLabel->setBuddy(TextEdit);
    TextEdit->setAccessibleName(textLabel->text());
    form->addRow(textLabel, TextEdit);

    auto* note = Named(new QLabel(QStringLiteral("Проверка не попадает ни в очередь, ни в историю SMS. "
                                                 "Пароли в отчёте заменены на «***»."),
                                  this),
                       "NoteLabel");
    note->setWordWrap(true);

    auto button = [this](const char* name, const QString& caption, void (TGateCheckDlg::*handler)()) {
        auto* b = Named(new QPushButton(caption, this), name);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, handler] { Guard([&] { (this->*handler)(); }); });
        return b;
    };
    SendButton = button("SendButton", QStringLiteral("Отправить"), &TGateCheckDlg::SendButtonClick);
    BuildButton = button("BuildButton", QStringLiteral("Без отправки"), &TGateCheckDlg::BuildButtonClick);
    StopButton = button("StopButton", QStringLiteral("Прервать"), &TGateCheckDlg::StopButtonClick);
    CopyButton = button("CopyButton", QStringLiteral("Копировать"), &TGateCheckDlg::CopyButtonClick);
    CloseButton = Named(new QPushButton(QStringLiteral("Закрыть"), this), "CloseButton");
    CloseButton->setAutoDefault(false);
    connect(CloseButton, &QPushButton::clicked, this, &TGateCheckDlg::reject);
    SendButton->setToolTip(QStringLiteral("Отправить проверочное сообщение и показать весь обмен с шлюзом"));
    BuildButton->setToolTip(QStringLiteral("Только построить запрос: адрес или письмо, части, кодировку"));
    CopyButton->setToolTip(QStringLiteral("Поместить весь отчёт в буфер обмена"));

    StatusLabel = Named(new QLabel(this), "StatusLabel");
    StatusLabel->setWordWrap(true);
    TraceMemo = Named(new QPlainTextEdit(this), "TraceMemo");
    TraceMemo->setReadOnly(true);
    TraceMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    TraceMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    TraceMemo->setAccessibleName(QStringLiteral("Отчёт о проверке"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(SendButton);
    buttons->addWidget(BuildButton);
    buttons->addWidget(StopButton);
    buttons->addStretch(1);
    buttons->addWidget(CopyButton);
    buttons->addWidget(CloseButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addLayout(buttons);
    layout->addWidget(StatusLabel);
    layout->addWidget(TraceMemo, 1);

    FRefresh.setInterval(100);
    connect(&FRefresh, &QTimer::timeout, this, [this] { ShowNewLines(); });
    connect(&FWatcher, &QFutureWatcher<void>::finished, this, [this] { Guard([&] { CheckDone(); }); });
    UpdateButtons();
}

TGateCheckDlg::~TGateCheckDlg()
{
    // The worker holds its own reference to the check and ends at once.
    if (FCheck)
        FCheck->Cancel();
}

void TGateCheckDlg::reject()
{
    if (FCheck)
        FCheck->Cancel();
    QDialog::reject();
}

void TGateCheckDlg::ContactChosen(int index)
{
    if (index > 0)
        PhoneEdit->setText(ContactComboBox->itemData(index).toString());
}

void TGateCheckDlg::Start(bool buildOnly)
{
    if (FCheck)
        return;
    const std::string phone = Trim(FromQt(PhoneEdit->text()));
    if (phone.empty()) {
        PhoneEdit->setFocus();
        throw TError(Cp1251("Не указан номер телефона."));
    }
    LastPhone = ToQt(phone);
    auto check = std::make_shared<TGateCheck>(FSender, phone, FromQt(TextEdit->text()), buildOnly);
    TraceMemo->setPlainText(
        QStringLiteral("Проверка оператора «%1»: %2\nТелефон: %3\nТекст: %4\n")
            .arg(ToQt(FSender.Name()),
                 buildOnly ? QStringLiteral("без отправки, запрос только строится") : QStringLiteral("отправка"),
                 ToQt(phone), TextEdit->text()));
    FShown = 0;
    FCheck = check;
    StatusLabel->setText(buildOnly ? QStringLiteral("Запрос строится…") : QStringLiteral("Идёт проверка…"));
    FWatcher.setFuture(QtConcurrent::run([check] { check->Run(); }));
    FRefresh.start();
    UpdateButtons();
}

void TGateCheckDlg::StopButtonClick()
{
    if (FCheck) {
        FCheck->Cancel();
        StatusLabel->setText(QStringLiteral("Проверка прерывается…"));
    }
}

void TGateCheckDlg::ShowNewLines()
{
    if (!FCheck)
        return;
    for (const auto& line : FCheck->Lines(FShown)) {
        TraceMemo->appendPlainText(StepText(line));
        ++FShown;
    }
}

void TGateCheckDlg::CheckDone()
{
    FRefresh.stop();
    ShowNewLines();
    const std::shared_ptr<TGateCheck> check = std::exchange(FCheck, nullptr);
    const auto outcome = check->Outcome();
    if (!outcome)
        StatusLabel->setText(check->BuildOnlyCheck() ? QStringLiteral("Запрос построен, ничего не отправлено.")
                                                     : QStringLiteral("Доставлено."));
    else if (outcome->Text == DeliveriesCancelledMessage())
        StatusLabel->setText(QStringLiteral("Проверка прервана."));
    else
        StatusLabel->setText(QStringLiteral("Ошибка: ") + ToQt(outcome->Text).replace(QLatin1Char('\r'), QLatin1Char(' ')));
    TraceMemo->verticalScrollBar()->setValue(0);
    UpdateButtons();
    emit CheckFinished();
}

void TGateCheckDlg::CopyButtonClick() { QApplication::clipboard()->setText(ReportText()); }

QString TGateCheckDlg::ReportText() const { return TraceMemo->toPlainText(); }

void TGateCheckDlg::UpdateButtons()
{
    const bool running = FCheck != nullptr;
    SendButton->setEnabled(!running);
    BuildButton->setEnabled(!running);
    StopButton->setEnabled(running);
    CopyButton->setEnabled(!running && !TraceMemo->toPlainText().isEmpty());
    PhoneEdit->setEnabled(!running);
    ContactComboBox->setEnabled(!running);
    TextEdit->setEnabled(!running);
}
