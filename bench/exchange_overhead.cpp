// bench_exchange_overhead.exe - the module's own cost of one exchange: CDRMLogin::Communicate (an
// ACL query, 35-byte record, 53-byte reply) beside a bare WinINet POST of the same record against
// the same loopback server, measured interleaved in one run. The bare side makes as many
// OutputDebugStringA calls as the module writes lines, then none: the two ratios are the module's
// overhead and what its debug lines cost.
#include <string.h>

#include <string>
#include <vector>

#include "BenchUtil.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"

namespace {

constexpr int kWarmUp = 20;
constexpr int kRounds = 300;

} // namespace

int main()
{
    vlagt::test::ScriptedHttpServer server;
    server.RecordRequests(false);
    server.SetDefaultReply(vlagt::test::ScriptedReply::WithBody("40000" + std::string(sizeof(ACL_REPLY), 'a')));
    std::string url = server.Url("/vl/agent");

    CDRMLogin session;
    session.SetServerIP(&url[0]);
    char user[] = "bench01", password[] = "pw";
    session.SetUserInfo(user, password);
    ACL_REQ record = {};
    memcpy(record.szSignal, "_%REQ_ACL%_", 11);
    memcpy(record.szUserID, "bench01", 7);

    const int lines = bench::CountDebugLines([&] { session.Communicate(SIG_REQ_ACL); });
    std::vector<double> module, bareWithLines, bare;
    for (int i = 0; i < kWarmUp + kRounds; ++i) {
        double start = bench::Now();
        const unsigned long status = session.Communicate(SIG_REQ_ACL);
        const double moduleTime = bench::Now() - start;
        start = bench::Now();
        const size_t length1 = bench::BareExchange("127.0.0.1", server.Port(), "/vl/agent", &record, sizeof(record), lines);
        const double bareLinesTime = bench::Now() - start;
        start = bench::Now();
        const size_t length2 = bench::BareExchange("127.0.0.1", server.Port(), "/vl/agent", &record, sizeof(record), 0);
        const double bareTime = bench::Now() - start;
        if (status != 40000 || length1 != 58 || length2 != 58) {
            fprintf(stderr, "an exchange failed (%lu, %u, %u)\n", status, static_cast<unsigned>(length1),
                    static_cast<unsigned>(length2));
            return 1;
        }
        if (i >= kWarmUp) {
            module.push_back(moduleTime);
            bareWithLines.push_back(bareLinesTime);
            bare.push_back(bareTime);
        }
    }
    const double m = bench::Median(module), bl = bench::Median(bareWithLines), b = bench::Median(bare);
    printf("exchange_overhead: median of %d interleaved exchanges each, %d debug lines per exchange\n", kRounds,
           lines);
    bench::Row("CDRMLogin::Communicate(SIG_REQ_ACL)", m);
    bench::Row("bare WinINet POST, same number of debug lines", bl);
    bench::Row("bare WinINet POST, no debug lines", b);
    printf("  ratio module / bare with the same debug lines: %.3f (goal <= 1.05)\n", m / bl);
    printf("  ratio module / bare without debug lines:       %.3f\n", m / b);
    return 0;
}
