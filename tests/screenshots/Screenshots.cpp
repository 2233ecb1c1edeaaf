#include "Screenshots.h"

#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "support/TestSupport.h"
#include "ui/dialogs/UiHelpers.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTest>
#include <QTranslator>

#include <cstdio>
#include <map>
#include <string>

namespace {
std::map<std::string, TShotFactory>& Shots()
{
    static std::map<std::string, TShotFactory> shots; // by name: a stable order
    return shots;
}

TContact* AddContact(const std::string& name, const std::string& phone, TSmsSender* sender)
{
    auto* contact = new TContact;
    contact->SetName(name);
    contact->PhoneNumber = phone;
    contact->SmsSender = sender;
    SmsManager().AddContact(contact);
    return contact;
}

// A small address book that shows every kind of row.
void FillSampleData()
{
    TSmsManager& m = SmsManager();
    auto* web = new TStdSmsSender;
    web->SetName(U("Северная связь"));
    web->GateType = TStdSmsSender::WebGateType;
    web->WebGate = "http://sms.example.net/send?to={phone}&text={message}";
    m.AddSmsSender(web);
    auto* mail = new TStdSmsSender;
    mail->SetName(U("Волга-Телеком"));
    mail->EmailGate = "{phone}@sms.example.ru";
    m.AddSmsSender(mail);

    TContact* ivan = AddContact(U("Иванов Иван"), "+79161234567", web);
    TContact* olga = AddContact(U("Ольга"), "89035550101", mail);
    AddContact(U("Пётр Сергеевич"), "+79219876543", web);
    auto* friends = new TGroup(false);
    friends->SetName(U("Друзья"));
    m.AddGroup(friends);
    m.AddContactToGroup(ivan, friends);
    m.AddContactToGroup(olga, friends);

    m.Templates.Add(U("Перезвони мне, пожалуйста."));
    m.Templates.Add(U("Буду через 15 минут."));

    m.AddRecipientContact(ivan);
    m.QueueSms(U("Встречаемся завтра в 10:00 у входа в парк."));
    m.ClearRecipients();
    m.AddRecipientContact(olga);
    m.QueueSms(U("С днём рождения! Желаю счастья и здоровья."));
    m.ClearRecipients();
    m.Queue.Items(1)->TryCount = 1; // a message after one failed attempt
}

bool Render(const std::string& name, TShotFactory factory, const QString& folder)
{
    std::unique_ptr<QWidget> window = factory();
    if (!window) {
        std::fprintf(stderr, "%s: no window\n", name.c_str());
        return false;
    }
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        std::fprintf(stderr, "%s: the window was not exposed; grabbing anyway\n", name.c_str());
    QApplication::processEvents();
    // A name's "_" stands for the "-" an identifier cannot hold: MainForm_cost gives MainForm-cost.png.
    const QString path = folder + QLatin1Char('/') + QString::fromStdString(name).replace(QLatin1Char('_'), QLatin1Char('-')) +
                         QStringLiteral(".png");
    const bool saved = window->grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED to write", qPrintable(path));
    window->hide();
    return saved;
}
} // namespace

TShotRegistrar::TShotRegistrar(const char* name, TShotFactory factory) { Shots()[name] = factory; }

int main(int argc, char** argv)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velotext"));
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    QStringList args = QApplication::arguments().mid(1);
    QString folder = QStringLiteral("screenshots");
    if (args.size() >= 2 && args[0] == QStringLiteral("--out")) {
        folder = args[1];
        args = args.mid(2);
    }
    QDir().mkpath(folder);

    TScopedDataDir data;
    SetProgramSettingsFolder(data.dir().path() + "/config");
    TUiScript noBoxes; // nothing modal may stop the run
    RegisterIoClasses();
    ResetTranslitTable();

    int failures = 0;
    for (const auto& [name, factory] : Shots()) {
        if (!args.isEmpty() && !args.contains(QString::fromStdString(name)))
            continue;
        ResetSmsManagerForTests();
        FillSampleData();
        if (!Render(name, factory, folder))
            ++failures;
    }
    ResetSmsManagerForTests();
    SetProgramSettingsFolder("");
    return failures == 0 ? 0 : 1;
}
