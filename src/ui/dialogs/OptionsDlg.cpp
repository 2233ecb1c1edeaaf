#include "ui/dialogs/OptionsDlg.h"

#include "model/DataPaths.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "ui/dialogs/UiHelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QProxyStyle>
#include <QPushButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace {
constexpr int ShortLimit = 64;
constexpr int ProxyPortLimit = 16;
constexpr int ProxyAccountLimit = 128;
constexpr int PathLimit = 4000;

// Filters of the one save-file dialog; rows pick the second or the third.
const QString FileFilters[] = {QStringLiteral("Все файлы (*)"), QStringLiteral("Файлы с настройками (*.ini)"),
                               QStringLiteral("Текстовые файлы (*.txt)")};
constexpr int IniFilter = 2;

// The items of SmtpSecurityComboBox, in the order of their rows.
struct TSecurityItem {
    TSmtpSecurity Value;
    const char* Caption;
    const char* Hint;
};
const TSecurityItem SecurityItems[] = {
    {TSmtpSecurity::Auto, "Автоматически",
     "Порт 465: TLS с первого байта; иначе STARTTLS, если сервер его предлагает, а если нет - без шифрования"},
    {TSmtpSecurity::StartTls, "Только STARTTLS", "Шифровать после команды STARTTLS; без неё письмо не отправляется"},
    {TSmtpSecurity::Tls, "TLS (порт 465)", "Шифрованное соединение с первого байта"},
    {TSmtpSecurity::None, "Без шифрования", "Обмен с сервером открытым текстом"},
};
constexpr int TextFilter = 3;

QString Trimmed(const QLineEdit* edit) { return ToQt(Trim(FromQt(edit->text()))); }
std::string TakeTrimmed(const QLineEdit* edit) { return Trim(FromQt(edit->text())); }
std::string TakeTrimmed(const QComboBox* combo) { return Trim(FromQt(combo->currentText())); }

QLabel* Heading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

template <class W>
W* WithCaption(W* field, QFormLayout* form, const QString& caption)
{
    auto* label = new QLabel(caption);
    label->setBuddy(field);
    field->setAccessibleName(caption);
    form->addRow(label, field);
    return field;
}

QLineEdit* Edit(const char* name, int limit)
{
    auto* edit = Named(new QLineEdit, name);
    edit->setMaxLength(limit);
    return edit;
}

// Masks passwords with "*" (a style sheet would do it too, but would also
// override the palette that marks a field not in use).
class TStarMaskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLineEdit* PasswordEdit(const char* name, int limit, QStyle* mask)
{
    QLineEdit* edit = Edit(name, limit);
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyle(mask);
    return edit;
}

QComboBox* EditableCombo(const char* name, const std::vector<QString>& items)
{
    auto* combo = Named(new QComboBox, name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    for (const QString& item : items)
        combo->addItem(item);
    combo->lineEdit()->setMaxLength(ShortLimit);
    return combo;
}

// An editable combo shows a stored text with no list entry selected.
void ShowInCombo(QComboBox* combo, const std::string& text)
{
    combo->setCurrentIndex(-1);
    SetLimitedText(combo->lineEdit(), ToQt(text), ShortLimit);
}
} // namespace

const std::vector<QString>& TOptionsDlg::SmtpRelays()
{
    static const std::vector<QString> relays = {QStringLiteral("smtp.yandex.ru:2525"), QStringLiteral("smtp.mail.ru:2525"),
                                                QStringLiteral("smtp.rambler.ru:2525"), QStringLiteral("smtp.gmail.com:2525")};
    return relays;
}

const std::vector<QString>& TOptionsDlg::MailSuffixes()
{
    static const std::vector<QString> suffixes = {QStringLiteral("@yandex.ru"), QStringLiteral("@mail.ru"),
                                                  QStringLiteral("@rambler.ru"), QStringLiteral("@gmail.com")};
    return suffixes;
}

bool TOptionsDlg::Execute(QWidget* parent)
{
    TOptionsDlg dialog(parent);
    return RunDialog(dialog) == QDialog::Accepted;
}

TOptionsDlg::TOptionsDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("OptionsDlg"));
    setWindowTitle(QStringLiteral("Настройки программы Velotext"));
    setWindowIcon(AppIcon(TIcon::Options));
    FStarMask = new TStarMaskStyle;
    FStarMask->setParent(this);

    PageControl = Named(new QTabWidget(this), "PageControl");
    PageControl->addTab(BuildSmsTab(), QStringLiteral("Настройки"));
    PageControl->addTab(BuildConnectionTab(), QStringLiteral("Соединение"));
    PageControl->addTab(BuildDirectoryTab(), QStringLiteral("Расположение файлов"));

    auto* layout = new QVBoxLayout(this);
    // At the first start, what to fill in first and why (hidden afterwards).
    auto* firstRun = Named(new QLabel(QStringLiteral(
                               "Сначала укажите почтовый ящик, через который пойдут SMS по почтовым шлюзам "
                               "операторов: сервер SMTP, имя и пароль. Заполненный адрес %1 — "
                               "общий ящик программы (кнопка «Использовать стандартный EMail шлюз»): "
                               "оставьте его или впишите свой.")
                               .arg(QLatin1String(DefaultSmtpFromAddress)),
                           this),
                           "FirstRunLabel");
    firstRun->setWordWrap(true);
    firstRun->setVisible(ProgramOptions().FirstRun);
    layout->addWidget(firstRun);
    layout->addWidget(PageControl, 1);
    layout->addWidget(MakeSavedOnOkNote(this));
    layout->addWidget(MakeOkCancel(this));
    // 498 x 456, wider where the fonts need it so that no caption is cut.
    setFixedSize(std::max(498, sizeHint().width()), std::max(456, sizeHint().height()));

    FormShow();
}

QWidget* TOptionsDlg::BuildSmsTab()
{
    auto* page = Named(new QWidget, "SmsTS");
    auto* form = new QFormLayout(page);
    PrefixEdit = WithCaption(Edit("PrefixEdit", ShortLimit), form, QStringLiteral("Текст в начале SMS:"));
    SuffixEdit = WithCaption(Edit("SuffixEdit", ShortLimit), form, QStringLiteral("Текст в конце SMS:"));
    TryCountEdit = WithCaption(Named(new QLineEdit, "TryCountEdit"), form, QStringLiteral("Кол-во попыток отсылки SMS:"));
    auto check = [&](const char* name, const QString& caption) {
        auto* box = Named(new QCheckBox(caption), name);
        form->addRow(box);
        return box;
    };
    HistoryCheckBox = check("HistoryCheckBox", QStringLiteral("Вести историю отправленных SMS"));
    TranslitCheckBox = check("TranslitCheckBox", QStringLiteral("Использовать транслитерацию"));
    ClearMessageAfterSendCheckBox = check("ClearMessageAfterSendCheckBox",
                                          QStringLiteral("Очищать текст сообщения после занесения в очередь"));
    ClearRecepientsAfterSendCheckBox = check("ClearRecepientsAfterSendCheckBox",
                                             QStringLiteral("Очищать список адресатов после отсылки SMS"));
    AlertOnErrorsCheckBox = check("AlertOnErrorsCheckBox",
                                  QStringLiteral("Предупреждать, если неотправленное сообщение удаляется из очереди"));
    MinimizeToTrayCheckBox = check("MinimizeToTrayCheckBox", QStringLiteral("Минимизировать в системный Tray"));
    // Quiet hours: "Не отправлять с 21:00 до 09:00".
    auto* quietRow = new QHBoxLayout;
    QuietHoursCheckBox = Named(new QCheckBox(QStringLiteral("Не отправлять с")), "QuietHoursCheckBox");
    QuietFromEdit = Named(new QTimeEdit(QTime(21, 0)), "QuietFromEdit");
    QuietToEdit = Named(new QTimeEdit(QTime(9, 0)), "QuietToEdit");
    for (QTimeEdit* edit : {QuietFromEdit, QuietToEdit}) {
        edit->setDisplayFormat(QStringLiteral("HH:mm"));
        TypeDigitsOverParts(edit);
        edit->setEnabled(false);
        connect(QuietHoursCheckBox, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    }
    auto* till = new QLabel(QStringLiteral("до"));
    quietRow->addWidget(QuietHoursCheckBox);
    quietRow->addWidget(QuietFromEdit);
    quietRow->addWidget(till);
    quietRow->addWidget(QuietToEdit);
    quietRow->addStretch(1);
    form->addRow(quietRow);
    QuietHoursCheckBox->setToolTip(QStringLiteral("В эти часы очередь ничего не отправляет; сообщения ждут утра"));
    return page;
}

QWidget* TOptionsDlg::BuildConnectionTab()
{
    auto* page = Named(new QWidget, "ConnectionTS");
    auto* form = new QFormLayout(page);
    form->addRow(Heading(QStringLiteral("Настройки EMail шлюза"), page));
    SmtpHostEdit = WithCaption(EditableCombo("SmtpHostEdit", SmtpRelays()), form,
                               QStringLiteral("Сервер исходящей почты (SMTP):"));
    SmtpUsernameEdit = WithCaption(Edit("SmtpUsernameEdit", ShortLimit), form, QStringLiteral("Имя пользователя:"));
    SmtpPasswordEdit = WithCaption(PasswordEdit("SmtpPasswordEdit", ShortLimit, FStarMask), form,
                                   QStringLiteral("Пароль к почтовому ящику:"));
    EmailFromAddressEdit = WithCaption(EditableCombo("EmailFromAddressEdit", MailSuffixes()), form,
                                       QStringLiteral("Посылать SMS через почтовый ящик:"));
    connect(EmailFromAddressEdit, &QComboBox::activated, this,
            [this](int index) { Guard([&] { EmailFromAddressEditCloseUp(index); }); });
    SmtpSecurityComboBox = WithCaption(Named(new QComboBox, "SmtpSecurityComboBox"), form,
                                       QStringLiteral("Защита соединения:"));
    for (const TSecurityItem& item : SecurityItems) {
        SmtpSecurityComboBox->addItem(QString::fromUtf8(item.Caption));
        SmtpSecurityComboBox->setItemData(SmtpSecurityComboBox->count() - 1, QString::fromUtf8(item.Hint),
                                          Qt::ToolTipRole);
    }
    StdEmailGateButton = Named(new QPushButton(QStringLiteral("Использовать стандартный EMail шлюз")), "StdEmailGateButton");
    connect(StdEmailGateButton, &QPushButton::clicked, this, [this] { Guard([&] { StdEmailGateButtonClick(); }); });
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(StdEmailGateButton);
    form->addRow(buttonRow);

    form->addRow(Heading(QStringLiteral("Настройки WEB шлюза"), page));
    ProxyCheckBox = Named(new QCheckBox(QStringLiteral("Использовать прокси сервер")), "ProxyCheckBox");
    form->addRow(ProxyCheckBox);
    ProxyServerEdit = WithCaption(Edit("ProxyServerEdit", ShortLimit), form, QStringLiteral("Адрес:"));
    ProxyPortEdit = WithCaption(Edit("ProxyPortEdit", ProxyPortLimit), form, QStringLiteral("Порт:"));
    ProxyAuthCheckBox = Named(new QCheckBox(QStringLiteral("Требуется авторизация пользователя")), "ProxyAuthCheckBox");
    form->addRow(ProxyAuthCheckBox);
    ProxyUsernameEdit = WithCaption(Edit("ProxyUsernameEdit", ProxyAccountLimit), form, QStringLiteral("Имя:"));
    ProxyPasswordEdit = WithCaption(PasswordEdit("ProxyPasswordEdit", ProxyAccountLimit, FStarMask), form, QStringLiteral("Пароль:"));
    connect(ProxyCheckBox, &QCheckBox::toggled, this, [this] { ProxyCheckBoxClick(); });
    connect(ProxyAuthCheckBox, &QCheckBox::toggled, this, [this] { ProxyCheckBoxClick(); });

    form->addRow(Heading(QStringLiteral("Пароли"), page));
    KeyringCheckBox =
        Named(new QCheckBox(QStringLiteral("Хранить пароли в связке ключей рабочего стола")), "KeyringCheckBox");
    KeyringCheckBox->setToolTip(QStringLiteral("Без связки ключей пароли хранятся в файле настроек"));
    form->addRow(KeyringCheckBox);
    KeyringNoteLabel = Named(new QLabel(page), "KeyringNoteLabel");
    KeyringNoteLabel->setWordWrap(true);
    // Room for two lines: the dialog's size is fixed before the text is known.
    KeyringNoteLabel->setMinimumHeight(2 * KeyringNoteLabel->fontMetrics().lineSpacing());
    KeyringNoteLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    form->addRow(KeyringNoteLabel);
    connect(KeyringCheckBox, &QCheckBox::toggled, this, [this] { ShowKeyringState(); });
    return page;
}

void TOptionsDlg::ShowKeyringState()
{
    TSmsOptions wanted = SmsOptions();
    wanted.KeyringFlag = KeyringCheckBox->isChecked();
    const QString state = ToQt(SecretStoreState(wanted));
    KeyringNoteLabel->setText(state.isEmpty() ? QStringLiteral("Пароли хранятся в связке ключей рабочего стола.")
                                              : state);
}

QWidget* TOptionsDlg::BuildDirectoryTab()
{
    auto* page = Named(new QWidget, "DirectoryTS");
    auto* grid = new QGridLayout(page);
    struct TRow {
        const char* Caption;
        const char* Edit;
        const char* Button;
        int Filter;
        QLineEdit** Field;
    };
    const TRow rows[] = {
        {"Адресная книга:", "AddressBookFileEdit", "AddressBookFileSB", IniFilter, &AddressBookFileEdit},
        {"Настройки:", "OptionsFileEdit", "OptionsFileSB", IniFilter, &OptionsFileEdit},
        {"История SMS:", "HistoryFileEdit", "HistoryFileSB", TextFilter, &HistoryFileEdit},
        {"Шаблоны SMS:", "TemplatesFileEdit", "TemplatesFileSB", TextFilter, &TemplatesFileEdit},
        {"Операторы:", "SmsGatesFileEdit", "SmsGatesSB", IniFilter, &SmsGatesFileEdit},
        {"Транслитерация:", "TranslitFileEdit", "TranslitSB", TextFilter, &TranslitFileEdit},
    };
    int line = 0;
    for (const TRow& row : rows) {
        QLineEdit* edit = Edit(row.Edit, PathLimit);
        auto* label = new QLabel(QString::fromUtf8(row.Caption), page);
        label->setBuddy(edit);
        edit->setAccessibleName(label->text());
        auto* button = Named(new QToolButton(page), row.Button);
        button->setText(QStringLiteral("..."));
        button->setToolTip(label->text());
        const int filter = row.Filter;
        connect(button, &QToolButton::clicked, this, [this, edit, filter] { Guard([&] { ChooseFile(edit, filter); }); });
        grid->addWidget(label, line, 0);
        grid->addWidget(edit, line, 1);
        grid->addWidget(button, line, 2);
        *row.Field = edit;
        ++line;
    }
    grid->setRowStretch(line, 1);
    return page;
}

void TOptionsDlg::FormShow()
{
    const TSmsOptions& o = SmsOptions();
    const TProgramOptions& p = ProgramOptions();
    SetLimitedText(PrefixEdit, ToQt(Trim(o.Prefix)), ShortLimit);
    SetLimitedText(SuffixEdit, ToQt(Trim(o.Suffix)), ShortLimit);
    TryCountEdit->setText(QString::number(o.MaxTryCount));
    HistoryCheckBox->setChecked(o.HistoryFlag);
    TranslitCheckBox->setChecked(o.TranslitFlag);
    ClearMessageAfterSendCheckBox->setChecked(o.ClearMessageAfterSendFlag);
    ClearRecepientsAfterSendCheckBox->setChecked(o.ClearRecepientsAfterSendFlag);
    AlertOnErrorsCheckBox->setChecked(o.AlertOnErrorsFlag);
    MinimizeToTrayCheckBox->setChecked(o.MinimizeToTrayFlag);
    QuietHoursCheckBox->setChecked(o.QuietHoursOn());
    if (o.QuietHoursOn()) {
        QuietFromEdit->setTime(QTime(o.QuietFrom / 60, o.QuietFrom % 60));
        QuietToEdit->setTime(QTime(o.QuietTo / 60, o.QuietTo % 60));
    }

    ShowInCombo(SmtpHostEdit, o.SmtpHost);
    SetLimitedText(SmtpUsernameEdit, ToQt(o.SmtpUsername), ShortLimit);
    SetLimitedText(SmtpPasswordEdit, ToQt(o.SmtpPassword), ShortLimit);
    ShowInCombo(EmailFromAddressEdit, o.SmtpFromAddress);
    for (size_t i = 0; i < std::size(SecurityItems); ++i)
        if (SecurityItems[i].Value == o.SmtpSecurity)
            SmtpSecurityComboBox->setCurrentIndex(static_cast<int>(i));
    ProxyCheckBox->setChecked(o.ProxyFlag);
    SetLimitedText(ProxyServerEdit, ToQt(o.ProxyServer), ShortLimit);
    SetLimitedText(ProxyPortEdit, QString::number(o.ProxyPort), ProxyPortLimit);
    ProxyAuthCheckBox->setChecked(o.ProxyAuthFlag);
    SetLimitedText(ProxyUsernameEdit, ToQt(o.ProxyUsername), ProxyAccountLimit);
    SetLimitedText(ProxyPasswordEdit, ToQt(o.ProxyPassword), ProxyAccountLimit);
    KeyringCheckBox->setChecked(o.KeyringFlag);
    ShowKeyringState();

    const std::pair<QLineEdit*, const std::string*> paths[] = {
        {AddressBookFileEdit, &p.AddressBookFileName}, {OptionsFileEdit, &p.OptionsFileName},
        {HistoryFileEdit, &p.HistoryFileName},         {TemplatesFileEdit, &p.TemplatesFileName},
        {SmsGatesFileEdit, &p.SmsGatesFileName},       {TranslitFileEdit, &p.TranslitFileName}};
    for (const auto& [edit, path] : paths)
        SetLimitedText(edit, ToQt(*path), PathLimit);

    ProxyCheckBoxClick();
    PageControl->setCurrentIndex(p.FirstRun ? 1 : 0);
}

void TOptionsDlg::ProxyCheckBoxClick()
{
    const bool proxy = ProxyCheckBox->isChecked();
    SetEditActive(ProxyServerEdit, proxy);
    SetEditActive(ProxyPortEdit, proxy);
    SetCheckBoxActive(ProxyAuthCheckBox, proxy);
    const bool account = proxy && ProxyAuthCheckBox->isChecked();
    SetEditActive(ProxyUsernameEdit, account);
    SetEditActive(ProxyPasswordEdit, account);
}

void TOptionsDlg::StdEmailGateButtonClick()
{
    SmtpHostEdit->setCurrentIndex(-1);
    SmtpHostEdit->setEditText(SmtpRelays()[1]);
    SmtpUsernameEdit->setText(QStringLiteral("qarvo"));
    SmtpPasswordEdit->clear();
    EmailFromAddressEdit->setCurrentIndex(-1);
    EmailFromAddressEdit->setEditText(QStringLiteral("qarvo") + MailSuffixes()[1]);
}

void TOptionsDlg::EmailFromAddressEditCloseUp(int index)
{
    if (index < 0)
        return;
    // The composed address may be longer than what can be typed: shown whole.
    SetLimitedText(EmailFromAddressEdit->lineEdit(), Trimmed(SmtpUsernameEdit) + EmailFromAddressEdit->itemText(index),
                   ShortLimit);
}

void TOptionsDlg::ChooseFile(QLineEdit* edit, int filterIndex)
{
    // A bare name is proposed in the program's data folder, where it lives.
    QString proposed = Trimmed(edit);
    if (QFileInfo(proposed).isRelative())
        proposed = QDir(QFile::decodeName(QByteArray::fromStdString(DataDir()))).filePath(proposed);
    QStringList filters;
    for (const QString& filter : FileFilters)
        filters << filter;
    std::optional<QString> chosen = AskSaveFileName(QStringLiteral("Выбор файла"), filters.join(QStringLiteral(";;")),
                                                    proposed, FileFilters[filterIndex - 1]);
    if (chosen)
        SetLimitedText(edit, *chosen, PathLimit);
}

void TOptionsDlg::accept()
{
    const bool checked = Guard([&] {
        if (ProxyCheckBox->isChecked())
            CheckNonNegativeInt(ProxyPortEdit->text(), QStringLiteral("Указан неверный номер порта."));
        int tries = 0;
        if (!TryStrToInt(TakeTrimmed(TryCountEdit), tries) || tries <= 0)
            throw TError(Cp1251("Кол-во попыток отсылки SMS \rдолжно быть положительным числом."));
    });
    if (!checked)
        return; // the dialog stays open with the input as it was
    TakeOver();
    // A failed save is reported as the program's error; the dialog stays open
    // so that another path can be given.
    if (!TopLevelGuard([] {
            ProgramOptions().Save();
            SmsOptions().Save(ProgramOptions().OptionsFileName, true); // passwords in the file offered to the keyring
        }))
        return;
    if (const std::string note = TakeSecretStoreMessage(); !note.empty())
        ShowErrorBox(ToQt(note), QStringLiteral("Связка ключей"));
    QDialog::accept();
}

void TOptionsDlg::TakeOver()
{
    TProgramOptions& p = ProgramOptions();
    p.AddressBookFileName = TakeTrimmed(AddressBookFileEdit);
    p.OptionsFileName = TakeTrimmed(OptionsFileEdit);
    p.HistoryFileName = TakeTrimmed(HistoryFileEdit);
    p.TemplatesFileName = TakeTrimmed(TemplatesFileEdit);
    p.SmsGatesFileName = TakeTrimmed(SmsGatesFileEdit);
    p.TranslitFileName = TakeTrimmed(TranslitFileEdit);

    TSmsOptions& o = SmsOptions();
    const bool proxy = ProxyCheckBox->isChecked();
    const bool account = proxy && ProxyAuthCheckBox->isChecked();
    o.ProxyFlag = proxy;
    o.ProxyServer = proxy ? TakeTrimmed(ProxyServerEdit) : std::string();
    o.ProxyPort = 0;
    if (proxy)
        TryStrToInt(TakeTrimmed(ProxyPortEdit), o.ProxyPort); // checked before
    o.ProxyAuthFlag = ProxyAuthCheckBox->isChecked();
    o.ProxyUsername = account ? TakeTrimmed(ProxyUsernameEdit) : std::string();
    o.ProxyPassword = account ? TakeTrimmed(ProxyPasswordEdit) : std::string();
    o.SmtpHost = TakeTrimmed(SmtpHostEdit);
    o.SmtpUsername = TakeTrimmed(SmtpUsernameEdit);
    o.SmtpPassword = TakeTrimmed(SmtpPasswordEdit);
    o.SmtpFromAddress = TakeTrimmed(EmailFromAddressEdit);
    o.KeyringFlag = KeyringCheckBox->isChecked();
    const int security = SmtpSecurityComboBox->currentIndex();
    if (security >= 0)
        o.SmtpSecurity = SecurityItems[security].Value;
    o.Prefix = TakeTrimmed(PrefixEdit);
    o.Suffix = TakeTrimmed(SuffixEdit);
    TryStrToInt(TakeTrimmed(TryCountEdit), o.MaxTryCount); // checked before
    o.HistoryFlag = HistoryCheckBox->isChecked();
    o.TranslitFlag = TranslitCheckBox->isChecked();
    o.ClearMessageAfterSendFlag = ClearMessageAfterSendCheckBox->isChecked();
    o.ClearRecepientsAfterSendFlag = ClearRecepientsAfterSendCheckBox->isChecked();
    o.AlertOnErrorsFlag = AlertOnErrorsCheckBox->isChecked();
    o.MinimizeToTrayFlag = MinimizeToTrayCheckBox->isChecked();
    const auto minutes = [](const QTimeEdit* edit) { return edit->time().hour() * 60 + edit->time().minute(); };
    const bool quiet = QuietHoursCheckBox->isChecked() && minutes(QuietFromEdit) != minutes(QuietToEdit);
    o.QuietFrom = quiet ? minutes(QuietFromEdit) : -1;
    o.QuietTo = quiet ? minutes(QuietToEdit) : -1;
}
