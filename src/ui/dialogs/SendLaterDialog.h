#pragma once
// "Отправить позже": the moment a message is to be sent, by default the next
// full hour. The messages are queued at once and wait for that moment.
#include <QDateTime>
#include <QDialog>
#include <optional>

class QDateTimeEdit;

class TSendLaterDialog : public QDialog {
    Q_OBJECT
public:
    // The chosen moment, or nothing when the dialog was cancelled.
    static std::optional<QDateTime> Execute(QWidget* parent);

    explicit TSendLaterDialog(QWidget* parent = nullptr);
    QDateTime Chosen() const;
    // The next full hour after `now`.
    static QDateTime NextFullHour(const QDateTime& now);

private:
    QDateTimeEdit* SendTimeEdit = nullptr;
};
