#include "ui/dialogs/GroupEditor.h"

#include "engine/SmsManager.h"
#include "ui/dialogs/UiHelpers.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

bool TGroupEditor::Execute(TGroup* group, bool creating, QWidget* parent)
{
    TGroupEditor dialog(group, creating, parent);
    return RunDialog(dialog) == QDialog::Accepted;
}

TGroupEditor::TGroupEditor(TGroup* group, bool creating, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      FGroup(group)
{
    setObjectName(QStringLiteral("GroupEditor"));
    setWindowTitle(creating ? QStringLiteral("Создание группы") : QStringLiteral("Редактирование группы"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Имя группы:"), this);
    NameEdit = Named(new QLineEdit(this), "NameEdit");
    label->setBuddy(NameEdit);
    SetLimitedText(NameEdit, ToQt(group->Name()), GroupNameLimit);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(label);
    layout->addWidget(NameEdit);
    layout->addStretch();
    layout->addWidget(line);
    layout->addWidget(MakeOkCancel(this));
    setFixedSize(QSize(394, 112).expandedTo(sizeHint()));
}

void TGroupEditor::accept()
{
    Guard([&] {
        std::string name = Trim(FromQt(NameEdit->text()));
        if (name.empty())
            throw TError(Cp1251("Не указано имя группы."));
        // The built-in groups count too: no group may take their names.
        if (!SameText(name, FGroup->Name()) && SmsManager().Groups.IndexOfName(name) >= 0)
            throw TError(Cp1251("Уже существует группа с таким именем."));
        FGroup->SetName(name);
        QDialog::accept();
    });
}
