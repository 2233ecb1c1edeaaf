#pragma once
// One program per data folder. The first program started on a folder holds a
// lock file in it ("Velotext.lock"; the lock of a program that died is taken
// over) and listens on a local socket named after the folder's canonical
// path. A later start on the same folder hands its command line over that
// socket and ends with the exit code the running program answers.
//
// The socket lives in a folder only the user can write: the session's runtime
// folder ($XDG_RUNTIME_DIR, or /run/user/<uid>), else "velotext-<uid>" in the
// temporary folder, made 0700 and used only while it is the user's own and
// closed to others. Both ends check through the kernel that the other end
// runs as the same user, so no other user's process ever gets a command line.
// The server opens again when it stopped listening (the descriptors ran out),
// and a connection that has not sent a whole command in a few seconds is cut.
//
// A message, both ways, is one frame: its length (4 bytes, big-endian), then
// UTF-8 strings, each ended by a NUL byte. A start sends the moment it stops
// waiting for the answer (DeadlineTag and the steady clock's milliseconds,
// the same clock for every process of the machine), then its arguments (the
// program's name left out); the answer is the exit code (in decimal) and the
// text the start is to print, possibly empty. A command read after its
// deadline is not run, so a start that gave up (exit 1) never has it run
// later. A program that has begun to close answers ClosingAnswer and runs
// nothing: the start waits for it to end and then starts on its own.
#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

class TInstanceChannel : public QObject {
    Q_OBJECT
public:
    enum class TStart {
        First,      // this program holds the folder and listens
        HandedOver, // the running program took the arguments: Answer() holds its reply
        Busy,       // the lock is held and no program answered
    };
    struct TAnswer {
        int ExitCode = 0;
        QString Text;
    };
    // The running program's reply to each command line handed to it.
    using THandler = std::function<TAnswer(const QStringList& arguments)>;

    // `dataDir` must exist.
    explicit TInstanceChannel(const QString& dataDir, QObject* parent = nullptr);
    ~TInstanceChannel() override;

    TStart Start(const QStringList& arguments);
    const TAnswer& Answer() const { return FAnswer; }
    void SetHandler(THandler handler) { FHandler = std::move(handler); }
    // The program has begun to close: command lines read from now on are
    // answered ClosingAnswer and not run.
    void SetClosing() { FClosing = true; }
    // The folder as the lock names it (canonical), for messages.
    const QString& Folder() const { return FFolder; }
    // Why the lock could not be taken when Start said Busy (Russian).
    QString BusyText() const;
    // When Start said First but no socket could be opened: why, for the user
    // (Russian); empty while the channel listens.
    const QString& ListenProblem() const { return FListenProblem; }
    // Where the socket for this folder may be, in the order tried (empty when
    // no private folder is there; `create`: the fallback folder is made when missing).
    QStringList SocketPaths(bool create) const;

    // The local socket's name for a canonical folder path: a hash, since the
    // socket's path has a short length limit.
    static QString SocketName(const QString& canonicalDir);
    static QByteArray Frame(const QStringList& strings);
    // The first string of a start's frame: this tag, then the deadline.
    static constexpr const char* DeadlineTag = "\x01" "deadline=";
    static constexpr const char* ClosingAnswer = "closing";
    // Takes one whole frame off the front of `buffer`; false while it is incomplete
    // (or malformed: `bad` is set then).
    static bool TakeFrame(QByteArray& buffer, QStringList& strings, bool& bad);

private:
    // Closing: the program answered that it is closing, or went away without
    // an answer (nothing was run): wait for the lock.
    enum class THandOver { NoListener, Answered, NoAnswer, Closing };
    THandOver HandOver(const QStringList& arguments);
    bool Connect(QLocalSocket& socket) const;
    void Listen();
    void Accept();
    void Serve(QLocalSocket* socket);

    QString FFolder;
    std::unique_ptr<QLockFile> FLock;
    QLockFile::LockError FLockError = QLockFile::NoError;
    QLocalServer* FServer = nullptr;
    QString FListenProblem;
    int FOpen = 0; // connections being served
    THandler FHandler;
    TAnswer FAnswer;
    bool FClosing = false;
};
