#include "ui/main/MainForm.h"

#include <QLabel>

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent)
{
    setObjectName("MainForm");
    setWindowTitle("Velotext");
    auto* label = new QLabel(QStringLiteral("Отправка SMS через шлюзы операторов"), this);
    label->setObjectName("WelcomeLabel");
    label->setAlignment(Qt::AlignCenter);
    setCentralWidget(label);
    resize(640, 480);
}
