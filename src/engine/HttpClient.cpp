#include "engine/HttpClient.h"

#include "engine/GateTrace.h"
#include "model/Error.h"
#include "model/Text.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

std::mutex SettingsMutex;
THttpSettings Settings;

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

const std::string& NetworkLeadIn()
{
    static const std::string text = Cp1251("Ошибка соединения с SMS шлюзом: ");
    return text;
}

// The lead-in, what went wrong in Russian, and the technical text in brackets.
[[noreturn]] void Fail(const char* cause, const std::string& detail)
{
    throw TError(NetworkLeadIn() + Cp1251(cause) + " (" + detail + ")");
}

// The common network failures in words; the rest as a failed exchange.
const char* FailureCause(CURLcode rc, bool viaProxy)
{
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return "сервер не найден";
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "прокси-сервер не найден";
    case CURLE_COULDNT_CONNECT:
        return viaProxy ? "прокси-сервер отказал в соединении" : "сервер отказал в соединении";
    case CURLE_OPERATION_TIMEDOUT:
        return "сервер не ответил вовремя";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
        return "сертификат сервера не прошёл проверку";
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
        return "не удалось установить защищённое соединение TLS";
    case CURLE_PROXY:
        return "прокси-сервер отказал";
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "неверный адрес шлюза";
    case CURLE_GOT_NOTHING:
        return "сервер закрыл соединение, не ответив";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return "соединение прервано";
    case CURLE_WEIRD_SERVER_REPLY:
        return "сервер ответил не по протоколу HTTP";
    case CURLE_OUT_OF_MEMORY:
        return "не хватило памяти";
    default:
        return "обмен с сервером не удался";
    }
}

[[noreturn]] void Fail(CURLcode rc, bool viaProxy, const char* errorBuffer)
{
    Fail(FailureCause(rc, viaProxy), errorBuffer && errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc));
}

// True when the URL starts with a scheme followed by "://": libcurl would
// otherwise guess one, and a URL without it names no host.
bool HasScheme(const std::string& url)
{
    size_t i = 0;
    auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (url.empty() || !isAlpha(url[0]))
        return false;
    while (i < url.size() && (isAlpha(url[i]) || (url[i] >= '0' && url[i] <= '9') || url[i] == '+' ||
                              url[i] == '-' || url[i] == '.'))
        ++i;
    return url.compare(i, 3, "://") == 0;
}

struct TExchange {
    std::string LastStatusLine; // the last status line seen (a proxy's CONNECT answer comes first)
    bool HeaderComplete = false; // the empty line after the last status line's header arrived
    std::string Body;            // of the last response, up to HttpBodyLimit
    bool BodyCut = false;
    bool Traced = false;                   // a gate check listens: the header lines are kept
    std::vector<std::string> HeaderLines; // of the last response, for the check's trace
};

size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    size_t n = size * count;
    std::string line(data, n);
    auto* exchange = static_cast<TExchange*>(user);
    if (line.rfind("HTTP/", 0) == 0) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        exchange->LastStatusLine = line;
        exchange->HeaderComplete = false;
        exchange->Body.clear();
        exchange->HeaderLines.clear();
    } else if (line == "\r\n" || line == "\n") {
        exchange->HeaderComplete = true;
    } else if (exchange->Traced) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        exchange->HeaderLines.push_back(line);
    }
    return n;
}

// Keeps the body up to the limit; past it, ends the transfer (returning less
// than was given makes libcurl stop with a write error).
size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    size_t n = size * count;
    auto* exchange = static_cast<TExchange*>(user);
    size_t room = HttpBodyLimit - exchange->Body.size();
    if (n > room) {
        exchange->Body.append(data, room);
        exchange->BodyCut = true;
        return 0;
    }
    exchange->Body.append(data, n);
    return n;
}

int OnProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return DeliveriesCancelled() ? 1 : 0; }

// A gate check's view of the answer: the status line with its headers, then
// the start of the body as it came.
void ReportExchange(const TExchange& exchange)
{
    ReportGateStep(TGateStep::Received, [&] {
        std::string text = exchange.LastStatusLine;
        for (const auto& line : exchange.HeaderLines)
            text += "\n" + line;
        return text;
    });
    ReportGateStep(TGateStep::Body, [&] { return exchange.Body.substr(0, GateTraceBodyLimit); });
}

struct TCurlDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct TSlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

} // namespace

THttpSettings HttpSettings()
{
    std::lock_guard lock(SettingsMutex);
    return Settings;
}

void SetHttpSettings(const THttpSettings& settings)
{
    std::lock_guard lock(SettingsMutex);
    Settings = settings;
}

THttpResponse HttpGet(const THttpRequest& request)
{
    if (DeliveriesCancelled())
        throw TError(DeliveriesCancelledMessage());
    if (!HasScheme(request.Url))
        Fail(CURLE_URL_MALFORMAT, false, nullptr);
    GlobalInit();
    const THttpSettings settings = HttpSettings();

    std::unique_ptr<CURL, TCurlDeleter> handle(curl_easy_init());
    if (!handle)
        Fail(CURLE_FAILED_INIT, false, nullptr);
    CURL* h = handle.get();

    std::unique_ptr<curl_slist, TSlistDeleter> headers;
    for (const auto& line : request.Headers) {
        curl_slist* next = curl_slist_append(headers.get(), line.c_str());
        if (!next)
            Fail(CURLE_OUT_OF_MEMORY, false, nullptr);
        headers.release();
        headers.reset(next);
    }

    char errorBuffer[CURL_ERROR_SIZE] = {};
    TExchange exchange;
    exchange.Traced = CurrentGateObserver() != nullptr;
    const THttpProxy& proxy = request.Proxy;
    CURLcode rc = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (rc == CURLE_OK)
            rc = curl_easy_setopt(h, option, value);
    };
    set(CURLOPT_ERRORBUFFER, errorBuffer);
    set(CURLOPT_NOSIGNAL, 1L);
    // A blank or a tab in the template's own text cannot stand in a request
    // line (libcurl refuses such a URL): they go out encoded, everything else
    // as written.
    std::string url;
    url.reserve(request.Url.size());
    for (char c : request.Url) {
        if (c == ' ')
            url += "%20";
        else if (c == '\t')
            url += "%09";
        else
            url += c;
    }
    set(CURLOPT_URL, url.c_str());
    // The URL goes out as the template built it: no "/../" or "/./" squashing.
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_HTTPHEADER, headers.get());
    set(CURLOPT_USERAGENT, "Velotext/1.0");
    const long limit = request.TimeoutMs > 0 ? std::min(request.TimeoutMs, settings.TotalTimeoutMs)
                                             : settings.TotalTimeoutMs;
    set(CURLOPT_CONNECTTIMEOUT_MS, std::min(settings.ConnectTimeoutMs, limit));
    set(CURLOPT_TIMEOUT_MS, limit);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!settings.CaFile.empty())
        set(CURLOPT_CAINFO, settings.CaFile.c_str());
    set(CURLOPT_HEADERFUNCTION, OnHeader);
    set(CURLOPT_HEADERDATA, &exchange);
    set(CURLOPT_WRITEFUNCTION, OnBody);
    set(CURLOPT_WRITEDATA, &exchange);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, OnProgress);
    // The proxy is exactly what the options say: the environment's proxy
    // variables (http_proxy, no_proxy) must not add or bypass one.
    set(CURLOPT_NOPROXY, "");
    if (proxy.Host.empty()) {
        set(CURLOPT_PROXY, "");
    } else {
        set(CURLOPT_PROXY, proxy.Host.c_str());
        set(CURLOPT_PROXYPORT, static_cast<long>(proxy.Port));
        if (proxy.BasicAuth) {
            // Basic only: libcurl then sends the credentials with the first request.
            set(CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC));
            set(CURLOPT_PROXYUSERNAME, proxy.Username.c_str());
            set(CURLOPT_PROXYPASSWORD, proxy.Password.c_str());
        }
    }
    const bool viaProxy = !proxy.Host.empty();
    if (rc != CURLE_OK)
        Fail(rc, viaProxy, errorBuffer);

    rc = curl_easy_perform(h);
    if (exchange.Traced && !exchange.LastStatusLine.empty())
        ReportExchange(exchange);
    if (rc == CURLE_ABORTED_BY_CALLBACK)
        throw TError(DeliveriesCancelledMessage());
    if (rc == CURLE_WRITE_ERROR && exchange.BodyCut)
        rc = CURLE_OK; // the body was cut at the limit: the answer so far stands
    if (rc != CURLE_OK) {
        // A proxy that refused the tunnel answered with a status line of its own.
        long connectCode = 0;
        curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connectCode);
        if (connectCode != 0 && (connectCode < 200 || connectCode > 299) && !exchange.LastStatusLine.empty())
            throw TError(exchange.LastStatusLine);
        if (rc == CURLE_OPERATION_TIMEDOUT) // the limit in the words, so the user knows what to change
            Fail(FailureCause(rc, viaProxy), Cp1251("за " + std::to_string((limit + 999) / 1000) + " с; ") +
                                                 (errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc)));
        Fail(rc, viaProxy, errorBuffer);
    }
    // libcurl takes a connection closed inside the header as the end of the
    // answer; such an answer is incomplete and proves nothing.
    if (!exchange.HeaderComplete)
        Fail("сервер прислал неполный ответ", "incomplete response header");
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 200 && code <= 299)
        return THttpResponse {exchange.LastStatusLine, std::move(exchange.Body), exchange.BodyCut};
    if (!exchange.LastStatusLine.empty())
        throw TError(exchange.LastStatusLine);
    Fail("сервер ответил не по протоколу HTTP", "HTTP " + IntToStr(code));
}
