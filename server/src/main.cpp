// vlpolicyd - the reference policy server of the VLAgtClient login module, and its administration.
//
//   vlpolicyd serve [--listen HOST:PORT] [--path /PATH] [--tls-cert FILE --tls-key FILE] [--demo]
//                   [--log-keep-rows N] [--log-keep-days N] [--listen-backlog N] [--peer-connections N]
//                   [--trusted-proxy ADDRESS[/PREFIX] ...] [--login-memory HOURS]
//   vlpolicyd store init [--demo] | store copy --from STORE --to STORE
//   vlpolicyd tls init --dir DIR [--host NAME ...] [--keep-ca-key]
//   vlpolicyd user add ID [--company ID] [--group ID] [--position CODE]
//   vlpolicyd user list | user remove ID | user unlock ID
//   vlpolicyd takeout list | takeout approve KEY [--start YYYYMMDD --end YYYYMMDD]
//   vlpolicyd takeout refuse KEY | takeout cancel KEY      (approve and refuse take --comment TEXT)
//   vlpolicyd admin add NAME | admin list | admin remove NAME | admin unlock NAME
//   vlpolicyd log [--last N]
// Every command takes --db FILE (default vlpolicy.db) or --db URI (postgresql://... or
// postgres://..., a PostgreSQL database); a new store has no account unless made with --demo. Passwords never come from the command line: asked twice without echo on a terminal, one
// line of standard input otherwise. Exit codes: 0 done, 1 refused or failed, 2 usage.
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CPolicyServer.h"
#include "CPolicyStore.h"
#include "store/CStoreCopy.h"
#include "CTrustedProxies.h"
#include "TlsFiles.h"
#include "WireFormat.h"

namespace {

using vlpolicy::CPolicyServer;
using vlpolicy::CPolicyStore;

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

// A refusal or failure worth one line on stderr.
class CommandError : public std::runtime_error
{
public:
    CommandError(const std::string& message, int code) : std::runtime_error(message), m_code(code) {}
    int Code() const { return m_code; }

private:
    int m_code;
};

int64_t Now()
{
    return static_cast<int64_t>(time(nullptr));
}

// A directory text: 1 to width bytes of printable ASCII without blanks or markup characters.
void CheckName(const std::string& what, const std::string& text, size_t width)
{
    bool ok = !text.empty() && text.size() <= width;
    for (char c : text)
        ok = ok && c > 0x20 && c < 0x7f && c != '<' && c != '>' && c != '&' && c != '"' && c != '\'';
    if (!ok)
        throw CommandError(what + " must be 1 to " + std::to_string(width) +
                               " printable characters without blanks or <>&\"'",
                           kExitUsage);
}

// HOST:PORT, HOST alone, or [v6]:PORT.
void ParseListen(const std::string& text, std::string& host, int& port)
{
    std::string portText;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            throw CommandError("--listen: expected HOST:PORT, got " + text, kExitUsage);
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':')
                throw CommandError("--listen: expected HOST:PORT, got " + text, kExitUsage);
            portText = text.substr(close + 2);
        }
    } else {
        const size_t colon = text.rfind(':');
        host = text.substr(0, colon);
        if (colon != std::string::npos)
            portText = text.substr(colon + 1);
    }
    port = 8480;
    if (host.empty())
        throw CommandError("--listen: the host is missing in " + text, kExitUsage);
    if (portText.empty())
        return;
    if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(portText) > 65535)
        throw CommandError("--listen: the port must be a number from 0 to 65535, got " + portText, kExitUsage);
    port = std::stoi(portText);
}

// Who may name the client of an exchange, and for how long a login answers for its user.
struct ClientOptions
{
    std::vector<std::string> trustedProxies;
    int loginMemoryHours = static_cast<int>(vlpolicy::CAgentService::kDefaultLoginMemorySeconds / 3600);
};

// The store's name as shown: a PostgreSQL URI without its password, if it holds one.
std::string ShownStore(const std::string& db)
{
    if (!vlpolicy::IsPostgresLocator(db))
        return db;
    const size_t scheme = db.find("://") + 3;
    const size_t at = db.find('@', scheme);
    const size_t slash = db.find('/', scheme);
    if (at == std::string::npos || (slash != std::string::npos && slash < at))
        return db;
    const size_t colon = db.find(':', scheme);
    if (colon == std::string::npos || colon > at)
        return db;
    return db.substr(0, colon) + ":***" + db.substr(at);
}

int Serve(const std::string& db, const vlpolicy::StoreOptions& storeOptions, const std::string& listen,
          const std::string& path, const std::string& tlsCertificate, const std::string& tlsKey,
          const vlpolicy::HttpLimits& limits, const ClientOptions& clients)
{
    vlpolicy::CTrustedProxies proxies;
    try {
        proxies = vlpolicy::CTrustedProxies(clients.trustedProxies);
    } catch (const std::invalid_argument& error) {
        throw CommandError(std::string("--trusted-proxy: ") + error.what(), kExitUsage);
    }
    if (!CPolicyServer::IsValidPath(path))
        throw CommandError("--path must start with / and hold only letters, digits and /-_.~", kExitUsage);
    std::string host;
    int port = 0;
    ParseListen(listen, host, port);

    // SIGINT and SIGTERM are taken by one thread that stops the server; every other thread
    // (those of the HTTP library included) inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // A shell starts background jobs with SIGINT ignored; an ignored signal never reaches sigwait.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    CPolicyStore store(db, storeOptions);
    if (storeOptions.demo && !store.Created())
        fprintf(stderr, "vlpolicyd: --demo: %s exists already and is left as it is\n", ShownStore(db).c_str());
    CPolicyServer server(store, path, stderr, tlsCertificate, tlsKey, limits);
    server.SetTrustedProxies(proxies);
    server.SetLoginMemory(int64_t{clients.loginMemoryHours} * 3600);
    if (!server.IsValid())
        throw CommandError("cannot use the TLS certificate " + tlsCertificate + " with the key " + tlsKey +
                               " (unreadable, not PEM, or not a pair)",
                           kExitRefused);
    const int bound = server.Bind(host, port);
    if (bound < 0)
        throw CommandError("cannot listen on " + listen, kExitRefused);
    std::thread stopper([&server, stopSignals] {
        int signalNumber = 0;
        sigwait(&stopSignals, &signalNumber);
        server.Stop();
    });
    stopper.detach();

    const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    printf("listening on %s://%s:%d%s\n", tlsCertificate.empty() ? "http" : "https", shownHost.c_str(), bound,
           path.c_str());
    fflush(stdout);
    if (!server.Serve())
        throw CommandError("the server stopped with an error", kExitRefused);
    return 0;
}

void PrintTakeOut(const vlpolicy::TakeOutRequest& request)
{
    printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", request.key.c_str(), vlpolicy::Printable(request.userID).c_str(),
           vlpolicy::TakeOutStateName(request.state), request.requestedStart.c_str(), request.requestedEnd.c_str(),
           request.approvedStart.empty() ? "-" : request.approvedStart.c_str(),
           request.approvedEnd.empty() ? "-" : request.approvedEnd.c_str(),
           vlpolicy::Printable(request.reason).c_str());
}

// One line of standard input without its line end; false at end of input. A line longer than any
// password is refused, not kept.
bool ReadLine(std::string& line)
{
    constexpr size_t kMaxLine = 1024;
    line.clear();
    int c;
    while ((c = getchar()) != EOF && c != '\n') {
        if (line.size() == kMaxLine)
            throw CommandError("the password line is too long", kExitUsage);
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return c != EOF || !line.empty();
}

// A new password for a user or an administrator: from the terminal without echo, asked twice, or
// one line of standard input when that is not a terminal. Never from the command line or the
// environment, never printed.
std::string ReadNewPassword(const std::string& name)
{
    std::string password;
    if (!isatty(STDIN_FILENO)) {
        if (!ReadLine(password))
            throw CommandError("no password on standard input", kExitUsage);
        return password;
    }
    termios saved;
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string again;
    fprintf(stderr, "password for %s: ", name.c_str());
    const bool read = ReadLine(password);
    fprintf(stderr, "\nagain: ");
    const bool readAgain = read && ReadLine(again);
    fprintf(stderr, "\n");
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!readAgain)
        throw CommandError("no password given", kExitUsage);
    if (password != again)
        throw CommandError("the two passwords differ", kExitUsage);
    return password;
}

// A password option left for the scripts of old: hidden from the help and refused, without
// repeating the value it was given (the parser's own error would print it).
CLI::Option* AddRefusedPasswordOption(CLI::App* command, std::string& value)
{
    return command->add_option("--password", value)->group("");
}

void RefuseArgvPassword(const CLI::Option* option)
{
    if (option->count() != 0)
        throw CommandError("--password is not taken (a password in the arguments is visible to every user of "
                           "the machine): give it on standard input or at the prompt",
                           kExitUsage);
}

void CheckDecision(vlpolicy::DecisionResult result, const std::string& key)
{
    if (result == vlpolicy::DecisionResult::UnknownKey)
        throw CommandError("unknown take-out key " + key, kExitRefused);
    if (result == vlpolicy::DecisionResult::NotOpen)
        throw CommandError("take-out " + key + " is no longer open (refused or cancelled)", kExitRefused);
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"vlpolicyd: the reference policy server of the VLAgtClient login module"};
    app.require_subcommand(1);
    std::string db = "vlpolicy.db";
    std::function<int()> run;
    auto withDb = [&db](CLI::App* command) {
        command->add_option("--db", db, "the store: a SQLite file, or a PostgreSQL URI (postgresql://... or postgres://...); created "
                          "without any account when new")
            ->capture_default_str();
        return command;
    };

    // A command that does one thing to one named account; refused (exit 1) when the name is unknown.
    auto accountCommand = [&](CLI::App* parent, const char* name, const char* help, const char* argument,
                              std::string& target, bool (CPolicyStore::*operation)(const std::string&),
                              const std::string& unknown, const std::string& done) {
        CLI::App* command = withDb(parent->add_subcommand(name, help));
        command->add_option(argument, target, std::string(argument) == "ID" ? "user ID" : "name")->required();
        command->callback([&db, &run, &target, operation, unknown, done] {
            run = [&db, &target, operation, unknown, done] {
                CPolicyStore store(db);
                if (!(store.*operation)(target))
                    throw CommandError(unknown + target, kExitRefused);
                printf("%s%s\n", done.c_str(), target.c_str());
                return 0;
            };
        });
    };

    std::string listen = "127.0.0.1:8480";
    std::string path = "/agent";
    CLI::App* serve = withDb(app.add_subcommand("serve", "serve the agent's exchanges until SIGINT or SIGTERM"));
    serve->add_option("--listen", listen, "HOST:PORT to listen on; port 0 picks a free port")->capture_default_str();
    serve->add_option("--path", path, "the one path that takes every exchange")->capture_default_str();
    std::string tlsCertificate, tlsKey;
    CLI::Option* certOption =
        serve->add_option("--tls-cert", tlsCertificate, "serve HTTPS with this certificate (PEM, then its chain)");
    CLI::Option* keyOption = serve->add_option("--tls-key", tlsKey, "the certificate's private key (PEM)");
    certOption->needs(keyOption);
    keyOption->needs(certOption);
    vlpolicy::StoreOptions storeOptions;
    serve->add_flag("--demo", storeOptions.demo,
                    "a new store gets the demonstration directory (users with published passwords: for trials "
                    "and tests only)");
    serve->add_option("--log-keep-rows", storeOptions.exchangeKeepRows, "the exchange log keeps at most N rows")
        ->capture_default_str()
        ->check(CLI::Range(int64_t{1}, int64_t{1000000000}));
    serve->add_option("--log-keep-days", storeOptions.exchangeKeepDays,
                      "the exchange log drops rows older than N days")
        ->capture_default_str()
        ->check(CLI::Range(int64_t{1}, int64_t{36500}));
    ClientOptions clientOptions;
    serve->add_option("--trusted-proxy", clientOptions.trustedProxies,
                      "a load balancer's address or ADDRESS/PREFIX (repeatable): from it, X-Forwarded-For names "
                      "the client");
    serve->add_option("--login-memory", clientOptions.loginMemoryHours,
                      "hours a login from an address answers for requests naming its user")
        ->capture_default_str()
        ->check(CLI::Range(1, static_cast<int>(CPolicyStore::kClientMemoryMaxSeconds / 3600)));
    vlpolicy::HttpLimits limits;
    serve->add_option("--listen-backlog", limits.listenBacklog,
                      "connections the system queues before they are accepted; 0: the system's limit "
                      "(net.core.somaxconn), which also caps any other value")
        ->capture_default_str()
        ->check(CLI::Range(0, 1 << 20));
    serve->add_option("--peer-connections", limits.peerConnections,
                      "connections served at once for one client address (of " + std::to_string(limits.workers) +
                          " workers); more from it wait. Raise it when many agents come through one proxy address")
        ->capture_default_str()
        ->check(CLI::Range(static_cast<size_t>(1), limits.workers));
    serve->callback([&] {
        run = [&] { return Serve(db, storeOptions, listen, path, tlsCertificate, tlsKey, limits, clientOptions); };
    });

    CLI::App* storeCommand = app.add_subcommand("store", "the store itself")->require_subcommand(1);
    CLI::App* storeInit = withDb(storeCommand->add_subcommand(
        "init", "create a new store (refused when the file exists): the starting directory, no account"));
    storeInit->add_flag("--demo", storeOptions.demo,
                        "the demonstration directory instead: users demo01 and demo02 with the README's "
                        "passwords (for trials and tests only)");
    storeInit->callback([&] {
        run = [&] {
            if (!vlpolicy::IsPostgresLocator(db) && access(db.c_str(), F_OK) == 0)
                throw CommandError(db + " exists already", kExitRefused);
            CPolicyStore created(db, storeOptions);
            if (!created.Created())
                throw CommandError(ShownStore(db) + " exists already", kExitRefused);
            printf("created %s%s\n", ShownStore(db).c_str(), storeOptions.demo ? " with the demonstration directory" : "");
            return 0;
        };
    });

    std::string copyFrom, copyTo;
    CLI::App* storeCopy = storeCommand->add_subcommand(
        "copy", "copy a whole store into a new one (SQLite file or PostgreSQL URI, either way); refused when the "
                "target holds a store");
    storeCopy->add_option("--from", copyFrom, "the store to copy")->required();
    storeCopy->add_option("--to", copyTo, "the new store: a file that does not exist, or an empty database")
        ->required();
    storeCopy->callback([&] {
        run = [&] {
            std::vector<std::pair<std::string, int64_t>> counts;
            try {
                counts = vlpolicy::CStoreCopy::Copy(copyFrom, copyTo);
            } catch (const vlpolicy::CStoreError& error) {
                throw CommandError(error.what(), kExitRefused);
            }
            printf("copied %s to %s\n", ShownStore(copyFrom).c_str(), ShownStore(copyTo).c_str());
            for (const auto& [table, count] : counts)
                printf("%s\t%lld\n", table.c_str(), static_cast<long long>(count));
            return 0;
        };
    });

    CLI::App* tls = app.add_subcommand("tls", "certificates for serving HTTPS")->require_subcommand(1);
    std::string tlsDir;
    std::vector<std::string> tlsHosts;
    bool keepCaKey = false;
    CLI::App* tlsInit = tls->add_subcommand(
        "init", "write a test CA (ca.pem) limited to the hosts and a server certificate it signs (server.pem, "
                "server-key.pem); existing files are never overwritten");
    tlsInit->add_option("--dir", tlsDir, "the folder to write into")->required();
    tlsInit->add_option("--host", tlsHosts, "a name or address the server is reached by (repeatable; "
                                            "default 127.0.0.1 and localhost); the CA vouches for these only");
    tlsInit->add_flag("--keep-ca-key", keepCaKey,
                      "also write the CA's key (ca-key.pem); without it the key is forgotten once the "
                      "certificate is signed");
    tlsInit->callback([&] {
        run = [&] {
            if (tlsHosts.empty())
                tlsHosts = {"127.0.0.1", "localhost"};
            vlpolicy::TlsInitFiles files;
            try {
                files = vlpolicy::TlsInit(tlsDir, tlsHosts, keepCaKey);
            } catch (const std::runtime_error& error) {
                throw CommandError(error.what(), kExitRefused);
            }
            std::string hosts;
            for (const std::string& host : tlsHosts)
                hosts += (hosts.empty() ? "" : ", ") + host;
            printf("CA certificate   %s  (trust it on the agents' machines: vlagt trust; it vouches only for %s,"
                   " for %d days)\n",
                   files.caCertificate.c_str(), hosts.c_str(), vlpolicy::kTlsInitDays);
            if (keepCaKey)
                printf("CA key           %s  (whoever reads it can impersonate these hosts to every machine that "
                       "trusts the CA: move it off the server now)\n",
                       files.caKey.c_str());
            else
                printf("CA key           not kept: the CA can sign nothing more (--keep-ca-key keeps it)\n");
            printf("certificate      %s\n", files.certificate.c_str());
            printf("key              %s\n", files.key.c_str());
            return 0;
        };
    });

    CLI::App* user = app.add_subcommand("user", "the directory's users")->require_subcommand(1);
    std::string userID, password, company, group, position;
    CLI::App* userAdd = withDb(user->add_subcommand("add", "add a user (ACL data from the levels' defaults)"));
    userAdd->add_option("ID", userID, "user ID, at most 20 characters; the password (1 to 20 characters) is "
                                      "asked twice without echo, or read as one line of standard input")
        ->required();
    const CLI::Option* userPassword = AddRefusedPasswordOption(userAdd, password);
    userAdd->add_option("--company", company, "company ID (default: the directory's first company)");
    userAdd->add_option("--group", group, "group ID (default: the directory's staff group)");
    userAdd->add_option("--position", position, "position code")->capture_default_str();
    userAdd->callback([&] {
        run = [&] {
            RefuseArgvPassword(userPassword);
            CheckName("the user ID", userID, 20);
            password = ReadNewPassword(userID);
            if (password.empty() || password.size() > 20)
                throw CommandError("the password must be 1 to 20 characters", kExitUsage);
            CPolicyStore store(db);
            const std::string companyID = company.empty() ? store.DefaultCompany() : company;
            const std::string groupID = group.empty() ? store.DefaultGroup() : group;
            CheckName("the company ID", companyID, 20);
            CheckName("the group ID", groupID, 50);
            if (!position.empty())
                CheckName("the position code", position, 20);
            try {
                store.AddUser(userID, password, companyID, groupID, position);
            } catch (const vlpolicy::CStoreError& error) {
                throw CommandError(error.what(), kExitRefused);
            }
            printf("added %s (%s, %s)\n", userID.c_str(), companyID.c_str(), groupID.c_str());
            return 0;
        };
    });
    CLI::App* userList = withDb(user->add_subcommand("list", "list the users, one per line"));
    userList->callback([&] {
        run = [&] {
            CPolicyStore store(db);
            const int64_t now = Now();
            for (const vlpolicy::UserEntry& entry : store.ListUsers()) {
                printf("%s\t%s\t%s\t%s\t%s\n", entry.userID.c_str(), entry.companyID.c_str(), entry.groupID.c_str(),
                       entry.positionID.empty() ? "-" : entry.positionID.c_str(),
                       entry.lockedUntil > now
                           ? ("locked until " + CPolicyStore::FormatTime(entry.lockedUntil)).c_str()
                           : ("failed logins " + std::to_string(entry.failedLogins)).c_str());
            }
            return 0;
        };
    });
    accountCommand(user, "remove", "remove a user", "ID", userID, &CPolicyStore::RemoveUser, "unknown user ",
                   "removed ");
    accountCommand(user, "unlock", "lift a lock-out and clear the failed logins", "ID", userID,
                   &CPolicyStore::UnlockUser, "unknown user ", "unlocked ");

    CLI::App* admin = app.add_subcommand("admin", "the administrators of the console (/admin)")->require_subcommand(1);
    std::string adminName, adminPassword;
    CLI::App* adminAdd = withDb(admin->add_subcommand("add", "add an administrator"));
    adminAdd->add_option("NAME", adminName, "name, at most 20 characters; the password (8 to 128 characters) is "
                                            "asked twice without echo, or read as one line of standard input")
        ->required();
    const CLI::Option* adminPasswordOption = AddRefusedPasswordOption(adminAdd, adminPassword);
    adminAdd->callback([&] {
        run = [&] {
            RefuseArgvPassword(adminPasswordOption);
            CheckName("the administrator's name", adminName, 20);
            adminPassword = ReadNewPassword(adminName);
            if (adminPassword.size() < 8 || adminPassword.size() > 128)
                throw CommandError("the password must be 8 to 128 characters", kExitUsage);
            CPolicyStore store(db);
            try {
                store.AddAdmin(adminName, adminPassword);
            } catch (const vlpolicy::CStoreError& error) {
                throw CommandError(error.what(), kExitRefused);
            }
            printf("added administrator %s\n", adminName.c_str());
            return 0;
        };
    });
    CLI::App* adminList = withDb(admin->add_subcommand("list", "list the administrators, one per line"));
    adminList->callback([&] {
        run = [&] {
            CPolicyStore store(db);
            const int64_t now = Now();
            for (const vlpolicy::AdminEntry& entry : store.ListAdmins())
                printf("%s\t%s\n", entry.name.c_str(),
                       entry.lockedUntil > now
                           ? ("locked until " + CPolicyStore::FormatTime(entry.lockedUntil)).c_str()
                           : ("failed sign-ins " + std::to_string(entry.failedLogins)).c_str());
            return 0;
        };
    });
    accountCommand(admin, "remove", "remove an administrator (ends their sessions)", "NAME", adminName,
                   &CPolicyStore::RemoveAdmin, "unknown administrator ", "removed administrator ");
    accountCommand(admin, "unlock", "lift an administrator's lock-out", "NAME", adminName, &CPolicyStore::UnlockAdmin,
                   "unknown administrator ", "unlocked administrator ");

    CLI::App* takeout = app.add_subcommand("takeout", "take-out requests and their decisions")->require_subcommand(1);
    std::string key, start, end, comment;
    CLI::App* takeoutList = withDb(takeout->add_subcommand(
        "list", "one request per line: key, user, state, requested start and end, approved start and end, reason"));
    takeoutList->callback([&] {
        run = [&] {
            CPolicyStore store(db);
            for (const vlpolicy::TakeOutRequest& request : store.ListTakeOuts())
                PrintTakeOut(request);
            return 0;
        };
    });
    CLI::App* approve = withDb(takeout->add_subcommand("approve", "approve a request (default: its requested dates)"));
    approve->add_option("KEY", key, "the take-out key")->required();
    CLI::Option* startOption = approve->add_option("--start", start, "approved start date, YYYYMMDD");
    CLI::Option* endOption = approve->add_option("--end", end, "approved end date, YYYYMMDD");
    startOption->needs(endOption);
    endOption->needs(startOption);
    approve->add_option("--comment", comment, "a comment kept in the request's history");
    approve->callback([&] {
        run = [&] {
            if (!start.empty() &&
                (!vlpolicy::IsValidDate(start) || !vlpolicy::IsValidDate(end) || start > end))
                throw CommandError("--start and --end must be dates YYYYMMDD, the start not after the end",
                                   kExitUsage);
            CPolicyStore store(db);
            CheckDecision(store.Approve(key, start, end, Now(), comment), key);
            printf("approved %s\n", key.c_str());
            return 0;
        };
    });
    CLI::App* refuse = withDb(takeout->add_subcommand("refuse", "refuse a request"));
    refuse->add_option("KEY", key, "the take-out key")->required();
    refuse->add_option("--comment", comment, "a comment kept in the request's history");
    refuse->callback([&] {
        run = [&] {
            CPolicyStore store(db);
            CheckDecision(store.Refuse(key, Now(), comment), key);
            printf("refused %s\n", key.c_str());
            return 0;
        };
    });
    CLI::App* cancel = withDb(takeout->add_subcommand("cancel", "cancel a request"));
    cancel->add_option("KEY", key, "the take-out key")->required();
    cancel->callback([&] {
        run = [&] {
            CPolicyStore store(db);
            CheckDecision(store.Cancel(key, Now()), key);
            printf("cancelled %s\n", key.c_str());
            return 0;
        };
    });

    int last = 20;
    CLI::App* log = withDb(app.add_subcommand("log", "the last exchanges from the store, oldest first"));
    log->add_option("--last", last, "how many")->capture_default_str()->check(CLI::Range(1, 1000000));
    log->callback([&] {
        run = [&] {
            CPolicyStore store(db);
            for (const vlpolicy::ExchangeEntry& entry : store.LastExchanges(last))
                printf("%s %s %s %s %d\n", entry.at.c_str(), entry.client.c_str(), entry.kind.c_str(),
                       entry.userID.empty() ? "-" : entry.userID.c_str(), entry.status);
            return 0;
        };
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0)
            return app.exit(error);
        fprintf(stderr, "vlpolicyd: %s (see vlpolicyd --help)\n", error.what());
        return kExitUsage;
    }
    try {
        return run ? run() : kExitUsage;
    } catch (const CommandError& error) {
        fprintf(stderr, "vlpolicyd: %s\n", error.what());
        return error.Code();
    } catch (const std::exception& error) {
        fprintf(stderr, "vlpolicyd: %s\n", error.what());
        return kExitRefused;
    }
}
