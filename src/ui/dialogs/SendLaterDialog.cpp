#include "ui/dialogs/SendLaterDialog.h"

#include "model/Clock.h"
#include "ui/dialogs/UiHelpers.h"

#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

std::optional<QDateTime> TSendLaterDialog::Execute(QWidget* parent)
{
    TSendLaterDialog dialog(parent);
    if (RunDialog(dialog) != QDialog::Accepted)
        return std::nullopt;
    return dialog.Chosen();
}

QDateTime TSendLaterDialog::NextFullHour(const QDateTime& now)
{
    const QDateTime hour(now.date(), QTime(now.time().hour(), 0));
    return hour.addSecs(3600);
}

TSendLaterDialog::TSendLaterDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("SendLaterDialog"));
    setWindowTitle(QStringLiteral("Отправить позже"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Отправить сообщение:"), this);
    SendTimeEdit = Named(new QDateTimeEdit(this), "SendTimeEdit");
    SendTimeEdit->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm"));
    SendTimeEdit->setCalendarPopup(true);
    TypeDigitsOverParts(SendTimeEdit);
    // The program's clock (tests replace it), not Qt's.
    const TDateTime now = Now();
    SendTimeEdit->setDateTime(
        NextFullHour(QDateTime(QDate(now.Year, now.Month, now.Day), QTime(now.Hour, now.Minute, now.Second))));
    label->setBuddy(SendTimeEdit);
    auto* note = new QLabel(QStringLiteral("Сообщения встанут в очередь сразу и будут ждать этого времени,\n"
                                           "в том числе если программу закрыть и открыть снова."),
                            this);
    layout->addWidget(label);
    layout->addWidget(SendTimeEdit);
    layout->addWidget(note);
    layout->addStretch();
    layout->addWidget(MakeOkCancel(this));
    setFixedSize(sizeHint().expandedTo(QSize(360, 0)));
}

QDateTime TSendLaterDialog::Chosen() const { return SendTimeEdit->dateTime(); }
