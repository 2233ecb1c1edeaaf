#include "ui/dialogs/ContactEditor.h"

#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "model/SmsLink.h"
#include "ui/dialogs/SmsSenderSelector.h"
#include "ui/dialogs/UiHelpers.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

bool TContactEditor::Execute(TContact* contact, bool creating, QWidget* parent)
{
    TContactEditor dialog(contact, creating, parent);
    return RunDialog(dialog) == QDialog::Accepted;
}

namespace {
// A field the user reads but never types into: read-only, face colour, skipped by Tab.
template <class W>
void MakeReadOnlyField(W* field)
{
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::ClickFocus);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    field->setPalette(palette);
}
} // namespace

TContactEditor::TContactEditor(TContact* contact, bool creating, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      FContact(contact), FSmsSender(contact->SmsSender)
{
    setObjectName(QStringLiteral("ContactEditor"));
    setWindowTitle(creating ? QStringLiteral("Создание Абонента") : QStringLiteral("Изменение Абонента"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);

    // The white header band.
    auto* header = Named(new QFrame(this), "HeaderPanel");
    header->setAutoFillBackground(true);
    QPalette white = header->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    header->setPalette(white);
    auto* headerLayout = new QVBoxLayout(header);
    auto* title = Named(new QLabel(QStringLiteral("Свойства Абонента"), header), "TitleLabel");
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto* note = Named(new QLabel(QStringLiteral("Для абонентов России  - 10 значный номер телефона\n"
                                                 "Для абонентов Украины - 7 значный номер телефона\n"
                                                 "Более подробную информацию можно получить из справочника операторов"),
                                  header),
                       "NoteLabel");
    headerLayout->addWidget(title);
    headerLayout->addWidget(note);
    auto* headerLine = new QFrame(this);
    headerLine->setFrameShape(QFrame::HLine);
    headerLine->setFrameShadow(QFrame::Sunken);
    layout->addWidget(header);
    layout->addWidget(headerLine);

    auto* fields = new QGridLayout;
    fields->setContentsMargins(12, 8, 12, 0);
    NameEdit = Named(new QLineEdit(this), "NameEdit");
    PhoneNumberEdit = Named(new QLineEdit(this), "PhoneNumberEdit");
    SmsSenderEdit = Named(new QLineEdit(this), "SmsSenderEdit");
    MakeReadOnlyField(SmsSenderEdit);
    SmsSenderButton = Named(new QToolButton(this), "SmsSenderButton");
    SmsSenderButton->setText(QStringLiteral("..."));
    SmsSenderButton->setFocusPolicy(Qt::StrongFocus);
    NotesMemo = Named(new QPlainTextEdit(this), "NotesMemo");
    MakeReadOnlyField(NotesMemo);
    NotesMemo->setTabChangesFocus(true);
    auto addRow = [&](int row, const QString& caption, QWidget* field) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(field);
        fields->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignTop);
        fields->addWidget(field, row, 1);
    };
    addRow(0, QStringLiteral("Имя Абонента:"), NameEdit);
    addRow(1, QStringLiteral("Телефон:"), PhoneNumberEdit);
    addRow(2, QStringLiteral("Оператор:"), SmsSenderEdit);
    fields->addWidget(SmsSenderButton, 2, 2);
    addRow(3, QStringLiteral("Описание оператора:"), NotesMemo);
    fields->setRowStretch(3, 1);
    layout->addLayout(fields, 1);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    auto* buttons = MakeOkCancel(this);
    auto* bottom = new QVBoxLayout;
    bottom->setContentsMargins(12, 0, 12, 0);
    bottom->addWidget(line);
    bottom->addWidget(MakeSavedOnOkNote(this));
    bottom->addWidget(buttons);
    layout->addLayout(bottom);

    setTabOrder(NameEdit, PhoneNumberEdit);
    setTabOrder(PhoneNumberEdit, SmsSenderButton);
    setTabOrder(SmsSenderButton, buttons->buttons().value(0));
    setTabOrder(buttons->buttons().value(0), buttons->buttons().value(1));
    connect(SmsSenderButton, &QToolButton::clicked, this, [this] { Guard([&] { SmsSenderButtonClick(); }); });

    SetLimitedText(NameEdit, ToQt(contact->Name()), ContactNameLimit);
    SetLimitedText(PhoneNumberEdit, ToQt(contact->PhoneNumber), PhoneFieldLimit);
    ShowSmsSender();
    setFixedSize(QSize(474, 351).expandedTo(sizeHint()));
}

void TContactEditor::ShowSmsSender()
{
    SmsSenderEdit->setText(FSmsSender ? ToQt(FSmsSender->Name()) : QString());
    auto* standard = dynamic_cast<TStdSmsSender*>(FSmsSender);
    NotesMemo->setPlainText(standard ? ToQt(Trim(standard->Notes)) : QString());
}

void TContactEditor::SmsSenderButtonClick()
{
    // The picker's answer replaces the choice, a cancel included (no operator then).
    FSmsSender = TSmsSenderSelector::Execute(this);
    ShowSmsSender();
}

void TContactEditor::accept()
{
    Guard([&] {
        std::string name = Trim(FromQt(NameEdit->text()));
        std::string phone = Trim(FromQt(PhoneNumberEdit->text()));
        if (name.empty())
            throw TError(Cp1251("Не указано имя Абонента."));
        if (phone.empty())
            throw TError(Cp1251("Не указан номер телефона."));
        // A number kept from an older book is left alone when only the name or the operator changes.
        if (phone != Trim(FContact->PhoneNumber) && !LooksLikePhone(phone)) {
            const std::string compact = GatePhone(phone);
            const bool digitsOnly =
                compact.find_first_not_of("0123456789", !compact.empty() && compact[0] == '+' ? 1 : 0) ==
                std::string::npos;
            PhoneNumberEdit->setFocus();
            throw TError(digitsOnly
                             ? Cp1251("Поле «Телефон»: в номере меньше трёх цифр.")
                             : Cp1251("Поле «Телефон»: номер может содержать только цифры, «+» в начале, "
                                      "пробелы, дефисы, точки и скобки."));
        }
        if (!SameText(name, FContact->Name()) && SmsManager().Contacts().IndexOfName(name) >= 0)
            throw TError(Cp1251("Уже существует Абонент с таким именем."));
        if (!FSmsSender)
            throw TError(Cp1251("Не указан оператор."));
        FContact->SetName(name);
        FContact->PhoneNumber = phone;
        FContact->SmsSender = FSmsSender;
        QDialog::accept();
    });
}
