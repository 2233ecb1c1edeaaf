// Judging a web gate's reply body by reply patterns: compiling the three
// patterns of an operator, and matching them against bodies of a few sizes,
// including the 64 KB cut and patterns that backtrack heavily.
// Usage: bench_replypatterns [N]   (default 200)
#include "engine/ReplyPattern.h"
#include "engine/StdSmsSender.h"
#include "model/Error.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double Seconds(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// Microseconds per judgement (compiling included) of the body; the outcome in words.
void Measure(const char* what, const TStdSmsSender& sender, const std::string& body, int n)
{
    std::string outcome = "delivered";
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
        try {
            TReplyRules rules(sender);
            rules.Judge(body);
        } catch (const TPermanentError&) {
            outcome = "permanent failure";
        } catch (const TError&) {
            outcome = "failure";
        }
    }
    std::printf("%-44s %9.1f us each  (%s)\n", what, Seconds(start) * 1e6 / n, outcome.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    int n = argc > 1 ? std::atoi(argv[1]) : 200;
    if (n <= 0)
        n = 200;
    TStdSmsSender json;
    json.ReplyOkPattern = R"re("status"\s*:\s*"(ok|queued)")re";
    json.ReplyTempFailPattern = R"re("status"\s*:\s*"busy")re";
    json.ReplyPermFailPattern = R"re("status"\s*:\s*"error".*"code"\s*:\s*(4\d\d))re";
    const std::string small = R"({"status": "ok", "id": 12345})";
    std::string big = R"({"status": "ok", "log": ")";
    big.resize(64 * 1024 - 2, 'x');
    big += "\"}";
    Measure("3 JSON patterns, 30-byte body", json, small, n);
    Measure("3 JSON patterns, 64 KB body", json, big, n);

    TStdSmsSender deep;
    deep.ReplyOkPattern = "^(a|b)*$";
    Measure("^(a|b)*$ against 64 KB of 'a'", deep, std::string(64 * 1024, 'a'), n / 10 + 1);
    deep.ReplyOkPattern = "^(a+a+)+$";
    Measure("^(a+a+)+$ against 5000 'a' and '!' (limit)", deep, std::string(5000, 'a') + "!", n / 50 + 1);
    return 0;
}
