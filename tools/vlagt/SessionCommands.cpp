// server, login, web-login, logout, whoami: the user and the server of the logon.
#include <string.h>

#include "CPasswordPrompt.h"
#include "Commands.h"
#include "ToolSupport.h"
#include "common/UniqueHandle.h"

namespace vlagt::tool {

namespace {

constexpr DWORD kHolderReadyMs = 5000;
constexpr DWORD kHolderPollMs = 250;

// The names of the automatic-encryption flags, by their place in abAppFlags.
constexpr const char* kAppFlagNames[APP_FLAG_COUNT] = {"DOC", "XLS", "PPT", "HWP", "GUL",
                                                       "TXT", "PDF", "DWG", "KODAK", "MSPAINT"};
static_assert(APP_FLAG_DOC == 0 && APP_FLAG_XLS == 1 && APP_FLAG_TXT == 5 && APP_FLAG_MSPAINT == 9,
              "names follow the places of abAppFlags");

std::string ProgramPath()
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

// The shared record lives only while some process holds it. After a login this program ends, so it
// leaves a small process of its own behind that holds the record, the way the agent does, and ends
// by itself once the record names nobody (after a logout). Returns its process id, 0 on failure.
DWORD StartSessionHolder()
{
    const std::string eventName = "vlagt.session-holder." + std::to_string(GetCurrentProcessId());
    UniqueKernelHandle ready(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    const std::string program = ProgramPath();
    if (!ready || program.empty())
        return 0;
    std::vector<char> commandLine = Writable("\"" + program + "\" session-holder --ready " + eventName);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    // No standard handles: the holder must not keep a caller's pipe open.
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info))
        return 0;
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    HANDLE waits[2] = {ready.Get(), process.Get()};
    if (WaitForMultipleObjects(2, waits, FALSE, kHolderReadyMs) != WAIT_OBJECT_0)
        return 0;
    return info.dwProcessId;
}

int RunSessionHolder(const std::string& readyEvent)
{
    CDRMLogin session;
    if (session.CreateSharedMemForLoginInfo() != 1)
        return kExitRefused;
    UniqueKernelHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, readyEvent.c_str()));
    if (ready)
        SetEvent(ready.Get());
    ready.Reset();
    while (session.CheckLogin() == 1)
        Sleep(kHolderPollMs);
    return kExitSuccess;
}

// The application list of a login reply: application and library names separated by "|".
nlohmann::ordered_json ApplicationPairs(const char* list, std::string& text)
{
    nlohmann::ordered_json pairs = nlohmann::ordered_json::array();
    if (list == nullptr)
        return pairs;
    std::vector<std::string> names;
    std::string current;
    for (const char* p = list;; ++p) {
        if (*p == '|' || *p == '\0') {
            if (!current.empty())
                names.push_back(current);
            current.clear();
            if (*p == '\0')
                break;
        } else {
            current.push_back(*p);
        }
    }
    std::vector<std::string> shown;
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
        pairs.push_back({{"application", names[i]}, {"library", names[i + 1]}});
        shown.push_back(names[i] + " (" + names[i + 1] + ")");
    }
    text = shown.empty() ? "none" : Join(shown, ", ");
    return pairs;
}

void ReportPolicies(CReport& report, CDRMLogin& session)
{
    const LOGIN_INFO& info = session.m_LoginInfo;
    report.Add("user", "user", FieldText(session.m_szUserID));
    report.Add("company", "company", FieldText(info.szCompanyID));
    report.Add("group", "group", FieldText(info.szGroupID));
    report.Add("position", "position", FieldText(info.szPositionID));
    report.Add("offline_policy", "offline policy", static_cast<int64_t>(info.nOfflinePolicy));
    report.Add("online_control", "online control", static_cast<int64_t>(info.nOnlineControl));
    report.Add("doc_exchange_policy", "document exchange", static_cast<int64_t>(info.nDocExchangePolicy));
    report.Add("count_control", "count control", static_cast<int64_t>(info.nCountControl));
    report.Add("time_sync", "time sync", static_cast<int64_t>(info.nTimeSync));
    report.Add("protect_remote_tool", "remote-tool protection", static_cast<int64_t>(info.nProtectRemoteTool));
    report.Add("dkms", "DKMS", FieldText(info.szDKMS));
    report.Add("dtss", "DTSS", FieldText(info.szDTSS));
    report.Add("dls", "DLS", FieldText(info.szDLS));
    std::vector<std::string> encrypted;
    nlohmann::ordered_json flags = nlohmann::ordered_json::object();
    for (size_t i = 0; i < APP_FLAG_COUNT; ++i) {
        flags[kAppFlagNames[i]] = info.abAppFlags[i] != 0;
        if (info.abAppFlags[i] != 0)
            encrypted.push_back(kAppFlagNames[i]);
    }
    report.AddJson("auto_encrypt", flags);
    report.Add("auto_encrypt_text", "auto-encrypted", encrypted.empty() ? std::string("none") : Join(encrypted, " "));
    std::string applications;
    report.AddJson("applications", ApplicationPairs(session.m_pAppInfo, applications));
    if (session.m_pAppInfo != nullptr)
        report.Add("applications_text", "applications", applications);
}

struct LoginOptions
{
    std::string user;
    std::string password;
};

int RunLogin(CReport& report, const CommonOptions& common, LoginOptions& options, bool web)
{
    std::string password;
    struct Wiper
    {
        std::string& text;
        ~Wiper() { Wipe(text); }
    } wipePassword{password}, wipeArgument{options.password};

    CDRMLogin session;
    std::string error;
    if (!UseServer(session, common.url, error)) {
        report.Fail(error);
        return report.Finish(kExitRefused);
    }
    if (session.CreateSharedMemForLoginInfo() != 1) {
        report.Fail("the shared record \"DRMAgentLoginInfo\" cannot be created");
        return report.Finish(kExitRefused);
    }
    const std::string current = LoggedInUser(session);
    if (!current.empty()) {
        report.Add("user", "logged in", current);
        report.Fail(current + " is logged in already: 'vlagt logout' first");
        return report.Finish(kExitRefused);
    }
    // Asked only now, once a login can go ahead.
    if (!options.password.empty()) {
        password = options.password;
    } else {
        CPasswordPrompt prompt;
        std::string error;
        if (!prompt.Read("Password for " + options.user + ": ", error)) {
            report.Fail(error);
            return report.Finish(kExitUsage);
        }
        password = prompt.Text();
    }
    std::vector<char> user = Writable(options.user);
    std::vector<char> secret = Writable(password);
    session.SetUserInfo(user.data(), secret.data());
    SecureZeroMemory(secret.data(), secret.size());

    AddTlsRow(report, FieldText(session.m_szServerURL));
    Stopwatch watch;
    CTlsRefusal tls;
    const unsigned long status = session.Communicate(web ? SIG_REQ_WEB_LOGIN : SIG_REQ_LOGIN);
    const unsigned long elapsed = watch.Elapsed();
    // The session keeps the password in two places; neither is needed any more.
    SecureZeroMemory(session.m_szUserPW, sizeof(session.m_szUserPW));
    SecureZeroMemory(&session.m_LoginReq, sizeof(session.m_LoginReq));

    report.Add("kind", "login", web ? "web" : "binary");
    report.AddStatus(status);
    report.AddElapsed(elapsed);
    if (status != kStatusSuccess) {
        report.Say("login of " + options.user + " refused: " + FailureWords(status, tls, report));
        return report.Finish(kExitRefused);
    }
    session.FillCCFInfo();
    session.CreateCCF();
    ReportPolicies(report, session);
    const int takeOut = session.GetTakeOutCCF();
    report.Add("takeout_state", "take-out", TakeOutWords(takeOut));
    report.AddJson("takeout_code", takeOut);
    const DWORD holder = StartSessionHolder();
    report.AddJson("holder_pid", holder);
    if (holder == 0) {
        report.Fail("the login is published only while this program runs: no process could be left to hold it");
    }
    report.Say(FieldText(session.m_szUserID) + " logged in (" + (web ? "web" : "binary") +
               " login); the CCF is written and \"DRMAgentLoginInfo\" names the user");
    return report.Finish(kExitSuccess);
}

int RunLogout(CReport& report)
{
    CDRMLogin session;
    const std::string user = LoggedInUser(session);
    report.Add("previous_user", "was logged in", user.empty() ? std::string("nobody") : user);
    if (user.empty()) {
        report.Say("nobody is logged in");
        return report.Finish(kExitSuccess);
    }
    session.DeleteSharedMemForLoginInfo();
    report.Say(user + " logged out: \"DRMAgentLoginInfo\" names nobody");
    return report.Finish(kExitSuccess);
}

int RunWhoami(CReport& report)
{
    CDRMLogin session;
    const std::string user = LoggedInUser(session);
    if (session.m_pSharedInfo == nullptr) {
        report.Fail("the shared record \"DRMAgentLoginInfo\" cannot be opened");
        return report.Finish(kExitRefused);
    }
    report.Add("user", "user", user.empty() ? std::string("nobody") : user);
    report.AddJson("user", user);
    report.AddJson("logged_in", !user.empty());
    report.Add("online", "nOnline", static_cast<int64_t>(session.m_pSharedInfo->nOnline));
    report.Say(user.empty() ? "nobody is logged in" : user + " is logged in");
    return report.Finish(user.empty() ? kExitRefused : kExitSuccess);
}

int RunServer(CReport& report, const std::string& url)
{
    if (!url.empty()) {
        std::string error;
        if (!WriteSetting(kServerUrlValue, url, error)) {
            report.Fail(error);
            return report.Finish(kExitRefused);
        }
        report.Add("url", "server", url);
        AddTlsRow(report, url);
        report.Say("server set: \"VLDrmAgtSvr\" = " + url);
        return report.Finish(kExitSuccess);
    }
    CDRMLogin session;
    if (session.GetServerIP() != 1) {
        report.Add("url", "server", "");
        report.Say("no server is set: 'vlagt server URL' sets one");
        return report.Finish(kExitRefused);
    }
    report.Add("url", "server", FieldText(session.m_szServerURL));
    AddTlsRow(report, FieldText(session.m_szServerURL));
    return report.Finish(kExitSuccess);
}

} // namespace

void AddSessionCommands(CLI::App& app, CommonOptions& common, CommandList& commands)
{
    auto url = std::make_shared<std::string>();
    CLI::App* server = app.add_subcommand("server", "Show the policy server's URL (\"VLDrmAgtSvr\"), or set it");
    server->add_option("URL", *url, "the new URL, e.g. http://127.0.0.1:8480/agent")
        ->check(CLI::Validator(UrlProblem, "URL"));
    AddJsonFlag(*server, common);
    commands.push_back({server, [url](CReport& r) { return RunServer(r, *url); }});

    for (bool web : {false, true}) {
        auto options = std::make_shared<LoginOptions>();
        CLI::App* login = app.add_subcommand(
            web ? "web-login" : "login",
            web ? "Log a user in through the web login form, write the CCF and publish the user"
                : "Log a user in (binary login), write the CCF and publish the user");
        login->add_option("USER", options->user, "the user ID")->required();
        login->add_option("PASSWORD", options->password,
                          "the password; when left out it is read without echo (or one line of standard input)");
        AddServerOptions(*login, common);
        commands.push_back({login, [options, &common, web](CReport& r) { return RunLogin(r, common, *options, web); }});
    }

    CLI::App* logout = app.add_subcommand("logout", "Empty the shared record: nobody is logged in");
    AddJsonFlag(*logout, common);
    commands.push_back({logout, [](CReport& r) { return RunLogout(r); }});

    CLI::App* whoami = app.add_subcommand("whoami", "Who \"DRMAgentLoginInfo\" names, and nOnline (exit 1: nobody)");
    AddJsonFlag(*whoami, common);
    commands.push_back({whoami, [](CReport& r) { return RunWhoami(r); }});

    auto readyEvent = std::make_shared<std::string>();
    CLI::App* holder = app.add_subcommand("session-holder", "Hold the shared record until it names nobody");
    holder->group("");
    holder->add_option("--ready", *readyEvent, "event to signal once the record is held")->required();
    commands.push_back({holder, [readyEvent](CReport&) { return RunSessionHolder(*readyEvent); }});
}

} // namespace vlagt::tool
