#include "ui/dialogs/AboutDialog.h"

#include "ui/dialogs/UiHelpers.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

void TAboutDialog::Execute(QWidget* parent)
{
    TAboutDialog dialog(parent);
    RunDialog(dialog);
}

QString TAboutDialog::HomePage() { return QStringLiteral("https://velotext.example.org/"); }

TAboutDialog::TAboutDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowTitle(QStringLiteral("О программе Velotext"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* icon = Named(new QLabel(this), "Image1");
    icon->setPixmap(AppIcon(TIcon::Application).pixmap(32, 32));
    icon->setFixedSize(32, 32);

    auto* title = Named(new QLabel(QStringLiteral("Программа для отправки SMS сообщений на сотовые телефоны"), this),
                        "Label1");
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    title->setFont(bold);
    title->setWordWrap(true);

    auto* version = Named(new QLabel(QStringLiteral("Velotext, Версия 1.03 от 22.08.2007 г."), this), "Label2");
    auto* note = Named(new QLabel(QStringLiteral("Распространяется бесплатно."), this), "Label3");
    Label4 = Named(new QLabel(this), "Label4");
    Label4->setText(QStringLiteral("<a href=\"%1\" style=\"color:#0000ff\">%1</a>").arg(HomePage()));
    Label4->setTextFormat(Qt::RichText);
    Label4->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    Label4->setCursor(Qt::PointingHandCursor);
    connect(Label4, &QLabel::linkActivated, this, [this] { Guard([&] { Label4Click(); }); });

    auto* bevel = Named(new QFrame(this), "Bevel1");
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);

    auto* ok = Named(new QPushButton(QStringLiteral("OK"), this), "OKButton");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(title);
    texts->addSpacing(6);
    texts->addWidget(version);
    texts->addWidget(note);
    texts->addWidget(Label4);
    texts->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(8);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(bevel);
    layout->addLayout(buttons);
    // 345 x 184 as designed, taller when the fonts need it.
    setFixedWidth(345);
    setFixedHeight(std::max(184, layout->heightForWidth(345)));

    // Centred on the desktop, whatever the parent.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TAboutDialog::Label4Click() { QDesktopServices::openUrl(QUrl(HomePage())); }
