// bench_cutoff_reply.exe - what a reply that outgrows its bound costs: for each transfer form, the
// caller's time of one CDRMLogin::Communicate against a loopback server that sends without end (or
// stalls 1 MiB past the bound), the body bytes the server had sent when the call returned, and in
// the 5 s after it the bytes the server still sent and the process's CPU time (the server's
// sending included: it runs in this process). Then the server stops, which ends every close.
// Figures, not a test: the time a call takes is what the bound of 10 s in the fault matrix checks.
#include <stdio.h>

#include <string>

#include "BenchUtil.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"

namespace {

using vlagt::test::ScriptedHttpServer;
using vlagt::test::ScriptedReply;
using Framing = ScriptedReply::Framing;

constexpr size_t kMiB = 1024u * 1024u;
constexpr DWORD kWatchMs = 5000;

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

struct Row
{
    const char* name;
    int type;
    ScriptedReply reply;
    size_t bound; // where the call stops reading
};

} // namespace

int main()
{
    const Row rows[] = {
        {"binary, chunked, endless", SIG_REQ_LEVEL, ScriptedReply::Endless("40000", Framing::Chunked), 16 * kMiB},
        {"binary, Content-Length 1 GiB", SIG_REQ_LEVEL, ScriptedReply::Endless("40000", Framing::ContentLength),
         16 * kMiB},
        {"binary, ended by close, endless", SIG_REQ_LEVEL, ScriptedReply::Endless("40000", Framing::CloseDelimited),
         16 * kMiB},
        {"binary, chunked, stalls 1 MiB past", SIG_REQ_LEVEL,
         ScriptedReply::Endless("40000", Framing::Chunked).StallAfter(17 * kMiB), 16 * kMiB},
        {"web login, chunked, endless", SIG_REQ_WEB_LOGIN,
         ScriptedReply::Endless("<Result>40000</Result>", Framing::Chunked), 1 * kMiB},
        {"ping, chunked, wrong answer, endless", SIG_REQ_PING, ScriptedReply::Endless("_%RES_PNG%_", Framing::Chunked),
         0},
    };
    printf("cutoff_reply: one call per form; 'after' counts body bytes the server sent past the bound\n");
    printf("  %-38s %9s %14s %16s %12s\n", "form", "call (s)", "at return MiB", "next 5 s MiB", "CPU 5 s (s)");
    for (const Row& row : rows) {
        ScriptedHttpServer server;
        server.RecordRequests(false);
        server.Enqueue(row.reply);
        std::string url = server.Url("/vl/agent");
        CDRMLogin session;
        session.SetServerIP(&url[0]);
        char user[] = "bench01", password[] = "pw";
        session.SetUserInfo(user, password);

        const double start = bench::Now();
        const unsigned long result = session.Communicate(row.type);
        const double callTime = bench::Now() - start;
        const size_t atReturn = server.BodyBytesSent();
        const double cpuBefore = ProcessCpuSeconds();
        Sleep(kWatchMs);
        const double cpu = ProcessCpuSeconds() - cpuBefore;
        const size_t later = server.BodyBytesSent();
        server.Stop();
        const double past = atReturn > row.bound ? static_cast<double>(atReturn - row.bound) : 0.0;
        printf("  %-38s %9.2f %14.1f %16.1f %12.2f%s\n", row.name, callTime, past / kMiB,
               static_cast<double>(later - atReturn) / kMiB, cpu, result == 0 ? "" : "  (not a failure!)");
    }
    // A normal exchange still keeps its connection for the next one.
    ScriptedHttpServer server;
    server.RecordRequests(false);
    server.SetDefaultReply(ScriptedReply::WithBody("40000" + std::string(200, 'L')));
    std::string url = server.Url("/vl/agent");
    CDRMLogin session;
    session.SetServerIP(&url[0]);
    for (int i = 0; i < 5; ++i)
        session.Communicate(SIG_REQ_LEVEL);
    printf("  5 normal exchanges afterwards used %u connection(s)\n", static_cast<unsigned>(server.ConnectionCount()));
    return 0;
}
