// CAdminConsole.h - the administrators' pages under /admin: sign-in, the pending take-out requests
// with approve and refuse, every take-out with its history, the users with their lock state and
// unlock, and the last exchanges of the exchange log. Server-rendered HTML without scripts; every
// value is escaped, and the pages forbid scripts outright (Content-Security-Policy).
//
// Rules: without an open session every /admin page answers 303 to /admin/signin, and every POST
// other than the sign-in 403; a POST whose "token" field is not its session's token, or whose
// Origin is another site, answers 403 and changes nothing. The session cookie is HttpOnly, SameSite=Strict, limited to /admin, and Secure
// when the server speaks TLS. Decisions and unlocks are the store's own operations, the ones the
// command line uses.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>

#include "CAdminSessions.h"
#include "CAgentService.h"
#include "CPolicyStore.h"

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace vlpolicy {

class CAdminConsole
{
public:
    using Clock = std::function<int64_t()>;
    using Recorder = std::function<void(const std::string& client, const ExchangeResult& result)>;

    static constexpr char kCookieName[] = "vlpolicyd_admin";

    // clock: seconds since the epoch; record: takes one line per sign-in attempt for the log.
    CAdminConsole(CPolicyStore& store, bool secure, Clock clock, Recorder record);

    // Adds the console's routes to server.
    void Register(httplib::Server& server);

private:
    // The session of the request's cookie, when open (and its administrator still exists).
    std::optional<AdminSession> SessionOf(const httplib::Request& req);
    // Serves a page to a signed-in administrator; otherwise the redirect to the sign-in page.
    void ServePage(const httplib::Request& req, httplib::Response& res,
                   const std::function<std::string(const AdminSession&)>& content);
    // Checks session and token of a POST, then runs action (which sets the reply); else 403.
    void ServeChange(const httplib::Request& req, httplib::Response& res,
                     const std::function<void(const AdminSession&, const std::string& body)>& action);
    void SignIn(const httplib::Request& req, httplib::Response& res);
    // False when the request names an Origin other than this server's.
    bool FromThisOrigin(const httplib::Request& req) const;

    std::string PendingPage(const httplib::Request& req, const AdminSession& session);
    std::string TakeOutsPage(const AdminSession& session);
    std::string UsersPage(const httplib::Request& req, const AdminSession& session);
    std::string LogPage(const AdminSession& session);

    CPolicyStore& m_store;
    bool m_bSecure;
    Clock m_clock;
    Recorder m_record;
    CAdminSessions m_sessions;
};

} // namespace vlpolicy
