// The operator check after a real exchange: a web gate against Kannel (reply
// pattern, status, headers, body) and an e-mail gate against aiosmtpd behind
// STARTTLS with a login (the SMTP dialogue, TLS, AUTH lines masked).
#include "Screenshots.h"

#include "engine/SmsManager.h"
#include "engine/SmtpClient.h"
#include "engine/StdSmsSender.h"
#include "storage/SmsOptions.h"
#include "support/KannelPeer.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"
#include "ui/dialogs/GateCheckDlg.h"

#include <QLineEdit>
#include <QSignalSpy>

namespace {

// Runs the check through the dialog, as the user's "Отправить" does.
std::unique_ptr<QWidget> Checked(TStdSmsSender* sender, const QString& phone, QSize size)
{
    SmsManager().AddSmsSender(sender);
    auto dialog = std::make_unique<TGateCheckDlg>(*sender, nullptr);
    dialog->findChild<QLineEdit*>(QStringLiteral("PhoneEdit"))->setText(phone);
    dialog->resize(size); // the whole report, no scrolling
    dialog->show();
    QSignalSpy finished(dialog.get(), &TGateCheckDlg::CheckFinished);
    dialog->SendButtonClick();
    finished.wait(60000);
    return dialog;
}

} // namespace

VELOTEXT_SCREENSHOT(GateCheckWeb)
{
    std::string error;
    static std::unique_ptr<TPeerProcess> kannel = StartKannel(error); // lives until the pictures are taken
    auto* sender = new TStdSmsSender;
    sender->SetName(U("Северный шлюз"));
    sender->GateType = TStdSmsSender::WebGateType;
    sender->WebGate = kannel ? KannelWebGate(*kannel, "windows-1251") : "http://127.0.0.1:9/sendsms?to={phone}";
    sender->ReplyOkPattern = "accepted";
    sender->ReplyPermFailPattern = "invalid";
    return Checked(sender, QStringLiteral("+79161234567"), QSize(900, 580));
}

VELOTEXT_SCREENSHOT(GateCheckEmail)
{
    static TTempDir dir;
    static TPeerProcess peer({"/usr/bin/python3", PeerScript("smtp_peer.py"), "--user=velo", "--password=Secret-77",
                              "--dir=" + dir.path(), "--require-auth", "--tls=starttls"});
    SetSmtpCaFile(peer.value("ca"));
    TSmsOptions& options = SmsOptions();
    options.SmtpHost = "localhost:" + std::to_string(peer.port());
    options.SmtpUsername = "velo";
    options.SmtpPassword = "Secret-77";
    options.SmtpFromAddress = "Velotext <velotext@test.ru>";
    auto* sender = new TStdSmsSender;
    sender->SetName(U("Почтовый шлюз"));
    sender->EmailGate = "{phone}@sms.test";
    sender->Charset = "KOI8-R";
    auto dialog = Checked(sender, QStringLiteral("89035550101"), QSize(900, 1000));
    SetSmtpCaFile("");
    return dialog;
}
