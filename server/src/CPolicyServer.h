// CPolicyServer.h - the HTTP side of vlpolicyd: every exchange is a POST to one path.
//
// POST to the path: a body that begins with a signal tag is a binary signal record; otherwise a
// form (Content-Type application/x-www-form-urlencoded) is a web login and anything else a
// malformed record. Every request is read whole within HttpLimits before it is routed (a body
// over 64 KiB is answered 413, one without Content-Length 411: see CPeerConnection). GET of the path
// says what the server is; GET /login serves a login form for a person that posts the agent's own
// form to the path. /admin is the administrators' console (CAdminConsole). GET /healthz answers 200
// when the store answers a trivial read and 503 otherwise (for a load balancer's checks); GET
// /metrics the counts of CServerMetrics in Prometheus' text format. Everything else is 404. Connections are kept alive across requests. One line per exchange goes to the log
// stream and into the store's exchange log (never a password); an unexpected error's detail goes
// to the log stream only, the client gets a plain 500 (an agent, its store-failure status).
#pragma once

#include <stdio.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "CAdminConsole.h"
#include "CAgentService.h"
#include "CPolicyStore.h"
#include "CServerMetrics.h"
#include "CTrustedProxies.h"
#include "HttpLimits.h"

namespace httplib {
class Server;
struct Request;
} // namespace httplib

namespace vlpolicy {

class IListenControl;

class CPolicyServer
{
public:
    // path: "/" followed by letters, digits and "/-_.~", apart from /login, /admin, /healthz and /metrics; log: where exchange lines go (may be null).
    // With a certificate file (PEM, the server's certificate and then its chain) and its key file
    // the server speaks HTTPS only; without them plain HTTP.
    CPolicyServer(CPolicyStore& store, const std::string& path, FILE* log, const std::string& certificateFile = "",
                  const std::string& keyFile = "", const HttpLimits& limits = HttpLimits());
    ~CPolicyServer();
    CPolicyServer(const CPolicyServer&) = delete;
    CPolicyServer& operator=(const CPolicyServer&) = delete;

    // True when path is acceptable for the constructor.
    static bool IsValidPath(const std::string& path);
    // False when the certificate or key could not be loaded (the server cannot serve then).
    bool IsValid() const;

    // Binds host and port (0: a free port) and listens with the limits' backlog. Returns the bound
    // port, or -1.
    int Bind(const std::string& host, int port);
    // The listen backlog the kernel keeps for the bound socket (after its cap), or -1.
    int ListenBacklog() const;
    // Serves until Stop(); false when the server could not run.
    bool Serve();
    // Ends Serve from any thread.
    void Stop();
    // The clock of logins, lock-outs and console sessions (seconds since the epoch); the system's
    // clock unless a test sets another before serving.
    void SetClock(std::function<int64_t()> clock);
    // Peers whose X-Forwarded-For names the client of the agent's exchanges (a load balancer);
    // from any other peer its own address is the client. Set before serving.
    void SetTrustedProxies(const CTrustedProxies& proxies);
    // How long a login from an address answers for its user's requests (CAgentService).
    void SetLoginMemory(int64_t seconds);

private:
    // The client address of an agent's exchange, as logins are remembered by.
    std::string ClientAddress(const httplib::Request& req) const;
    void Record(const std::string& client, const ExchangeResult& result);
    // One line, after the time, to the log stream.
    void LogLine(const std::string& text);
    void LogError(const httplib::Request& req, std::exception_ptr error);

    CPolicyStore& m_store;
    CServerMetrics m_metrics;
    CAgentService m_service;
    CTrustedProxies m_proxies;
    std::string m_path;
    FILE* m_pLog;
    const HttpLimits m_limits;
    std::mutex m_logMutex;
    std::function<int64_t()> m_clock;
    CAdminConsole m_console;
    std::unique_ptr<httplib::Server> m_pServer;
    IListenControl* m_pListen = nullptr; // the same server
    enum { kIdle, kServing, kServed };
    std::atomic<int> m_nServeState{kIdle};
    std::atomic<bool> m_bStopRequested{false};
};

} // namespace vlpolicy
