// bench_large_reply.exe - reading a 10 MB binary reply through CDRMLogin::Communicate (a level-list
// query; the channel keeps the whole reply, then its record) beside a bare read loop of the same
// body from the same loopback server, interleaved in one run.
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"

namespace {

constexpr int kRounds = 9;
constexpr size_t kBody = 10u * 1000u * 1000u;

} // namespace

int main()
{
    vlagt::test::ScriptedHttpServer server;
    server.RecordRequests(false);
    std::string body = "40000";
    body.resize(kBody, 'L');
    server.SetDefaultReply(vlagt::test::ScriptedReply::WithBody(body));
    std::string url = server.Url("/vl/agent");

    CDRMLogin session;
    session.SetServerIP(&url[0]);
    const char request[] = "_%REQ_LVL%_";
    std::vector<double> module, bare;
    for (int i = 0; i < kRounds + 1; ++i) {
        double start = bench::Now();
        const unsigned long status = session.Communicate(SIG_REQ_LEVEL);
        const double moduleTime = bench::Now() - start;
        start = bench::Now();
        const size_t length = bench::BareExchange("127.0.0.1", server.Port(), "/vl/agent", request, 11, 0);
        const double bareTime = bench::Now() - start;
        if (status != 40000 || length != kBody) {
            fprintf(stderr, "an exchange failed (%lu, %u)\n", status, static_cast<unsigned>(length));
            return 1;
        }
        if (i > 0) {
            module.push_back(moduleTime);
            bare.push_back(bareTime);
        }
    }
    const double m = bench::Median(module), b = bench::Median(bare);
    printf("large_reply: median of %d interleaved reads of a 10 MB binary reply\n", kRounds);
    bench::Row("CDRMLogin::Communicate(SIG_REQ_LEVEL)", m);
    bench::Row("bare read loop", b);
    printf("  ratio module / bare: %.3f\n", m / b);
    return 0;
}
