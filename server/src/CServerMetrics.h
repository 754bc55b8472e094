// CServerMetrics.h - what GET /metrics reports, in Prometheus' text format: exchanges by kind and
// outcome (the status answered), the time logins take (a histogram), the store's errors seen by
// exchanges, and what the store counts itself (password checks, lock-outs, reconnections) and
// the console's sign-ins by outcome. Only counts and times: never a user, a password, a key or
// a policy. Safe to use from several threads.
#pragma once

#include <stdint.h>

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace vlpolicy {

// The store's own counts, read when the metrics are rendered.
struct StoreCounts
{
    int64_t passwordChecks = 0;
    int64_t userLockouts = 0;
    int64_t adminLockouts = 0;
    int64_t reconnects = 0;
    bool up = false;
};

class CServerMetrics
{
public:
    // Upper bounds of the login latency histogram, in seconds (and +Inf).
    static constexpr std::array<double, 11> kLoginBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                             0.5,   1.0,  2.5,   5.0,  10.0};

    // kind: the exchange's kind as logged ("login", "ping", "admin-signin", ...); status: its answer.
    void CountExchange(const std::string& kind, int status);
    void ObserveLogin(double seconds);
    void CountStoreError() { ++m_nStoreErrors; }

    std::string Render(const StoreCounts& store) const;

private:
    mutable std::mutex m_mutex;
    std::map<std::pair<std::string, int>, int64_t> m_exchanges;
    std::array<int64_t, kLoginBuckets.size() + 1> m_loginBuckets{}; // not cumulative; the last is +Inf
    double m_loginSeconds = 0;
    int64_t m_nLogins = 0;
    std::atomic<int64_t> m_nStoreErrors{0};
};

} // namespace vlpolicy
