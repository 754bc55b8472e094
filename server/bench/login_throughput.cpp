// Logins per second of vlpolicyd with 1, 4 and 16 concurrent clients, and the latency of one login
// (p50, p99), against a server in this process on 127.0.0.1 with a fresh database. Each row's
// throughput is also given as a ratio to the single client's, measured in the same run.
#include <httplib.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CPolicyServer.h"
#include "CPolicyStore.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Field(const std::string& text, size_t width)
{
    std::string field = text.substr(0, width);
    field.resize(width, '\0');
    return field;
}

struct Row
{
    int clients;
    double perSecond;
    double p50Ms;
    double p99Ms;
};

Row Measure(int port, int clients, std::chrono::milliseconds span)
{
    const std::string login = "_%REQ_LIN%_" + Field("demo01", 20) + Field("demo-pass-01", 20) + Field("kesmor", 6) +
                              std::string(4, '\0');
    std::mutex lock;
    std::vector<double> latencies;
    std::atomic<bool> failed{false};
    const Clock::time_point end = Clock::now() + span;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            std::vector<double> mine;
            while (Clock::now() < end && mine.size() < 100000) {
                const Clock::time_point start = Clock::now();
                const auto reply = client.Post("/agent", login, "application/octet-stream");
                if (!reply || reply->body.compare(0, 5, "40000") != 0) {
                    failed = true;
                    break;
                }
                mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
            std::lock_guard<std::mutex> guard(lock);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    }
    for (std::thread& t : threads)
        t.join();
    if (failed || latencies.empty()) {
        fprintf(stderr, "a login failed with %d clients\n", clients);
        exit(1);
    }
    std::sort(latencies.begin(), latencies.end());
    const double seconds = std::chrono::duration<double>(span).count();
    return Row{clients, latencies.size() / seconds, latencies[latencies.size() / 2],
               latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)]};
}

} // namespace

int main()
{
    char folder[] = "/tmp/vlpolicyd-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return 1;
    int status = 0;
    {
        vlpolicy::CPolicyStore store(std::string(folder) + "/policy.db");
        vlpolicy::CPolicyServer server(store, "/agent", nullptr);
        const int port = server.Bind("127.0.0.1", 0);
        std::thread serving([&] { server.Serve(); });
        std::vector<Row> rows;
        for (const int clients : {1, 4, 16})
            rows.push_back(Measure(port, clients, std::chrono::milliseconds(3000)));
        server.Stop();
        serving.join();
        printf("%-8s %12s %10s %10s %12s\n", "clients", "logins/s", "p50 ms", "p99 ms", "vs 1 client");
        for (const Row& row : rows)
            printf("%-8d %12.1f %10.2f %10.2f %12.2f\n", row.clients, row.perSecond, row.p50Ms, row.p99Ms,
                   row.perSecond / rows[0].perSecond);
    }
    std::filesystem::remove_all(folder);
    return status;
}
