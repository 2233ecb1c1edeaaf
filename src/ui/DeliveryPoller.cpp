#include "ui/DeliveryPoller.h"

#include "engine/DeliveryTracker.h"
#include "engine/SmsManager.h"
#include "model/DeliveryCancel.h"
#include "model/Error.h"
#include "model/Text.h"
#include "storage/DeliveryStatusFile.h"
#include "ui/UiText.h"

#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <cstdio>

TDeliveryPoller::TDeliveryPoller(QObject* parent, int intervalMs)
    : QObject(parent), FTimer(new QTimer(this)), FCancel(std::make_shared<TCancelToken>())
{
    FTimer->setObjectName(QStringLiteral("DeliveryPollTimer"));
    connect(FTimer, &QTimer::timeout, this, &TDeliveryPoller::Tick);
    connect(&FWatcher, &QFutureWatcher<void>::finished, this, [this] {
        TellNotDelivered();
        emit RoundFinished();
    });
    FTimer->start(intervalMs);
}

TDeliveryPoller::~TDeliveryPoller()
{
    FCancel->Cancel();
    FWatcher.waitForFinished();
}

void TDeliveryPoller::TellNotDelivered()
{
    QStringList failed;
    for (const TDeliveryEntry& e : DeliveryTracker().TakeNewlyNotDelivered())
        failed << ToQt(e.Name + " (" + e.Phone + "): " + ControlCharsToSpaces(DeliveryStatusLine(e)));
    if (!failed.isEmpty())
        emit NotDelivered(failed);
}

void TDeliveryPoller::Tick()
{
    TellNotDelivered(); // reports come between rounds
    if (FWatcher.isRunning())
        return; // never two rounds at once
    try {
        if (!DeliveryTracker().IsOpen()) {
            if (FOpenTried)
                return;
            FOpenTried = true;
            DeliveryTracker().Open(DeliveryStatusFileName(SmsManager().History.FileName()));
        }
        std::shared_ptr<TDeliveryTracker::TRound> round = DeliveryTracker().BeginRound();
        if (!round)
            return;
        std::shared_ptr<TCancelToken> cancel = FCancel;
        FWatcher.setFuture(QtConcurrent::run([round, cancel] {
            TCancelScope scope(*cancel);
            round->Run();
        }));
    } catch (const std::exception& e) {
        // A state file that does not read stays as it is; the program goes on without it.
        std::fprintf(stderr, "%s\n", Cp1251ToUtf8(e.what()).c_str());
    }
}
