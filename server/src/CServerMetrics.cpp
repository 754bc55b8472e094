#include "CServerMetrics.h"

#include <stdio.h>

namespace vlpolicy {

namespace {

constexpr char kSigninKind[] = "admin-signin";

// A label value as Prometheus reads it; kinds are our own words, but nothing is taken on trust.
std::string LabelValue(const std::string& text)
{
    std::string out;
    for (char c : text.substr(0, 64)) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string Number(double value)
{
    char text[32];
    snprintf(text, sizeof(text), "%.6g", value);
    return text;
}

} // namespace

void CServerMetrics::CountExchange(const std::string& kind, int status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Kinds and statuses are few; the map stays small.
    ++m_exchanges[{kind, status}];
}

void CServerMetrics::ObserveLogin(double seconds)
{
    size_t bucket = 0;
    while (bucket < kLoginBuckets.size() && seconds > kLoginBuckets[bucket])
        ++bucket;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_loginBuckets[bucket];
    m_loginSeconds += seconds;
    ++m_nLogins;
}

std::string CServerMetrics::Render(const StoreCounts& store) const
{
    std::string out;
    std::lock_guard<std::mutex> lock(m_mutex);
    out += "# HELP vlpolicyd_exchanges_total Exchanges answered, by kind and the status answered.\n"
           "# TYPE vlpolicyd_exchanges_total counter\n";
    for (const auto& [key, count] : m_exchanges)
        out += "vlpolicyd_exchanges_total{kind=\"" + LabelValue(key.first) + "\",outcome=\"" +
               std::to_string(key.second) + "\"} " + std::to_string(count) + "\n";
    out += "# HELP vlpolicyd_login_seconds Time from a login's request to its answer.\n"
           "# TYPE vlpolicyd_login_seconds histogram\n";
    int64_t cumulative = 0;
    for (size_t i = 0; i < kLoginBuckets.size(); ++i) {
        cumulative += m_loginBuckets[i];
        out += "vlpolicyd_login_seconds_bucket{le=\"" + Number(kLoginBuckets[i]) + "\"} " +
               std::to_string(cumulative) + "\n";
    }
    out += "vlpolicyd_login_seconds_bucket{le=\"+Inf\"} " + std::to_string(m_nLogins) + "\n";
    out += "vlpolicyd_login_seconds_sum " + Number(m_loginSeconds) + "\n";
    out += "vlpolicyd_login_seconds_count " + std::to_string(m_nLogins) + "\n";
    out += "# HELP vlpolicyd_console_signins_total The console's sign-ins, by the status answered.\n"
           "# TYPE vlpolicyd_console_signins_total counter\n";
    for (const auto& [key, count] : m_exchanges)
        if (key.first == kSigninKind)
            out += "vlpolicyd_console_signins_total{outcome=\"" + std::to_string(key.second) + "\"} " +
                   std::to_string(count) + "\n";
    out += "# HELP vlpolicyd_password_checks_total Passwords checked by this instance (known accounts or not).\n"
           "# TYPE vlpolicyd_password_checks_total counter\n"
           "vlpolicyd_password_checks_total " +
           std::to_string(store.passwordChecks) + "\n";
    out += "# HELP vlpolicyd_lockouts_total Accounts this instance locked after repeated failures.\n"
           "# TYPE vlpolicyd_lockouts_total counter\n"
           "vlpolicyd_lockouts_total{account=\"user\"} " +
           std::to_string(store.userLockouts) + "\nvlpolicyd_lockouts_total{account=\"admin\"} " +
           std::to_string(store.adminLockouts) + "\n";
    out += "# HELP vlpolicyd_store_errors_total Exchanges answered with the store's failure.\n"
           "# TYPE vlpolicyd_store_errors_total counter\n"
           "vlpolicyd_store_errors_total " +
           std::to_string(m_nStoreErrors.load()) + "\n";
    out += "# HELP vlpolicyd_store_reconnects_total Connections to the store opened again after a loss.\n"
           "# TYPE vlpolicyd_store_reconnects_total counter\n"
           "vlpolicyd_store_reconnects_total " +
           std::to_string(store.reconnects) + "\n";
    out += "# HELP vlpolicyd_store_up Whether the store answered when these metrics were read.\n"
           "# TYPE vlpolicyd_store_up gauge\n"
           "vlpolicyd_store_up " +
           std::string(store.up ? "1" : "0") + "\n";
    return out;
}

} // namespace vlpolicy
