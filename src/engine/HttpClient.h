#pragma once
// A one-request HTTP/1.1 GET client on libcurl for the web gate. Every call
// uses its own handle, so calls on different threads do not interfere.
#include "model/DeliveryCancel.h" // the delivery's cancel, which aborts a request in progress

#include <string>
#include <vector>

struct THttpProxy {
    std::string Host;      // empty: no proxy (the environment's proxy variables are ignored)
    int Port = 0;
    bool BasicAuth = false; // send Basic credentials to the proxy with the first request
    std::string Username;
    std::string Password;
};

struct THttpRequest {
    std::string Url;                  // absolute "http://" or "https://" URL, sent as given (blanks and tabs encoded)
    std::vector<std::string> Headers; // extra header lines, "Name: value"
    THttpProxy Proxy;
    // The longest the whole exchange may take (0: the settings' TotalTimeoutMs;
    // the shorter of the two applies).
    long TimeoutMs = 0;
};

// Time limits and the certificate store; tests shorten the limits and name
// their own certificate authority.
struct THttpSettings {
    long ConnectTimeoutMs = 30000;  // establishing the connection
    long TotalTimeoutMs = 120000;   // the whole exchange
    std::string CaFile;             // empty: the system's CA store
};
THttpSettings HttpSettings();
void SetHttpSettings(const THttpSettings& settings);

// The most of a response body that is read; the rest is cut off.
constexpr size_t HttpBodyLimit = 64 * 1024;

struct THttpResponse {
    std::string StatusLine; // the final status line, without its line break
    std::string Body;       // at most HttpBodyLimit bytes
    bool BodyCut = false;   // the server had more to send; the transfer was ended there
};

// Performs the GET and reads the response, its body up to HttpBodyLimit.
// Returns it when the final status is 2xx. Raises TError otherwise: with
// the status line the server sent for any other status (redirections are not followed), or,
// for a network failure, a malformed URL or a scheme other than http and https, with a
// Russian lead-in, the cause in Russian (server not found, connection refused, no answer
// in time, TLS failure, proxy refused, ...) and libcurl's error text in brackets.
THttpResponse HttpGet(const THttpRequest& request);
