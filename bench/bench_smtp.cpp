// Submissions through the SMTP client to a running relay, one connection each,
// to show what TLS costs per delivery (handshake, loading the CA store).
// Usage: bench_smtp RELAY auto|starttls|tls|none [N] [CAFILE] [USER PASSWORD]
// e.g. against tests/peers/smtp_peer.py --tls=starttls (its READY line names the CA file).
#include "engine/SmtpClient.h"
#include "storage/SmsOptions.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RELAY auto|starttls|tls|none [N] [CAFILE] [USER PASSWORD]\n", argv[0]);
        return 2;
    }
    int n = argc > 3 ? std::atoi(argv[3]) : 200;
    if (argc > 4)
        SetSmtpCaFile(argv[4]);
    TSmtpSubmission s;
    s.Relay = argv[1];
    s.Security = SmtpSecurityFromName(argv[2], TSmtpSecurity::Auto);
    if (argc > 6) {
        s.Username = argv[5];
        s.Password = argv[6];
    }
    s.Sender = "bench@test.ru";
    s.Recipients = "1@sms.test";
    s.Lines = {"Subject: bench", "", "hello"};

    TSmtpClient client;
    client.SetLocalHostName("bench.test");
    auto start = std::chrono::steady_clock::now();
    int failed = 0;
    for (int i = 0; i < n; ++i)
        if (!client.Submit(s))
            ++failed;
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s %s: %d submissions, %d failed, %.2f ms each\n", s.Relay.c_str(),
                SmtpSecurityName(s.Security), n, failed, n > 0 ? ms / n : 0.0);
    return failed ? 1 : 0;
}
