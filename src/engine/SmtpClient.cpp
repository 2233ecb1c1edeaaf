#include "engine/SmtpClient.h"

#include "engine/GateTrace.h"
#include "engine/MailAddress.h"
#include "model/DeliveryCancel.h"
#include "model/Text.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <mutex>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

using Clock = std::chrono::steady_clock;

namespace {

const size_t kLongestReplyLine = 4096; // RFC 5321 allows 512; be generous, but bounded
const int kMostReplyLines = 1000;

struct TReply {
    int Code = -1; // -1: no complete reply (time limit, closed connection, junk)
    std::vector<std::string> Lines; // text after the code and its separator
};

int MillisLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

std::atomic<TSmtpHostResolver> gResolver {&getaddrinfo};

// One name lookup, shared by the waiting delivery and the thread that asks
// the resolver: whichever lets go last frees the answer and the pipe.
struct TLookup {
    std::string Host, Port;
    addrinfo Hints {};
    addrinfo* List = nullptr;
    int Rc = EAI_FAIL;
    std::atomic<bool> Done {false}; // List and Rc are the answer
    int Pipe[2] = {-1, -1};         // a byte arrives when the answer is in
    ~TLookup()
    {
        if (List)
            freeaddrinfo(List);
        for (int fd : Pipe)
            if (fd >= 0)
                close(fd);
    }
};

// getaddrinfo on a thread of its own, so that a resolver that does not answer
// (a DNS server gone quiet waits for seconds per try) never holds a delivery
// that is being cancelled: the wait ends with the cancel and the thread is
// left to finish alone. Returns the resolver's code; EAI_AGAIN when cancelled.
int LookUpUnlessCancelled(const std::string& host, const std::string& port, const addrinfo& hints, addrinfo** list)
{
    *list = nullptr;
    auto lookup = std::make_shared<TLookup>();
    lookup->Host = host;
    lookup->Port = port;
    lookup->Hints = hints;
    if (pipe2(lookup->Pipe, O_CLOEXEC) != 0)
        return EAI_SYSTEM;
    try {
        std::thread([lookup, resolve = gResolver.load()] {
            lookup->Rc = resolve(lookup->Host.c_str(), lookup->Port.c_str(), &lookup->Hints, &lookup->List);
            lookup->Done.store(true, std::memory_order_release);
            const char done = 1;
            while (write(lookup->Pipe[1], &done, 1) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        return EAI_SYSTEM;
    }
    for (;;) {
        pollfd p[2] {{lookup->Pipe[0], POLLIN, 0}, {DeliveriesCancelledFd(), POLLIN, 0}};
        const int ready = poll(p, p[1].fd >= 0 ? 2 : 1, p[1].fd >= 0 ? -1 : 100);
        if (ready < 0 && errno != EINTR)
            return EAI_SYSTEM;
        if (lookup->Done.load(std::memory_order_acquire)) {
            *list = std::exchange(lookup->List, nullptr);
            return lookup->Rc;
        }
        if (DeliveriesCancelled())
            return EAI_AGAIN;
    }
}

// One TCP connection with line-based reading and writing under time limits,
// plain or, after StartTls, through TLS. OpenSSL works on memory buffers and
// this class moves the bytes, so one set of socket calls (with their time
// limits and without SIGPIPE) serves both. Once a read or write fails, the
// connection is broken and stays so. Every wait also ends when deliveries are
// cancelled, and from then on nothing more is sent.
class TSmtpConnection {
public:
    ~TSmtpConnection() { Close(); }

    bool Open(const TSmtpRelay& relay, std::chrono::milliseconds limit, bool& resolved)
    {
        resolved = false;
        addrinfo hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int rc = LookUpUnlessCancelled(relay.Host, relay.Port, hints, &list);
        if (rc != 0 || !list) {
            if (!CheckCancelled())
                Trouble = Cp1251("Не удалось найти SMTP сервер (") + relay.Host + ": " +
                          (rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc)) + ").";
            return false;
        }
        resolved = true;
        auto deadline = Clock::now() + limit;
        int lastError = 0;
        for (addrinfo* a = list; a && Fd < 0 && !CheckCancelled(); a = a->ai_next) {
            int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (fd < 0) {
                lastError = errno;
                continue;
            }
            bool ok = connect(fd, a->ai_addr, a->ai_addrlen) == 0;
            if (!ok && errno != EINPROGRESS)
                lastError = errno;
            if (!ok && errno == EINPROGRESS) {
                int err = 0;
                socklen_t len = sizeof err;
                const int ready = Await(fd, POLLOUT, deadline);
                ok = ready == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
                lastError = ready == 0 ? ETIMEDOUT : err;
            }
            if (ok)
                Fd = fd;
            else
                close(fd);
        }
        if (Fd < 0 && !Cancelled) {
            const std::string where = " (" + relay.Host + ":" + relay.Port + ": " + std::strerror(lastError) + ").";
            if (lastError == ECONNREFUSED)
                Trouble = Cp1251("SMTP сервер отказал в соединении") + where;
            else if (lastError == ETIMEDOUT)
                Trouble = Cp1251("SMTP сервер не ответил вовремя, соединение не установлено") + where;
            else
                Trouble = Cp1251("Не удалось соединиться с SMTP сервером") + where;
        }
        freeaddrinfo(list);
        return Fd >= 0;
    }

    void Close()
    {
        if (Ssl && !IsBroken() && !CheckCancelled() && SSL_shutdown(Ssl.get()) >= 0)
            SendPendingTls(true); // close_notify, without waiting for the peer's
        if (Ctx)
            ERR_clear_error(); // what a failed TLS call left is no other caller's concern
        Ssl.reset();
        Ctx.reset();
        if (Fd >= 0)
            close(Fd);
        Fd = -1;
        Broken = true;
    }

    bool IsBroken() const { return Broken || Fd < 0; }
    // Why the connection could not be opened (a whole sentence), or why the
    // last reply did not come (Russian, CP1251, without a full stop; the
    // technical part, if any, in TroubleDetail); empty when nothing went wrong.
    const std::string& TroubleText() const { return Trouble; }
    const std::string& TroubleDetail() const { return Detail; }

    // Whether the relay has sent bytes that no command asked for. Without
    // PIPELINING every reply answers the command before it, so anything
    // waiting before a command is sent puts the exchange out of step; the
    // first line of it goes into TroubleText. A closed connection is left to
    // the next read.
    bool HasUnaskedInput()
    {
        if (IsBroken())
            return false;
        if (Ssl) {
            // Records that arrived go to OpenSSL, which keeps what is not data
            // (TLS 1.3 session tickets); only data counts.
            char chunk[4096];
            ssize_t n;
            while ((n = recv(Fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
                BIO_write(SSL_get_rbio(Ssl.get()), chunk, static_cast<int>(n));
            char first[512];
            const int peeked = SSL_peek(Ssl.get(), first, sizeof first);
            SendPendingTls(true);
            if (peeked > 0)
                Buffer.append(first, static_cast<size_t>(peeked));
            else
                ERR_clear_error();
        } else if (Buffer.empty()) {
            char first[512];
            const ssize_t n = recv(Fd, first, sizeof first, MSG_PEEK | MSG_DONTWAIT);
            if (n > 0)
                Buffer.assign(first, static_cast<size_t>(n));
        }
        if (Buffer.empty())
            return false;
        Trouble = Cp1251("Обмен с SMTP сервером нарушен: сервер прислал лишние данные, о которых его не спрашивали");
        Detail = Trim(ControlCharsToSpaces(Buffer.substr(0, std::min(Buffer.find_first_of("\r\n"), size_t {200}))));
        Broken = true;
        return true;
    }

    // The TLS version and the relay's certificate subject, for a gate check.
    std::string TlsDescription() const
    {
        std::string text = Cp1251("TLS: ") + (Ssl ? SSL_get_version(Ssl.get()) : "-");
        X509* certificate = Ssl ? SSL_get0_peer_certificate(Ssl.get()) : nullptr;
        BIO* out = certificate ? BIO_new(BIO_s_mem()) : nullptr;
        if (out && X509_NAME_print_ex(out, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253) >= 0) {
            char* data = nullptr;
            long size = BIO_get_mem_data(out, &data);
            text += Cp1251(", сертификат: ") + std::string(data, static_cast<size_t>(size > 0 ? size : 0));
        }
        BIO_free(out);
        return text;
    }

    // Whether the delivery's cancel ended the exchange.
    bool WasCancelled() const { return Cancelled; }

    // Starts TLS on the open connection and checks the relay's certificate
    // against the given authorities (empty: the system's store) and `host`
    // (a DNS name or an IP address). On failure the connection is broken and
    // `reason` says why.
    bool StartTls(const std::string& host, const std::string& caFile, std::chrono::milliseconds limit,
                  std::string& reason)
    {
        // Anything the relay sent ahead of the handshake did not come through TLS: dropped.
        Buffer.clear();
        ERR_clear_error();
        Ctx.reset(SSL_CTX_new(TLS_client_method()));
        bool ready = Ctx && SSL_CTX_set_min_proto_version(Ctx.get(), TLS1_2_VERSION) == 1;
        if (ready) {
            SSL_CTX_set_verify(Ctx.get(), SSL_VERIFY_PEER, nullptr);
            ready = (caFile.empty() ? SSL_CTX_set_default_verify_paths(Ctx.get())
                                    : SSL_CTX_load_verify_locations(Ctx.get(), caFile.c_str(), nullptr)) == 1;
            if (!ready) {
                reason = Cp1251("Не удалось загрузить сертификаты удостоверяющих центров") +
                         (caFile.empty() ? std::string(".") : " (" + caFile + ").");
                Broken = true;
                return false;
            }
            Ssl.reset(SSL_new(Ctx.get()));
        }
        BIO* in = Ssl ? BIO_new(BIO_s_mem()) : nullptr;
        BIO* out = in ? BIO_new(BIO_s_mem()) : nullptr;
        if (out)
            SSL_set_bio(Ssl.get(), in, out);
        else
            BIO_free(in);
        unsigned char ip[16];
        bool isIp = inet_pton(AF_INET, host.c_str(), ip) == 1 || inet_pton(AF_INET6, host.c_str(), ip) == 1;
        ready = out && SSL_set1_host(Ssl.get(), host.c_str()) == 1 &&
                (isIp || SSL_set_tlsext_host_name(Ssl.get(), host.c_str()) == 1); // no server name for an address
        TimedOut = false;
        if (ready && TlsCall([&] { return SSL_connect(Ssl.get()); }, Clock::now() + limit) > 0)
            return true;
        reason = HandshakeFailure(ready);
        Broken = true;
        return false;
    }

    // One attempt to hand over a short command even on a broken connection
    // (a farewell after a reply that never came); the outcome does not matter.
    // A TLS connection that broke gets nothing.
    void SendQuietly(std::string_view bytes)
    {
        if (Fd >= 0 && !Ssl && !CheckCancelled())
            (void)send(Fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }

    // Writes the bytes whole, waiting at most `limit` for the peer to take them.
    bool Write(std::string_view bytes, std::chrono::milliseconds limit)
    {
        if (IsBroken())
            return false;
        Trouble.clear();
        Detail.clear();
        TimedOut = Closed = false;
        auto deadline = Clock::now() + limit;
        bool ok = bytes.empty() ||
                  (Ssl ? TlsCall([&] { return SSL_write(Ssl.get(), bytes.data(), static_cast<int>(bytes.size())); },
                                 deadline) > 0
                       : SendRaw(bytes, deadline));
        if (!ok) {
            Broken = true;
            if (!Cancelled)
                Trouble = Cp1251(TimedOut ? "SMTP сервер не принял данные вовремя" : "SMTP сервер закрыл соединение");
        }
        return ok;
    }

    // Reads one reply, single- or multi-line, all of it within `limit`.
    TReply ReadReply(std::chrono::milliseconds limit)
    {
        TReply reply;
        if (IsBroken())
            return reply;
        Trouble.clear();
        Detail.clear();
        TimedOut = Closed = false;
        auto deadline = Clock::now() + limit;
        std::string line;
        for (int count = 0; count < kMostReplyLines; ++count) {
            if (!ReadLine(line, deadline)) {
                Broken = true;
                if (Trouble.empty())
                    Trouble = Cp1251(TimedOut   ? "SMTP сервер не ответил вовремя"
                                     : Closed ? "SMTP сервер закрыл соединение, не ответив"
                                              : "Обмен с SMTP сервером прерван");
                return reply;
            }
            int code = -1;
            if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])))
                code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            reply.Lines.push_back(line.size() > 4 ? line.substr(4) : std::string());
            if (count == 0)
                reply.Code = code;
            if (line.size() < 4 || line[3] != '-') {
                if (code < 0) {
                    Broken = true; // not a reply: the exchange is out of step
                    Trouble = Cp1251("SMTP сервер прислал ответ не по протоколу");
                    Detail = Trim(ControlCharsToSpaces(line.substr(0, 200)));
                }
                return reply;
            }
        }
        Broken = true;
        Trouble = Cp1251("SMTP сервер прислал слишком длинный ответ");
        reply.Code = -1;
        return reply;
    }

private:
    struct TSslDeleter {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
        void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
    };

    bool ReadLine(std::string& line, Clock::time_point deadline)
    {
        for (;;) {
            size_t lf = Buffer.find('\n');
            if (lf != std::string::npos) {
                line.assign(Buffer, 0, lf);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                Buffer.erase(0, lf + 1);
                return true;
            }
            if (Buffer.size() > kLongestReplyLine)
                return false;
            char chunk[2048];
            long n = Ssl ? TlsCall([&] { return SSL_read(Ssl.get(), chunk, sizeof chunk); }, deadline)
                         : ReceiveRaw(chunk, sizeof chunk, deadline);
            if (n <= 0)
                return false;
            Buffer.append(chunk, static_cast<size_t>(n));
        }
    }

    bool SendRaw(std::string_view bytes, Clock::time_point deadline)
    {
        if (CheckCancelled())
            return false;
        while (!bytes.empty()) {
            ssize_t n = send(Fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0) {
                bytes.remove_prefix(static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                int ready = Await(Fd, POLLOUT, deadline);
                if (ready == 1)
                    continue;
                TimedOut = ready == 0;
            }
            return false;
        }
        return true;
    }

    // Bytes received (> 0), or 0 when the peer closed, -1 on time-out or error.
    long ReceiveRaw(char* chunk, size_t size, Clock::time_point deadline)
    {
        for (;;) {
            ssize_t n = recv(Fd, chunk, size, 0);
            if (n == 0)
                Closed = true;
            if (n >= 0)
                return static_cast<long>(n);
            if (errno == ECONNRESET)
                Closed = true;
            if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
                return -1;
            int ready = Await(Fd, POLLIN, deadline);
            TimedOut = ready == 0;
            if (ready != 1)
                return -1;
        }
    }

    bool CheckCancelled()
    {
        if (DeliveriesCancelled())
            Cancelled = true;
        return Cancelled;
    }

    // Waits until `fd` is ready for `events`, or the deadline passes, or
    // the delivery is cancelled (the token's descriptor wakes the poll):
    // 1 ready, 0 out of time, -1 cancelled or failed.
    int Await(int fd, short events, Clock::time_point deadline)
    {
        for (;;) {
            if (CheckCancelled())
                return -1;
            pollfd p[2] {{fd, events, 0}, {DeliveriesCancelledFd(), POLLIN, 0}};
            int ready = poll(p, 2, MillisLeft(deadline));
            if (ready == 0)
                return 0;
            if (ready < 0 && errno != EINTR)
                return -1;
            if (ready > 0 && p[1].revents == 0)
                return 1;
        }
    }

    // Hands what OpenSSL has written (records, alerts) to the socket.
    bool SendPendingTls(bool quietly, Clock::time_point deadline = {})
    {
        BIO* out = SSL_get_wbio(Ssl.get());
        char chunk[4096];
        int n;
        while ((n = BIO_read(out, chunk, sizeof chunk)) > 0) {
            if (quietly)
                (void)send(Fd, chunk, static_cast<size_t>(n), MSG_NOSIGNAL | MSG_DONTWAIT);
            else if (!SendRaw(std::string_view(chunk, static_cast<size_t>(n)), deadline))
                return false;
        }
        return true;
    }

    // Runs an OpenSSL call until it completes, moving bytes between the
    // socket and OpenSSL's buffers; its positive result, or -1.
    template <class Call>
    int TlsCall(Call call, Clock::time_point deadline)
    {
        for (;;) {
            int result = call();
            int error = result > 0 ? SSL_ERROR_NONE : SSL_get_error(Ssl.get(), result);
            if (!SendPendingTls(false, deadline))
                return -1;
            if (result > 0)
                return result;
            if (error != SSL_ERROR_WANT_READ)
                return -1;
            char chunk[4096];
            long n = ReceiveRaw(chunk, sizeof chunk, deadline);
            if (n <= 0)
                return -1;
            BIO_write(SSL_get_rbio(Ssl.get()), chunk, static_cast<int>(n));
        }
    }

    std::string HandshakeFailure(bool started) const
    {
        long verified = Ssl ? SSL_get_verify_result(Ssl.get()) : X509_V_OK;
        if (verified != X509_V_OK)
            return Cp1251("Сертификат сервера не прошёл проверку: ") +
                   X509_verify_cert_error_string(verified) + ".";
        const char* detail = ERR_reason_error_string(ERR_peek_last_error());
        if (detail)
            return Cp1251("Не удалось установить соединение TLS: ") + detail + ".";
        if (!started)
            return Cp1251("Не удалось подготовить соединение TLS.");
        // OpenSSL saw nothing wrong: the socket failed under it.
        return Cp1251(TimedOut ? "Сервер не ответил вовремя во время установки TLS."
                               : "Сервер разорвал соединение во время установки TLS.");
    }

    int Fd = -1;
    bool Broken = false;
    bool Cancelled = false; // the cancel was seen: nothing more goes out
    bool TimedOut = false; // the last socket wait ran out of time
    bool Closed = false;   // the peer closed the connection during the last read
    std::string Trouble;   // see TroubleText
    std::string Detail;
    std::string Buffer;
    std::unique_ptr<SSL_CTX, TSslDeleter> Ctx;
    std::unique_ptr<SSL, TSslDeleter> Ssl;
};

std::string DefaultLocalName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    std::string s(name);
    if (s.empty())
        return "localhost";
    for (unsigned char c : s)
        if (c <= 32 || c >= 127)
            return "localhost";
    return s;
}

struct TCapabilities {
    bool Size = false;
    bool StartTls = false;
    std::vector<std::string> AuthMechanisms; // in upper case
    bool HasAuth(std::string_view mechanism) const
    {
        for (const auto& m : AuthMechanisms)
            if (m == mechanism)
                return true;
        return false;
    }
};

// Service extensions from the lines of an EHLO reply after the first one.
TCapabilities ParseCapabilities(const TReply& ehlo)
{
    TCapabilities caps;
    for (size_t i = 1; i < ehlo.Lines.size(); ++i) {
        std::vector<std::string> words;
        std::string word;
        for (char c : ehlo.Lines[i] + " ") {
            if (c == ' ' || c == '\t') {
                if (!word.empty())
                    words.push_back(UpperCase(word));
                word.clear();
            } else {
                word += c;
            }
        }
        if (words.empty())
            continue;
        if (words[0] == "SIZE")
            caps.Size = true;
        if (words[0] == "STARTTLS")
            caps.StartTls = true;
        size_t first = 0;
        if (words[0] == "AUTH")
            first = 1;
        else if (words[0].rfind("AUTH=", 0) == 0) {
            words[0].erase(0, 5);
            first = 0;
        } else
            continue;
        for (size_t w = first; w < words.size(); ++w)
            caps.AuthMechanisms.push_back(words[w]);
    }
    return caps;
}

// The relay's reply as it stands in an error text: the code and its lines, one line.
std::string ReplyText(const TReply& reply)
{
    std::string text = std::to_string(reply.Code);
    for (const std::string& line : reply.Lines)
        text += " " + Trim(ControlCharsToSpaces(line));
    if (text.size() > 300)
        text.resize(300);
    return text;
}

// A gate check's view of a reply: its lines as they came, or why none came.
const TReply& ReportReply(const TReply& reply)
{
    ReportGateStep(TGateStep::Received, [&] {
        if (reply.Code < 0)
            return Cp1251("(нет ответа: соединение разорвано, время ожидания истекло или ответ не по протоколу)");
        std::string text;
        for (size_t i = 0; i < reply.Lines.size(); ++i)
            text += (i ? "\n" : "") + std::to_string(reply.Code) + (i + 1 < reply.Lines.size() ? "-" : " ") +
                    reply.Lines[i];
        return text;
    });
    return reply;
}

std::mutex CaFileMutex;
std::string CaFile;

} // namespace

void SetSmtpHostResolverForTests(TSmtpHostResolver resolver) { gResolver = resolver ? resolver : &getaddrinfo; }

void SetSmtpCaFile(const std::string& file)
{
    std::lock_guard lock(CaFileMutex);
    CaFile = file;
}

std::string SmtpCaFile()
{
    std::lock_guard lock(CaFileMutex);
    return CaFile;
}

bool UsesImplicitTls(TSmtpSecurity security, const TSmtpRelay& relay)
{
    if (security == TSmtpSecurity::Tls)
        return true;
    const std::string& port = relay.Port;
    if (security != TSmtpSecurity::Auto || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return std::stoi(port) == 465;
}

TSmtpRelay ParseSmtpRelay(std::string_view relay)
{
    TSmtpRelay r;
    size_t colon = relay.find(':');
    r.Host = Trim(relay.substr(0, colon));
    if (colon != std::string_view::npos)
        r.Port = Trim(relay.substr(colon + 1));
    if (r.Port.empty())
        r.Port = "25";
    return r;
}

std::string Base64Encode(std::string_view bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

bool Base64Decode(std::string_view text, std::string& bytes)
{
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    if (text.empty())
        return true;
    std::string out(text.size() / 4 * 3 + 1, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0)
        return false;
    size_t padding = text.back() == '=' ? (text[text.size() - 2] == '=' ? 2 : 1) : 0;
    out.resize(static_cast<size_t>(n) - padding);
    bytes = std::move(out);
    return true;
}

std::string CramMd5Response(std::string_view user, std::string_view password, std::string_view challenge)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_md5(), password.data(), static_cast<int>(password.size()),
         reinterpret_cast<const unsigned char*>(challenge.data()), challenge.size(), digest, &length);
    static const char hex[] = "0123456789abcdef";
    std::string response(user);
    response += ' ';
    for (unsigned int i = 0; i < length; ++i) {
        response += hex[digest[i] >> 4];
        response += hex[digest[i] & 15];
    }
    return response;
}

std::string DotStuffedData(const std::vector<std::string>& lines)
{
    std::string data;
    for (const auto& line : lines) {
        if (!line.empty() && line[0] == '.')
            data += '.';
        data += line;
        data += "\r\n";
    }
    data += ".\r\n";
    return data;
}

TSmtpClient::TSmtpClient() = default;

bool TSmtpClient::Submit(const TSmtpSubmission& s)
{
    Failed = TSmtpStage::None;
    Reason.clear();
    TSmtpConnection conn;
    auto fail = [&](TSmtpStage stage) {
        Failed = conn.WasCancelled() ? TSmtpStage::Cancelled : stage;
        if (Failed == TSmtpStage::Cancelled)
            Reason = DeliveriesCancelledMessage();
        return false;
    };

    // Nothing that could split a command or a line reaches the wire.
    auto badInput = [&] {
        Reason = Cp1251("В адресе или в строке письма есть перевод строки или нулевой байт.");
        return fail(TSmtpStage::Input);
    };
    if (HasLineBreakOrNul(s.Sender) || HasLineBreakOrNul(s.Recipients))
        return badInput();
    for (const auto& line : s.Lines)
        if (line.find_first_of("\r\n") != std::string::npos)
            return badInput();
    std::string sender = BareMailAddress(s.Sender);
    std::vector<std::string> recipients;
    for (const auto& piece : SplitMailAddressList(s.Recipients)) {
        std::string address = BareMailAddress(piece);
        if (!address.empty())
            recipients.push_back(std::move(address));
    }
    std::string localName = LocalName.empty() ? DefaultLocalName() : LocalName;
    if (HasLineBreakOrNul(localName))
        return badInput();

    TSmtpRelay relay = ParseSmtpRelay(s.Relay);
    if (relay.Host.empty()) {
        Reason = Cp1251("Не указан SMTP сервер.");
        return fail(TSmtpStage::Relay);
    }

    if (DeliveriesCancelled())
        return fail(TSmtpStage::Cancelled);
    bool resolved = false;
    const bool opened = conn.Open(relay, ConnectTimeout, resolved);
    ReportGateStep(TGateStep::Connection, [&] {
        return Cp1251(opened                ? "Соединение с "
                      : conn.WasCancelled() ? "Соединение прервано: "
                      : resolved            ? "Нет соединения с "
                                            : "Не найден адрес ") +
               relay.Host + ":" + relay.Port;
    });
    if (!opened) {
        Reason = conn.TroubleText();
        return fail(resolved ? TSmtpStage::Connect : TSmtpStage::Relay);
    }

    const std::string caFile = SmtpCaFile();
    auto startTls = [&] {
        const bool started = conn.StartTls(relay.Host, caFile, ReplyTimeout, Reason);
        ReportGateStep(TGateStep::Tls, [&] { return started ? conn.TlsDescription() : "TLS: " + Reason; });
        return started || fail(TSmtpStage::Tls);
    };
    bool implicitTls = UsesImplicitTls(s.Security, relay);
    if (implicitTls && !startTls())
        return false;

    // A command whose reply is not the expected one fails the stage; the
    // reason says what the relay answered, or why no answer came.
    // `label` names the command in an error text (the first word when not
    // given); `secret`: an AUTH answer, shown to a gate check as "***".
    std::string lastCommand = "greeting";
    auto command = [&](const std::string& text, const char* label = nullptr, bool secret = false) -> TReply {
        lastCommand = label ? std::string(label) : text.substr(0, text.find(' '));
        ReportGateStep(TGateStep::Sent, [&] { return secret ? std::string(GateSecretMask) : text; });
        if (conn.HasUnaskedInput() || !conn.Write(text + "\r\n", ReplyTimeout))
            return ReportReply({});
        return ReportReply(conn.ReadReply(ReplyTimeout));
    };
    // A refused login is the cause of whatever fails after it: the relay's
    // later "authentication required" would point at the wrong setting.
    TReply loginRefusal;
    auto refused = [&](TSmtpStage stage, const char* what, const TReply& reply) {
        if (loginRefusal.Code >= 0) {
            Reason = Cp1251("SMTP сервер не принял логин или пароль (") + ReplyText(loginRefusal) + ").";
        } else if (reply.Code >= 0) {
            Reason = Cp1251("SMTP сервер отклонил ") + Cp1251(what) + " (" + ReplyText(reply) + ").";
        } else {
            const std::string& detail = conn.TroubleDetail();
            Reason = (conn.TroubleText().empty() ? Cp1251("Обмен с SMTP сервером прерван") : conn.TroubleText()) +
                     " (" + lastCommand + (detail.empty() ? "" : ": " + detail) + ").";
        }
        return fail(stage);
    };

    TReply greeting = ReportReply(conn.ReadReply(ReplyTimeout));
    if (greeting.Code != 220)
        return refused(TSmtpStage::Greeting, "соединение", greeting);

    // EHLO, or HELO when EHLO is refused.
    TReply ehlo, helo;
    bool extended = false;
    auto hello = [&] {
        ehlo = command("EHLO " + localName);
        extended = ehlo.Code >= 250 && ehlo.Code <= 259;
        if (extended)
            return true;
        // After a reply that never came the exchange is out of step: HELO would be misread.
        helo = ehlo;
        if (conn.IsBroken())
            return false;
        helo = command("HELO " + localName);
        return helo.Code >= 250 && helo.Code <= 259;
    };
    if (!hello())
        return refused(TSmtpStage::Hello, "приветствие", helo);

    // From here on QUIT ends the exchange on every path.
    auto quit = [&](bool ok) {
        ReportGateStep(TGateStep::Sent, [] { return std::string("QUIT"); });
        if (conn.IsBroken())
            conn.SendQuietly("QUIT\r\n");
        else if (conn.Write("QUIT\r\n", ReplyTimeout))
            ReportReply(conn.ReadReply(ReplyTimeout));
        conn.Close();
        return ok;
    };

    TCapabilities caps = extended ? ParseCapabilities(ehlo) : TCapabilities {};
    bool askStartTls = s.Security == TSmtpSecurity::StartTls || (s.Security == TSmtpSecurity::Auto && caps.StartTls);
    if (!implicitTls && askStartTls) {
        if (!caps.StartTls) {
            Reason = Cp1251("Сервер не поддерживает STARTTLS (защищённое соединение).");
            fail(TSmtpStage::StartTls);
            return quit(false);
        }
        TReply answer = command("STARTTLS");
        if (answer.Code != 220) {
            // Not even QUIT goes out in the clear once STARTTLS was asked for.
            Reason = answer.Code < 0 ? Cp1251("Сервер не ответил на STARTTLS.")
                                     : Cp1251("Сервер отказал в STARTTLS (код ") + std::to_string(answer.Code) + ").";
            fail(TSmtpStage::StartTls);
            conn.Close();
            return false;
        }
        if (!startTls())
            return false;
        // What the relay said before TLS no longer counts: greet again and read the extensions anew.
        if (!hello()) {
            refused(TSmtpStage::Hello, "приветствие", helo);
            return quit(false);
        }
        caps = extended ? ParseCapabilities(ehlo) : TCapabilities {};
    }

    if (extended && (!s.Username.empty() || !s.Password.empty())) {
        bool authenticated = false;
        // A permanent refusal of the credentials; not "no such command" or "no such mechanism".
        auto noteRefusal = [&](const TReply& reply) {
            if (reply.Code >= 500 && reply.Code != 502 && reply.Code != 504)
                loginRefusal = reply;
        };
        if (caps.HasAuth("CRAM-MD5")) {
            TReply challenge = command("AUTH CRAM-MD5");
            if (challenge.Code == 334) {
                std::string decoded;
                std::string text = challenge.Lines.empty() ? std::string() : Trim(challenge.Lines[0]);
                if (Base64Decode(text, decoded)) {
                    const TReply answer =
                        command(Base64Encode(CramMd5Response(s.Username, s.Password, decoded)), "AUTH", true);
                    authenticated = answer.Code == 235;
                    noteRefusal(answer);
                } else {
                    command("*", "AUTH"); // cancel: the challenge cannot be answered
                }
            }
        }
        if (!authenticated && caps.HasAuth("LOGIN") && !conn.IsBroken()) {
            TReply step = command("AUTH LOGIN");
            if (step.Code == 334)
                step = command(Base64Encode(s.Username), "AUTH", true);
            if (step.Code == 334)
                step = command(Base64Encode(s.Password), "AUTH", true);
            authenticated = step.Code == 235;
            noteRefusal(step);
        }
        if (authenticated)
            loginRefusal = {};
    }

    std::string data = DotStuffedData(s.Lines);
    std::string mailFrom = "MAIL FROM:<" + sender + ">";
    if (caps.Size) {
        size_t size = 0;
        for (const auto& line : s.Lines)
            size += line.size() + 2;
        mailFrom += " SIZE=" + std::to_string(size);
    }
    if (TReply reply = command(mailFrom); reply.Code != 250) {
        refused(TSmtpStage::MailFrom, "адрес отправителя", reply);
        return quit(false);
    }
    for (const auto& address : recipients) {
        if (TReply reply = command("RCPT TO:<" + address + ">"); reply.Code != 250) {
            refused(TSmtpStage::RcptTo, "адрес получателя", reply);
            return quit(false);
        }
    }
    if (TReply reply = command("DATA"); reply.Code != 354) {
        refused(TSmtpStage::Data, "передачу письма", reply);
        return quit(false);
    }
    lastCommand = ".";
    ReportGateStep(TGateStep::Sent, [&] {
        return Cp1251("(письмо: ") + std::to_string(data.size()) + Cp1251(" байт, в конце строка \".\")");
    });
    TReply end;
    if (!conn.HasUnaskedInput() && conn.Write(data, ReplyTimeout))
        end = conn.ReadReply(ReplyTimeout);
    if (ReportReply(end).Code != 250) {
        refused(TSmtpStage::Message, "письмо", end);
        return quit(false);
    }
    return quit(true);
}
