// bench_tls_exchange.exe - what TLS costs an exchange: the same ping to vlpolicyd over https and
// over http (two servers on one store), measured interleaved in one process. Three figures: the
// first exchange of the process over each (the TLS provider loaded, the certificate chain built),
// an exchange on a connection WinINet keeps alive (the module's own path, CDRMLogin::Communicate),
// and an exchange on a fresh connection (a bare WinINet POST that asks the server to close).
//
// Usage: bench_tls_exchange.exe HTTPS_URL HTTP_URL  (scripts/bench.sh starts both servers and
// trusts the test CA in the prefix).
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "BenchUtil.h"
#include "VLAgtClient.h"

namespace {

constexpr int kWarmUp = 5;
constexpr int kRounds = 60;

struct Target
{
    std::string url;
    std::string host;
    INTERNET_PORT port = 0;
    std::string path;
    bool secure = false;
};

bool Crack(const std::string& url, Target& target)
{
    char host[128] = {}, path[256] = {};
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof(host);
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof(path);
    if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts))
        return false;
    target.url = url;
    target.host = host;
    target.port = parts.nPort;
    target.path = path;
    target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

// The module's ping on a session of its own: WinINet keeps the connection of the last one alive.
double ModulePing(const Target& target)
{
    CDRMLogin session;
    std::string url = target.url;
    session.SetServerIP(&url[0]);
    const double start = bench::Now();
    const unsigned long status = session.Communicate(SIG_REQ_PING);
    const double elapsed = bench::Now() - start;
    return status == 40000 ? elapsed : -1.0;
}

// A bare ping in one send (headers and body together); with `fresh` it asks the server to close
// the connection after its reply, so that every one opens a new connection (and over https makes a
// new handshake).
double BarePing(const Target& target, bool fresh)
{
    const double start = bench::Now();
    HINTERNET session = InternetOpenA("HTTP_VL_CONTENT", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connect =
        InternetConnectA(session, target.host.c_str(), target.port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    const DWORD flags =
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | (target.secure ? INTERNET_FLAG_SECURE : 0);
    HINTERNET request = HttpOpenRequestA(connect, "POST", target.path.c_str(), nullptr, nullptr, nullptr, flags, 0);
    static const char kHeader[] = "Connection: close\r\n";
    char body[] = "_%REQ_PNG%_";
    char reply[64] = {};
    DWORD total = 0;
    if (HttpSendRequestA(request, fresh ? kHeader : nullptr, fresh ? sizeof(kHeader) - 1 : 0, body, 11)) {
        DWORD read = 0;
        while (InternetReadFile(request, reply + total, sizeof(reply) - 1 - total, &read) && read > 0)
            total += read;
    }
    InternetCloseHandle(request);
    InternetCloseHandle(connect);
    InternetCloseHandle(session);
    const double elapsed = bench::Now() - start;
    return total == 11 && memcmp(reply, "_%RES_PNG%_", 11) == 0 ? elapsed : -1.0;
}

} // namespace

int main(int argc, char** argv)
{
    Target https, http;
    if (argc != 3 || !Crack(argv[1], https) || !Crack(argv[2], http) || !https.secure || http.secure) {
        fprintf(stderr, "usage: bench_tls_exchange HTTPS_URL HTTP_URL\n");
        return 2;
    }
    // Plain first, so that loading WinINet itself is not counted against TLS.
    const double firstPlain = ModulePing(http);
    const double firstTls = ModulePing(https);
    if (firstPlain < 0 || firstTls < 0) {
        fprintf(stderr, "the first ping failed (plain %s, tls %s)\n", firstPlain < 0 ? "failed" : "ok",
                firstTls < 0 ? "failed" : "ok");
        return 1;
    }
    // Two phases, each interleaved: WinINet pools connections per host and port, and a request that
    // asks for a close would end the pooled connection the kept-alive figures rely on.
    std::vector<double> keptTls, keptPlain, bareTls, barePlain, freshTls, freshPlain;
    for (int i = 0; i < kWarmUp + kRounds; ++i) {
        const double a = ModulePing(https);
        const double b = ModulePing(http);
        const double e = BarePing(https, false);
        const double f = BarePing(http, false);
        if (a < 0 || b < 0 || e < 0 || f < 0) {
            fprintf(stderr, "a ping failed in round %d\n", i);
            return 1;
        }
        if (i >= kWarmUp) {
            keptTls.push_back(a);
            keptPlain.push_back(b);
            bareTls.push_back(e);
            barePlain.push_back(f);
        }
    }
    for (int i = 0; i < kWarmUp + kRounds; ++i) {
        const double c = BarePing(https, true);
        const double d = BarePing(http, true);
        if (c < 0 || d < 0) {
            fprintf(stderr, "a ping failed in round %d\n", i);
            return 1;
        }
        if (i >= kWarmUp) {
            freshTls.push_back(c);
            freshPlain.push_back(d);
        }
    }
    printf("tls_exchange: a ping to vlpolicyd over https and over http; medians of %d interleaved rounds per phase\n", kRounds);
    bench::Row("first exchange of the process, https", firstTls);
    bench::Row("first exchange of the process, http (after WinINet loaded)", firstPlain);
    bench::Row("CDRMLogin::Communicate(SIG_REQ_PING), kept-alive connection, https", bench::Median(keptTls));
    bench::Row("CDRMLogin::Communicate(SIG_REQ_PING), kept-alive connection, http", bench::Median(keptPlain));
    bench::Row("bare POST in one send, kept-alive connection, https", bench::Median(bareTls));
    bench::Row("bare POST in one send, kept-alive connection, http", bench::Median(barePlain));
    bench::Row("bare POST on a fresh connection, https (a handshake each)", bench::Median(freshTls));
    bench::Row("bare POST on a fresh connection, http", bench::Median(freshPlain));
    printf("  ratio https / http, module, kept alive:    %.3f\n", bench::Median(keptTls) / bench::Median(keptPlain));
    printf("  ratio https / http, bare, kept alive:      %.3f\n", bench::Median(bareTls) / bench::Median(barePlain));
    printf("  ratio https / http, fresh connection: %.3f\n", bench::Median(freshTls) / bench::Median(freshPlain));
    return 0;
}
