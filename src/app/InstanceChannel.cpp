#include "app/InstanceChannel.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
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
// A start sends its whole command at once: a connection that has not within
// this time is cut, so that it holds no descriptor for ever.
constexpr int CommandWaitMs = 5000;
// Connections served at once; more are cut at once (the descriptors are the
// whole program's: its file saves need them too).
constexpr int MaxOpenConnections = 32;
// How often a server that stopped listening (it does when accepting a
// connection fails, e.g. with no descriptor left) tries to listen again.
constexpr int ListenCheckMs = 500;
// The longest path a local socket may have (sun_path without its NUL).
constexpr qsizetype MaxSocketPath = 107;
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

// A folder only this user may enter: a real folder (not a link to one),
// owned by the user, closed to the group and to others.
bool PrivateFolder(const QString& folder)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// The socket's folder on a desktop without a runtime folder: the user's own
// in the temporary folder.
QString FallbackFolder() { return QDir::tempPath() + QStringLiteral("/velotext-%1").arg(::geteuid()); }

// The folders the socket may live in, in the order they are tried: the
// session's runtime folder, then the per-user folder in the temporary folder.
QStringList SocketFolders(bool create)
{
    QStringList folders;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.startsWith(QLatin1Char('/')))
        folders << QDir::cleanPath(runtime);
    const QString userRun = QStringLiteral("/run/user/%1").arg(::geteuid());
    if (!folders.contains(userRun)) // a command from cron or ssh may lack the variable
        folders << userRun;
    QStringList usable;
    for (const QString& folder : folders)
        if (PrivateFolder(folder))
            usable << folder;
    const QString fallback = FallbackFolder();
    if (create && usable.isEmpty()) // made only when the session has no runtime folder
        ::mkdir(QFile::encodeName(fallback).constData(), 0700);
    if (PrivateFolder(fallback))
        usable << fallback;
    return usable;
}

// The process at the other end of a connected local socket runs as this user.
bool SameUser(qintptr descriptor)
{
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return descriptor >= 0 &&
           ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::geteuid();
}
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

QStringList TInstanceChannel::SocketPaths(bool create) const
{
    QStringList paths;
    for (const QString& folder : SocketFolders(create)) {
        const QString path = folder + QLatin1Char('/') + SocketName(FFolder);
        if (QFile::encodeName(path).size() <= MaxSocketPath)
            paths << path;
    }
    return paths;
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
            // Private like every file the program makes (it names the host and the process).
            ::chmod(QFile::encodeName(FFolder + QLatin1String(LockFileName)).constData(), 0600);
            Listen();
            auto* check = new QTimer(this);
            connect(check, &QTimer::timeout, this, [this] {
                if (!FServer->isListening())
                    Listen();
            });
            check->start(ListenCheckMs);
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

void TInstanceChannel::Listen()
{
    if (!FServer) {
        FServer = new QLocalServer(this);
        FServer->setSocketOptions(QLocalServer::UserAccessOption);
        connect(FServer, &QLocalServer::newConnection, this, &TInstanceChannel::Accept);
    }
    for (const QString& path : SocketPaths(true)) {
        // A socket file left by a program that died would make listen() fail;
        // only the holder of the lock may remove it.
        QLocalServer::removeServer(path);
        if (FServer->listen(path)) {
            FListenProblem.clear();
            return;
        }
    }
    FListenProblem =
        QStringLiteral("Канал для команд не открыт: нет папки, доступной только вам (XDG_RUNTIME_DIR или \"%1\"), "
                       "или в ней нельзя создать сокет.\rКоманды \"velotext send\", \"queue\", \"history\" и "
                       "повторные запуски не дойдут до этой копии программы.")
            .arg(QDir::toNativeSeparators(FallbackFolder()));
}

void TInstanceChannel::Accept()
{
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        if (FOpen >= MaxOpenConnections || !SameUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        Serve(socket);
    }
}

bool TInstanceChannel::Connect(QLocalSocket& socket) const
{
    for (const QString& path : SocketPaths(false)) {
        socket.connectToServer(path);
        if (socket.waitForConnected(1000) && SameUser(socket.socketDescriptor()))
            return true;
        socket.abort();
    }
    return false;
}

TInstanceChannel::THandOver TInstanceChannel::HandOver(const QStringList& arguments)
{
    QLocalSocket socket;
    if (!Connect(socket))
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
    ++FOpen;
    connect(socket, &QObject::destroyed, this, [this] { --FOpen; });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    auto answered = std::make_shared<bool>(false);
    auto cut = [socket] {
        socket->abort();
        socket->deleteLater();
    };
    QTimer::singleShot(CommandWaitMs, socket, [answered, cut] {
        if (!*answered)
            cut();
    });
    auto read = [this, socket, buffer, answered, cut] {
        if (*answered)
            return;
        *buffer += socket->readAll();
        QStringList arguments;
        bool bad = false;
        if (!TakeFrame(*buffer, arguments, bad)) {
            if (bad)
                cut();
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
        *answered = true;
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
