#include "app/InstanceChannel.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QtEndian>

#include <chrono>
#include <cstring>

namespace {
constexpr quint32 MaxFrame = 1u << 20;
// The first program may be between taking the lock and listening: a later
// start tries for about two seconds before it gives up.
constexpr int HandOverTries = 20;
constexpr int HandOverPauseMs = 100;
// A running program answers from its event loop; a long load or save may hold that up.
constexpr int AnswerWaitMs = 15000;
// The answer of a command run just before its deadline is still read this much longer.
constexpr int AnswerGraceMs = 2000;
// A program that is closing (saving its files) is waited for this long.
constexpr int ClosingWaitMs = 60000;

// The steady clock in milliseconds: CLOCK_MONOTONIC, one clock for every process.
qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
const char* const LockFileName = "/Velotext.lock";
} // namespace

TInstanceChannel::TInstanceChannel(const QString& dataDir, QObject* parent) : QObject(parent)
{
    FFolder = QDir(dataDir).canonicalPath();
    if (FFolder.isEmpty())
        FFolder = QDir(dataDir).absolutePath();
}

TInstanceChannel::~TInstanceChannel() = default; // the server closes, then the lock file goes

QString TInstanceChannel::SocketName(const QString& canonicalDir)
{
    const QByteArray hash = QCryptographicHash::hash(canonicalDir.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("velotext-") + QString::fromLatin1(hash.left(32));
}

TInstanceChannel::TStart TInstanceChannel::Start(const QStringList& arguments)
{
    FLock = std::make_unique<QLockFile>(FFolder + QLatin1String(LockFileName));
    // Held as long as the program runs, however long: stale only when its process is gone.
    FLock->setStaleLockTime(0);
    int noListener = 0;
    const qint64 started = SteadyMs();
    for (;;) {
        if (FLock->tryLock(0)) {
            const QString name = SocketName(FFolder);
            // A socket file left by a program that died would make listen() fail;
            // only the holder of the lock may remove it.
            QLocalServer::removeServer(name);
            FServer = new QLocalServer(this);
            FServer->setSocketOptions(QLocalServer::UserAccessOption);
            connect(FServer, &QLocalServer::newConnection, this, [this] {
                while (QLocalSocket* socket = FServer->nextPendingConnection())
                    Serve(socket);
            });
            if (!FServer->listen(name))
                qWarning("Velotext: no local socket %s: %s", qPrintable(name), qPrintable(FServer->errorString()));
            return TStart::First;
        }
        FLockError = FLock->error();
        const THandOver handed = HandOver(arguments);
        if (handed == THandOver::Answered)
            return TStart::HandedOver;
        if (handed == THandOver::NoAnswer) // not answered by its deadline: it will not run
            break;
        if (handed == THandOver::NoListener && ++noListener >= HandOverTries)
            break;
        if (handed == THandOver::Closing && SteadyMs() - started > ClosingWaitMs)
            break;
        QThread::msleep(HandOverPauseMs);
    }
    return TStart::Busy;
}

TInstanceChannel::THandOver TInstanceChannel::HandOver(const QStringList& arguments)
{
    QLocalSocket socket;
    socket.connectToServer(SocketName(FFolder));
    if (!socket.waitForConnected(1000))
        return THandOver::NoListener;
    // The program runs the command only if it reads it by `deadline`; its
    // answer is awaited a little longer.
    const qint64 deadline = SteadyMs() + AnswerWaitMs;
    const QDeadlineTimer wait(AnswerWaitMs + AnswerGraceMs);
    socket.write(Frame(QStringList {QLatin1String(DeadlineTag) + QString::number(deadline)} + arguments));
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(static_cast<int>(wait.remainingTime())))
            return socket.state() == QLocalSocket::ConnectedState ? THandOver::NoAnswer : THandOver::Closing;
    QByteArray buffer;
    QStringList reply;
    bool bad = false;
    for (;;) {
        buffer += socket.readAll();
        if (TakeFrame(buffer, reply, bad))
            break;
        if (bad || wait.hasExpired())
            return THandOver::NoAnswer;
        // Gone without a word: it closed before it read the command, which never ran.
        if (socket.state() != QLocalSocket::ConnectedState)
            return THandOver::Closing;
        socket.waitForReadyRead(static_cast<int>(wait.remainingTime()));
    }
    if (reply.value(0) == QLatin1String(ClosingAnswer))
        return THandOver::Closing;
    bool number = false;
    FAnswer.ExitCode = reply.value(0).toInt(&number);
    if (!number)
        return THandOver::NoAnswer;
    FAnswer.Text = reply.value(1);
    return THandOver::Answered;
}

void TInstanceChannel::Serve(QLocalSocket* socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    auto read = [this, socket, buffer] {
        *buffer += socket->readAll();
        QStringList arguments;
        bool bad = false;
        if (!TakeFrame(*buffer, arguments, bad)) {
            if (bad)
                socket->abort();
            return;
        }
        // The sender's deadline: a command read later is not run (the sender
        // has reported it as not done); a closing program runs nothing.
        qint64 deadline = -1;
        if (!arguments.isEmpty() && arguments.front().startsWith(QLatin1String(DeadlineTag))) {
            bool number = false;
            deadline = arguments.front().mid(static_cast<qsizetype>(std::strlen(DeadlineTag))).toLongLong(&number);
            if (!number)
                deadline = -1;
            arguments.removeFirst();
        }
        QStringList reply;
        if (FClosing) {
            reply = QStringList {QLatin1String(ClosingAnswer)};
        } else if (deadline >= 0 && SteadyMs() > deadline) {
            reply = QStringList {QStringLiteral("late")};
        } else {
            TAnswer answer;
            if (FHandler)
                answer = FHandler(arguments);
            reply = QStringList {QString::number(answer.ExitCode), answer.Text};
        }
        socket->write(Frame(reply));
        socket->disconnectFromServer(); // once the answer is written
    };
    connect(socket, &QLocalSocket::readyRead, this, read);
    if (socket->bytesAvailable() > 0)
        read();
}

QString TInstanceChannel::BusyText() const
{
    if (FLockError == QLockFile::LockFailedError)
        return QStringLiteral("Папка данных \"%1\" уже используется другой запущенной копией программы, "
                              "но та не ответила вовремя: команда не выполнена.\r\rПовторите позже; если та копия "
                              "зависла, закройте её или запустите программу с другой папкой данных (--data-dir).")
            .arg(QDir::toNativeSeparators(FFolder));
    return QStringLiteral("Не удалось занять папку данных \"%1\": в ней нельзя создать файл блокировки "
                          "\"Velotext.lock\".")
        .arg(QDir::toNativeSeparators(FFolder));
}

QByteArray TInstanceChannel::Frame(const QStringList& strings)
{
    QByteArray body;
    for (const QString& string : strings) {
        body += string.toUtf8();
        body += '\0';
    }
    QByteArray frame(4, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(body.size()), frame.data());
    return frame + body;
}

bool TInstanceChannel::TakeFrame(QByteArray& buffer, QStringList& strings, bool& bad)
{
    bad = false;
    if (buffer.size() < 4)
        return false;
    const quint32 length = qFromBigEndian<quint32>(buffer.constData());
    if (length > MaxFrame) {
        bad = true;
        return false;
    }
    if (buffer.size() < 4 + static_cast<qsizetype>(length))
        return false;
    const QByteArray body = buffer.mid(4, length);
    buffer.remove(0, 4 + static_cast<qsizetype>(length));
    if (!body.isEmpty() && !body.endsWith('\0')) {
        bad = true;
        return false;
    }
    strings.clear();
    for (qsizetype start = 0; start < body.size();) {
        const qsizetype end = body.indexOf('\0', start);
        strings << QString::fromUtf8(body.constData() + start, end - start);
        start = end + 1;
    }
    return true;
}
