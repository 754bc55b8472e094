#include "CAdminConsole.h"

#include <httplib.h>

#include <exception>
#include <map>
#include <utility>
#include <vector>

#include "WireFormat.h"

namespace vlpolicy {

namespace {

constexpr char kSignInPath[] = "/admin/signin";
constexpr char kStyle[] =
    "body{font-family:sans-serif;margin:0;color:#222}"
    "header{background:#24466b;color:#fff;padding:.5em 1em;display:flex;gap:1.5em;align-items:center}"
    "header a{color:#fff}header form{margin-left:auto}main{padding:0 1em 1em}"
    "table{border-collapse:collapse;margin:.5em 0}th,td{border:1px solid #bbb;padding:.25em .5em;"
    "text-align:left;vertical-align:top}th{background:#eef}td.history{background:#f8f8f8;font-size:90%}"
    ".notice{background:#e6f4e6;border:1px solid #7a7;padding:.5em}"
    ".error{background:#fbe9e9;border:1px solid #c77;padding:.5em}"
    "label{display:inline-block;margin:.25em 0}";
// No page of the console runs a script; a value that escaped escaping could not run either.
constexpr char kSecurityPolicy[] = "default-src 'none'; style-src 'unsafe-inline'; img-src 'self'; "
                                   "form-action 'self'; frame-ancestors 'none'; base-uri 'none'";

std::string Escape(const std::string& text)
{
    return HtmlEscape(Printable(text));
}

// The page around content, with the navigation and the sign-out form when signed in.
std::string Page(const std::string& title, const std::string& content, const AdminSession* session)
{
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\"><title>" +
                       HtmlEscape(title) + " - vlpolicyd console</title><style>" + kStyle +
                       "</style></head><body>\n<header><strong>vlpolicyd console</strong>";
    if (session != nullptr) {
        page += "<nav><a href=\"/admin/\">Pending take-outs</a> | <a href=\"/admin/takeouts\">All take-outs</a> | "
                "<a href=\"/admin/users\">Users</a> | <a href=\"/admin/log\">Exchange log</a></nav>"
                "<form method=\"post\" action=\"/admin/signout\"><input type=\"hidden\" name=\"token\" value=\"" +
                HtmlEscape(session->token) + "\">Signed in as " + Escape(session->name) +
                " <button type=\"submit\">Sign out</button></form>";
    }
    page += "</header>\n<main>\n<h1>" + HtmlEscape(title) + "</h1>\n" + content + "</main>\n</body></html>\n";
    return page;
}

void SetPage(httplib::Response& res, int status, const std::string& page)
{
    res.status = status;
    res.set_header("Content-Security-Policy", kSecurityPolicy);
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Cache-Control", "no-store");
    // No address leaves for other sites; the console's own POSTs still name their origin (under
    // "no-referrer" a browser sends "Origin: null", which FromThisOrigin refuses).
    res.set_header("Referrer-Policy", "same-origin");
    res.set_content(page, "text/html; charset=utf-8");
}

void Redirect(httplib::Response& res, const std::string& location)
{
    res.status = 303;
    res.set_header("Location", location);
    res.set_header("Cache-Control", "no-store");
}

std::string CookieValue(const httplib::Request& req, const std::string& name)
{
    const std::string header = req.get_header_value("Cookie");
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos)
            end = header.size();
        size_t begin = header.find_first_not_of(' ', at);
        if (begin < end) {
            const std::string pair = header.substr(begin, end - begin);
            const size_t equals = pair.find('=');
            if (equals != std::string::npos && pair.compare(0, equals, name) == 0 && equals == name.size())
                return pair.substr(equals + 1);
        }
        at = end + 1;
    }
    return std::string();
}

// The form fields of a POST body; empty when it cannot be read.
std::map<std::string, std::string> FormFields(const std::string& body)
{
    std::vector<std::pair<std::string, std::string>> fields;
    std::map<std::string, std::string> map;
    if (DecodeForm(body.data(), body.size(), fields))
        for (auto& field : fields)
            map.emplace(std::move(field.first), std::move(field.second));
    return map;
}

std::string Field(const std::map<std::string, std::string>& fields, const char* name)
{
    const auto found = fields.find(name);
    return found == fields.end() ? std::string() : found->second;
}

std::string TokenInput(const AdminSession& session)
{
    return "<input type=\"hidden\" name=\"token\" value=\"" + HtmlEscape(session.token) + "\">";
}

std::string StatusWords(int status)
{
    switch (status) {
    case kStatusOk: return "done";
    case kStatusBadLogin: return "unknown user or wrong password";
    case kStatusLocked: return "locked";
    case kStatusMalformed: return "malformed request";
    case kStatusStoreFailed: return "store failure";
    case kStatusNotFound: return "not found";
    default: return "";
    }
}

// What a change just did, from the query of the page it redirected to; only known words show.
std::string Notice(const httplib::Request& req)
{
    static const std::map<std::string, std::pair<const char*, bool>> kDone = {
        {"approved", {"Approved take-out ", false}}, {"refused", {"Refused take-out ", false}},
        {"unlocked", {"Unlocked ", false}},          {"unknown", {"No such take-out or user: ", true}},
        {"notopen", {"No longer open to a decision: take-out ", true}},
    };
    const auto done = kDone.find(req.get_param_value("done"));
    if (done == kDone.end())
        return std::string();
    return std::string("<p class=\"") + (done->second.second ? "error" : "notice") + "\" id=\"notice\">" +
           done->second.first + Escape(req.get_param_value("item")) + ".</p>\n";
}

std::string SignInPage(const std::string& message)
{
    std::string content;
    if (!message.empty())
        content += "<p class=\"error\" id=\"notice\">" + HtmlEscape(message) + "</p>\n";
    content += "<form method=\"post\" action=\"/admin/signin\">\n"
               "<p><label for=\"name\">Administrator</label><br><input id=\"name\" name=\"name\" "
               "autocomplete=\"username\" required autofocus></p>\n"
               "<p><label for=\"password\">Password</label><br><input id=\"password\" name=\"password\" "
               "type=\"password\" autocomplete=\"current-password\" required></p>\n"
               "<p><button type=\"submit\">Sign in</button></p>\n</form>\n";
    return Page("Sign in", content, nullptr);
}

} // namespace

CAdminConsole::CAdminConsole(CPolicyStore& store, bool secure, Clock clock, Recorder record)
    : m_store(store), m_bSecure(secure), m_clock(std::move(clock)), m_record(std::move(record)), m_sessions(store)
{
}

std::optional<AdminSession> CAdminConsole::SessionOf(const httplib::Request& req)
{
    const std::string id = CookieValue(req, kCookieName);
    if (id.empty())
        return std::nullopt;
    std::optional<AdminSession> session = m_sessions.Use(id, m_clock());
    // A removed administrator's sessions end with the account.
    if (session && !m_store.AdminExists(session->name)) {
        m_sessions.Close(id);
        return std::nullopt;
    }
    return session;
}

void CAdminConsole::ServePage(const httplib::Request& req, httplib::Response& res,
                              const std::function<std::string(const AdminSession&)>& content)
{
    try {
        const std::optional<AdminSession> session = SessionOf(req);
        if (!session) {
            Redirect(res, kSignInPath);
            return;
        }
        SetPage(res, 200, content(*session));
    } catch (const std::exception&) {
        SetPage(res, 500, Page("Store failure", "<p class=\"error\">The store is unreachable or could not answer; try again.</p>\n",
                               nullptr));
    }
}

bool CAdminConsole::FromThisOrigin(const httplib::Request& req) const
{
    // Browsers name the page a POST comes from; one from another site is refused, the sign-in too
    // (a page elsewhere could otherwise sign a browser into an account of its choosing).
    if (!req.has_header("Origin"))
        return true;
    return req.get_header_value("Origin") == std::string(m_bSecure ? "https://" : "http://") + req.get_header_value("Host");
}

void CAdminConsole::ServeChange(const httplib::Request& req, httplib::Response& res,
                                const std::function<void(const AdminSession&, const std::string& body)>& action)
{
    try {
        const std::optional<AdminSession> session = SessionOf(req);
        const std::map<std::string, std::string> fields = FormFields(req.body);
        if (!session || !FromThisOrigin(req) || !CAdminSessions::SameToken(Field(fields, "token"), session->token)) {
            SetPage(res, 403,
                    Page("Refused", "<p class=\"error\">This request carries no valid session token; nothing was "
                                    "changed. <a href=\"/admin/\">Back to the console</a></p>\n",
                         nullptr));
            return;
        }
        action(*session, req.body);
    } catch (const std::exception&) {
        SetPage(res, 500, Page("Store failure", "<p class=\"error\">The store is unreachable or could not answer; try again.</p>\n",
                               nullptr));
    }
}

void CAdminConsole::SignIn(const httplib::Request& req, httplib::Response& res)
{
    if (!FromThisOrigin(req)) {
        SetPage(res, 403, SignInPage("Not signed in: the form came from another site."));
        return;
    }
    const std::map<std::string, std::string> fields = FormFields(req.body);
    const std::string name = Field(fields, "name");
    const std::string password = Field(fields, "password");
    const int64_t now = m_clock();
    ExchangeResult result;
    result.kind = "admin-signin";
    result.userID = name;
    try {
        result.status = name.empty() || password.empty() ? kStatusMalformed : m_store.AdminLogin(name, password, now);
    } catch (const std::exception&) {
        result.status = kStatusStoreFailed;
    }
    m_record(req.remote_addr, result);
    if (result.status == kStatusOk) {
        const std::string id = m_sessions.Open(name, now);
        res.set_header("Set-Cookie", std::string(kCookieName) + "=" + id + "; Path=/admin; HttpOnly; SameSite=Strict" +
                                         (m_bSecure ? "; Secure" : ""));
        Redirect(res, "/admin/");
        return;
    }
    std::string message = "Not signed in: unknown administrator or wrong password.";
    if (result.status == kStatusLocked) {
        message = "Not signed in: the account is locked after too many failed sign-ins";
        for (const AdminEntry& admin : m_store.ListAdmins())
            if (admin.name == name && admin.lockedUntil > now)
                message += " until " + CPolicyStore::FormatTime(admin.lockedUntil);
        message += ".";
    } else if (result.status == kStatusMalformed) {
        message = "Not signed in: give a name and a password.";
    } else if (result.status == kStatusStoreFailed) {
        message = "Not signed in: the store is unreachable or could not answer; try again.";
    }
    SetPage(res, 401, SignInPage(message));
}

void CAdminConsole::Register(httplib::Server& server)
{
    server.Get(kSignInPath, [this](const httplib::Request& req, httplib::Response& res) {
        if (SessionOf(req))
            Redirect(res, "/admin/");
        else
            SetPage(res, 200, SignInPage(""));
    });
    server.Post(kSignInPath, [this](const httplib::Request& req, httplib::Response& res) { SignIn(req, res); });
    server.Post("/admin/signout", [this](const httplib::Request& req, httplib::Response& res) {
        ServeChange(req, res, [&](const AdminSession&, const std::string&) {
            m_sessions.Close(CookieValue(req, kCookieName));
            res.set_header("Set-Cookie", std::string(kCookieName) + "=; Path=/admin; Max-Age=0; HttpOnly; "
                                                                    "SameSite=Strict" +
                                             (m_bSecure ? "; Secure" : ""));
            Redirect(res, kSignInPath);
        });
    });
    server.Get("/admin", [](const httplib::Request&, httplib::Response& res) { Redirect(res, "/admin/"); });
    server.Get("/admin/", [this](const httplib::Request& req, httplib::Response& res) {
        ServePage(req, res, [&](const AdminSession& session) { return PendingPage(req, session); });
    });
    server.Get("/admin/takeouts", [this](const httplib::Request& req, httplib::Response& res) {
        ServePage(req, res, [&](const AdminSession& session) { return TakeOutsPage(session); });
    });
    server.Get("/admin/users", [this](const httplib::Request& req, httplib::Response& res) {
        ServePage(req, res, [&](const AdminSession& session) { return UsersPage(req, session); });
    });
    server.Get("/admin/log", [this](const httplib::Request& req, httplib::Response& res) {
        ServePage(req, res, [&](const AdminSession& session) { return LogPage(session); });
    });
    server.Post("/admin/takeouts/decide", [this](const httplib::Request& req, httplib::Response& res) {
        ServeChange(req, res, [&](const AdminSession& session, const std::string& body) {
            const std::map<std::string, std::string> fields = FormFields(body);
            const std::string key = Field(fields, "key");
            const std::string decision = Field(fields, "decision");
            const std::string comment = Field(fields, "comment");
            const std::string actor = "admin:" + session.name;
            DecisionResult result;
            if (decision == "approve")
                result = m_store.Approve(key, "", "", m_clock(), comment, actor);
            else if (decision == "refuse")
                result = m_store.Refuse(key, m_clock(), comment, actor);
            else {
                SetPage(res, 400, Page("Refused", "<p class=\"error\">Unknown decision.</p>\n", &session));
                return;
            }
            const char* done = result == DecisionResult::Done       ? (decision == "approve" ? "approved" : "refused")
                               : result == DecisionResult::NotOpen ? "notopen"
                                                                   : "unknown";
            Redirect(res, "/admin/?done=" + std::string(done) + "&item=" + httplib::detail::encode_query_param(key));
        });
    });
    server.Post("/admin/users/unlock", [this](const httplib::Request& req, httplib::Response& res) {
        ServeChange(req, res, [&](const AdminSession&, const std::string& body) {
            const std::string userID = Field(FormFields(body), "user");
            const bool unlocked = m_store.UnlockUser(userID);
            Redirect(res, std::string("/admin/users?done=") + (unlocked ? "unlocked" : "unknown") +
                              "&item=" + httplib::detail::encode_query_param(userID));
        });
    });
    // Anything else under /admin: the sign-in page first, then not found.
    server.Get(R"(/admin/.*)", [this](const httplib::Request& req, httplib::Response& res) {
        ServePage(req, res,
                  [](const AdminSession& session) { return Page("Not found", "<p>No such page.</p>\n", &session); });
        if (res.status == 200) // a signed-in administrator gets the page with its true status
            res.status = 404;
    });
    server.Post(R"(/admin/.*)", [this](const httplib::Request& req, httplib::Response& res) {
        ServeChange(req, res, [&](const AdminSession& session, const std::string&) {
            SetPage(res, 404, Page("Not found", "<p>No such action.</p>\n", &session));
        });
    });
}

std::string CAdminConsole::PendingPage(const httplib::Request& req, const AdminSession& session)
{
    std::string rows;
    for (const TakeOutRequest& request : m_store.ListTakeOuts()) {
        if (request.state != TAKEOUT_REQUESTED)
            continue;
        const std::string key = Escape(request.key);
        rows += "<tr id=\"takeout-" + key + "\"><td>" + Escape(request.userID) + "</td><td>" +
                Escape(request.requestedStart) + " to " + Escape(request.requestedEnd) + "</td><td>" +
                Escape(request.reason) + "</td><td>" + Escape(request.updatedAt) + "</td><td><code>" + key +
                "</code></td><td><form method=\"post\" action=\"/admin/takeouts/decide\">" + TokenInput(session) +
                "<input type=\"hidden\" name=\"key\" value=\"" + key + "\"><label>Comment <input name=\"comment\" "
                "maxlength=\"200\"></label> <button type=\"submit\" name=\"decision\" value=\"approve\">Approve"
                "</button> <button type=\"submit\" name=\"decision\" value=\"refuse\">Refuse</button></form></td></tr>\n";
    }
    std::string content = Notice(req);
    if (rows.empty())
        content += "<p id=\"empty\">No take-out request waits for a decision.</p>\n";
    else
        content += "<p>Approving gives the requested dates; the agent reads the decision at its next reference.</p>\n"
                   "<table id=\"pending\"><tr><th>User</th><th>Dates</th><th>Reason</th><th>Requested at</th>"
                   "<th>Key</th><th>Decision</th></tr>\n" +
                   rows + "</table>\n";
    return Page("Pending take-outs", content, &session);
}

std::string CAdminConsole::TakeOutsPage(const AdminSession& session)
{
    std::map<std::string, std::string> histories;
    for (const TakeOutEvent& event : m_store.TakeOutHistory()) {
        std::string line = Escape(event.at) + " " + TakeOutStateName(event.state);
        if (!event.start.empty())
            line += " " + Escape(event.start) + " to " + Escape(event.end);
        line += " by " + Escape(event.actor);
        if (!event.text.empty())
            line += ": " + Escape(event.text);
        histories[event.key] += "<li>" + line + "</li>";
    }
    std::string rows;
    const std::vector<TakeOutRequest> list = m_store.ListTakeOuts();
    for (auto it = list.rbegin(); it != list.rend(); ++it) { // newest first
        const TakeOutRequest& request = *it;
        const std::string key = Escape(request.key);
        rows += "<tr id=\"takeout-" + key + "\"><td>" + Escape(request.userID) + "</td><td class=\"state\">" +
                TakeOutStateName(request.state) + "</td><td>" + Escape(request.requestedStart) + " to " +
                Escape(request.requestedEnd) + "</td><td>" +
                (request.approvedStart.empty() ? "-" : Escape(request.approvedStart) + " to " +
                                                           Escape(request.approvedEnd)) +
                "</td><td>" + Escape(request.reason) + "</td><td><code>" + key + "</code></td></tr>\n"
                "<tr><td colspan=\"6\" class=\"history\"><ul>" + histories[request.key] + "</ul></td></tr>\n";
    }
    const std::string content =
        rows.empty() ? "<p id=\"empty\">No take-out request yet.</p>\n"
                     : "<table id=\"takeouts\"><tr><th>User</th><th>State</th><th>Requested</th><th>Approved</th>"
                       "<th>Reason</th><th>Key</th></tr>\n" + rows + "</table>\n";
    return Page("All take-outs", content, &session);
}

std::string CAdminConsole::UsersPage(const httplib::Request& req, const AdminSession& session)
{
    const int64_t now = m_clock();
    std::string rows;
    for (const UserEntry& user : m_store.ListUsers()) {
        const bool locked = user.lockedUntil > now;
        const std::string id = Escape(user.userID);
        rows += "<tr id=\"user-" + id + "\"><td>" + id + "</td><td>" + Escape(user.companyID) + "</td><td>" +
                Escape(user.groupID) + "</td><td>" + Escape(user.positionID) + "</td><td class=\"state\">" +
                (locked ? "locked until " + CPolicyStore::FormatTime(user.lockedUntil)
                        : "open, " + std::to_string(user.failedLogins) + " failed logins") +
                "</td><td>";
        if (locked || user.failedLogins > 0)
            rows += "<form method=\"post\" action=\"/admin/users/unlock\">" + TokenInput(session) +
                    "<input type=\"hidden\" name=\"user\" value=\"" + id +
                    "\"><button type=\"submit\">Unlock</button></form>";
        rows += "</td></tr>\n";
    }
    return Page("Users",
                Notice(req) + "<table id=\"users\"><tr><th>User</th><th>Company</th><th>Group</th><th>Position</th>"
                              "<th>State</th><th></th></tr>\n" + rows + "</table>\n",
                &session);
}

std::string CAdminConsole::LogPage(const AdminSession& session)
{
    constexpr int kShown = 100;
    std::string rows;
    const std::vector<ExchangeEntry> entries = m_store.LastExchanges(kShown);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) // newest first
        rows += "<tr><td>" + Escape(it->at) + "</td><td>" + Escape(it->client) + "</td><td>" + Escape(it->kind) +
                "</td><td>" + (it->userID.empty() ? "-" : Escape(it->userID)) + "</td><td>" +
                std::to_string(it->status) + " " + StatusWords(it->status) + "</td></tr>\n";
    return Page("Exchange log",
                "<p>The last " + std::to_string(kShown) + " exchanges, newest first.</p>\n"
                "<table id=\"log\"><tr><th>At</th><th>Client</th><th>Exchange</th><th>User</th><th>Status</th></tr>\n" +
                    rows + "</table>\n",
                &session);
}

} // namespace vlpolicy
