#include "CPolicyServer.h"

#include <chrono>
#include <thread>

#include <httplib.h>
#include <strings.h>
#include <time.h>

#include <algorithm>
#include <exception>

#include "CBoundedServer.h"
#include "WireFormat.h"

namespace vlpolicy {

namespace {

constexpr char kFormType[] = "application/x-www-form-urlencoded";
constexpr char kHealthPath[] = "/healthz";
constexpr char kMetricsPath[] = "/metrics";

std::string RegexEscape(const std::string& path)
{
    std::string escaped;
    for (char c : path) {
        if (c == '.')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// The page the agent opens for a person to log in: it posts the agent's own login form to the
// path, and the reply page says the outcome in words. No script, no file from elsewhere.
std::string LoginFormPage(const std::string& path)
{
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width\"><title>vlpolicyd login</title>"
           "<style>body{font-family:sans-serif;margin:2em}label{display:inline-block;min-width:6em}</style>"
           "</head><body>\n<h1>vlpolicyd login</h1>\n<form method=\"post\" action=\"" +
           path +
           "\" enctype=\"application/x-www-form-urlencoded\">\n"
           "<p><label for=\"user-id\">User ID</label> <input id=\"user-id\" name=\"USER_ID\" maxlength=\"20\" "
           "autocomplete=\"username\" required autofocus></p>\n"
           "<p><label for=\"password\">Password</label> <input id=\"password\" name=\"USER_PWD\" type=\"password\" "
           "maxlength=\"20\" autocomplete=\"current-password\" required></p>\n"
           "<p><button type=\"submit\">Log in</button></p>\n</form>\n</body></html>\n";
}

// The pages for people run no script and take nothing from elsewhere.
constexpr char kPageSecurityPolicy[] =
    "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'";

} // namespace

CPolicyServer::CPolicyServer(CPolicyStore& store, const std::string& path, FILE* log,
                             const std::string& certificateFile, const std::string& keyFile, const HttpLimits& limits)
    : m_store(store), m_service(store), m_path(path), m_pLog(log), m_limits(limits),
      m_clock([] { return static_cast<int64_t>(time(nullptr)); }),
      m_console(store, !certificateFile.empty(), [this] { return m_clock(); },
                [this](const std::string& client, const ExchangeResult& result) { Record(client, result); })
{
    // Requests refused before the library sees them: one line in the log stream (not in the
    // store's exchange log, which a flood of them would only fill).
    auto refusals = [this](const std::string& peer, int status) {
        LogLine(peer + " http-refused - " + std::to_string(status));
    };
    if (certificateFile.empty()) {
        auto server = std::make_unique<CBoundedServer<httplib::Server>>(m_limits, refusals);
        m_pListen = server.get();
        m_pServer = std::move(server);
    } else {
        auto server = std::make_unique<CBoundedServer<httplib::SSLServer>>(m_limits, refusals, certificateFile.c_str(),
                                                                           keyFile.c_str());
        m_pListen = server.get();
        m_pServer = std::move(server);
    }
    httplib::Server& server = *m_pServer;
    const size_t workers = m_limits.workers;
    server.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    // A reply goes out in two writes (head, body); without this the body waits for the client's
    // delayed acknowledgement of the head, about 40 ms per exchange.
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(m_limits.bodyBytes);
    const std::string pattern = RegexEscape(m_path);

    server.Post(pattern, [this](const httplib::Request& req, httplib::Response& res,
                                const httplib::ContentReader& reader) {
        std::string body;
        bool malformed = false;
        auto receive = [&body, &malformed](const char* data, size_t size) {
            if (body.size() + size > kMaxBodySize)
                malformed = true; // keep reading, keep nothing more
            else
                body.append(data, size);
            return true;
        };
        bool received;
        if (req.is_multipart_form_data()) {
            malformed = true;
            received = reader([](const httplib::MultipartFormData&) { return true; },
                              [](const char*, size_t) { return true; });
        } else {
            received = reader(receive);
        }
        const std::string type = req.get_header_value("Content-Type");
        // A signal record is known by its tag; a login form by its content type.
        const bool form = strncasecmp(type.c_str(), kFormType, sizeof(kFormType) - 1) == 0 &&
                          !StartsWithSignalTag(body.data(), body.size());
        const auto started = std::chrono::steady_clock::now();
        const int64_t now = m_clock();
        const std::string client = ClientAddress(req);
        ExchangeResult result;
        try {
            if (!received || malformed) {
                result.kind = form ? "web-login" : "malformed";
                result.status = kStatusMalformed;
                result.body = form ? EncodeWebLoginPage(result.status, nullptr) : EncodeStatus(result.status);
            } else if (form) {
                result = m_service.HandleWebLogin(body.data(), body.size(), client, now);
            } else {
                result = m_service.HandleBinary(body.data(), body.size(), client, now);
            }
        } catch (...) {
            LogError(req, std::current_exception());
            m_metrics.CountStoreError();
            result.kind = form ? "web-login" : "store-failure";
            result.status = kStatusStoreFailed;
            result.body = form ? EncodeWebLoginPage(result.status, nullptr) : EncodeStatus(result.status);
        }
        res.status = 200;
        if (form)
            res.set_header("Content-Security-Policy", kPageSecurityPolicy);
        res.set_content(result.body, form ? "text/html; charset=utf-8" : "application/octet-stream");
        if (result.kind == "login" || result.kind == "web-login")
            m_metrics.ObserveLogin(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        Record(client, result);
    });

    server.Get(pattern, [](const httplib::Request&, httplib::Response& res) {
        res.set_content("vlpolicyd: the reference policy server of the VLAgtClient login module.\n"
                        "Agents POST their signal records and login forms to this path.\n",
                        "text/plain");
    });
    server.Get("/login", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Security-Policy", kPageSecurityPolicy);
        res.set_content(LoginFormPage(m_path), "text/html; charset=utf-8");
    });
    // For load balancers and monitoring: cheap, no password checked, nothing secret shown.
    server.Get(kHealthPath, [this](const httplib::Request&, httplib::Response& res) {
        const bool up = m_store.Ping();
        res.status = up ? 200 : 503;
        res.set_header("Cache-Control", "no-store");
        res.set_content(up ? "ok\n" : "store unreachable\n", "text/plain");
    });
    server.Get(kMetricsPath, [this](const httplib::Request&, httplib::Response& res) {
        StoreCounts counts;
        counts.passwordChecks = m_store.PasswordChecks();
        counts.userLockouts = m_store.Lockouts(false);
        counts.adminLockouts = m_store.Lockouts(true);
        counts.up = m_store.Ping();
        counts.reconnects = m_store.Reconnects();
        res.set_header("Cache-Control", "no-store");
        res.set_content(m_metrics.Render(counts), "text/plain; version=0.0.4; charset=utf-8");
    });
    m_console.Register(server);
    // An error that escapes a handler: its detail goes to the log, the client gets a plain 500
    // (an agent, its store-failure status), never the error's text.
    server.set_exception_handler([this](const httplib::Request& req, httplib::Response& res, std::exception_ptr error) {
        LogError(req, error);
        res.headers.clear();
        if (req.method == "POST" && req.path == m_path) {
            res.status = 200;
            res.set_content(EncodeStatus(kStatusStoreFailed), "application/octet-stream");
        } else {
            res.status = 500;
            res.set_content("internal error\n", "text/plain");
        }
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(res.status == 404   ? "not found\n"
                            : res.status >= 500 ? "internal error\n"
                                                : "bad request\n",
                            "text/plain");
    });
    // The library names an error it caught itself in a reply header: never sent.
    server.set_post_routing_handler(
        [](const httplib::Request&, httplib::Response& res) { res.headers.erase("EXCEPTION_WHAT"); });
}

CPolicyServer::~CPolicyServer() = default;

bool CPolicyServer::IsValid() const
{
    return m_pServer->is_valid();
}

bool CPolicyServer::IsValidPath(const std::string& path)
{
    if (path.empty() || path[0] != '/' || path.size() > 200)
        return false;
    // The pages for people have these paths.
    if (path == "/login" || path.compare(0, 6, "/admin") == 0 || path == kHealthPath || path == kMetricsPath)
        return false;
    for (char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!plain && c != '/' && c != '-' && c != '_' && c != '.' && c != '~')
            return false;
    }
    return true;
}

int CPolicyServer::Bind(const std::string& host, int port)
{
    const int bound = port == 0 ? m_pServer->bind_to_any_port(host) : m_pServer->bind_to_port(host, port) ? port : -1;
    if (bound > 0 && !m_pListen->SetListenBacklog(m_limits.listenBacklog))
        return -1;
    return bound;
}

int CPolicyServer::ListenBacklog() const
{
    return m_pListen->ListenBacklog();
}

bool CPolicyServer::Serve()
{
    m_nServeState = kServing;
    bool served = true;
    if (!m_bStopRequested)
        served = m_pServer->listen_after_bind();
    m_nServeState = kServed;
    return served;
}

void CPolicyServer::Stop()
{
    // The HTTP library's stop only ends a loop that already runs: a Stop that comes between the
    // start of Serve and the start of that loop would otherwise be lost and Serve would never end.
    m_bStopRequested = true;
    for (int waited = 0; waited < 5000 && m_nServeState == kServing && !m_pServer->is_running(); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_pServer->stop();
}

void CPolicyServer::SetClock(std::function<int64_t()> clock)
{
    m_clock = std::move(clock);
}

void CPolicyServer::SetTrustedProxies(const CTrustedProxies& proxies)
{
    m_proxies = proxies;
}

void CPolicyServer::SetLoginMemory(int64_t seconds)
{
    m_service.SetLoginMemory(seconds);
}

std::string CPolicyServer::ClientAddress(const httplib::Request& req) const
{
    if (m_proxies.Empty())
        return req.remote_addr;
    std::string forwardedFor;
    const size_t count = std::min<size_t>(req.get_header_value_count("X-Forwarded-For"), 16);
    for (size_t i = 0; i < count; ++i)
        forwardedFor += (i == 0 ? "" : ",") + req.get_header_value("X-Forwarded-For", i);
    return m_proxies.ClientOf(req.remote_addr, forwardedFor);
}

void CPolicyServer::LogLine(const std::string& text)
{
    if (m_pLog == nullptr)
        return;
    const std::string line = CPolicyStore::FormatTime(m_clock()) + " " + text + "\n";
    std::lock_guard<std::mutex> lock(m_logMutex);
    fputs(line.c_str(), m_pLog);
    fflush(m_pLog);
}

void CPolicyServer::LogError(const httplib::Request& req, std::exception_ptr error)
{
    std::string what = "unknown error";
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        what = caught.what();
    } catch (...) {
    }
    LogLine(req.remote_addr + " error " + Printable(req.method) + " " + Printable(req.path.substr(0, 200)) + ": " +
            Printable(what));
}

void CPolicyServer::Record(const std::string& client, const ExchangeResult& result)
{
    ExchangeEntry entry;
    entry.at = CPolicyStore::FormatTime(m_clock());
    entry.client = client;
    entry.kind = result.kind;
    entry.userID = Printable(result.userID);
    entry.status = result.status;
    m_metrics.CountExchange(result.kind, result.status);
    const std::string line = entry.at + " " + entry.client + " " + entry.kind + " " +
                             (entry.userID.empty() ? "-" : entry.userID) + " " + std::to_string(entry.status) + "\n";
    if (m_pLog != nullptr) {
        std::lock_guard<std::mutex> lock(m_logMutex);
        fputs(line.c_str(), m_pLog);
        fflush(m_pLog);
    }
    try {
        m_store.LogExchange(entry);
    } catch (const std::exception&) {
        // The exchange was answered; a log row that cannot be stored is not worth failing it.
    }
}

} // namespace vlpolicy
