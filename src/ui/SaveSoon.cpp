#include "ui/SaveSoon.h"

#include <QTimer>

namespace {
TSaveSoon* TheScheduler = nullptr;
} // namespace

TSaveSoon::TSaveSoon(TSaver save, QObject* parent) : QObject(parent), FSave(std::move(save)), FTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("SaveSoon"));
    FTimer->setObjectName(QStringLiteral("SaveSoonTimer"));
    FTimer->setSingleShot(true);
    FTimer->setInterval(DelayMs);
    connect(FTimer, &QTimer::timeout, this, &TSaveSoon::SaveNow);
    TheScheduler = this;
}

TSaveSoon::~TSaveSoon()
{
    if (TheScheduler == this)
        TheScheduler = nullptr;
}

TSaveSoon* TSaveSoon::Current() { return TheScheduler; }

void TSaveSoon::MarkChanged(unsigned files)
{
    FPending |= files;
    // Not restarted by later changes: a file is never more than DelayMs behind.
    if (!FTimer->isActive())
        FTimer->start();
}

void TSaveSoon::SaveNow()
{
    FTimer->stop();
    const unsigned files = FPending;
    if (files == 0)
        return;
    FPending = 0;
    FPending |= FSave(files);
}

void MarkDataChanged(unsigned files)
{
    if (TSaveSoon* scheduler = TSaveSoon::Current())
        scheduler->MarkChanged(files);
}
