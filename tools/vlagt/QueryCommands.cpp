// ccf, acl, ping, online, check-user, register, unregister, monitor: the module's answers to quick
// questions, its registration, and its debug output.
#include <stdio.h>
#include <string.h>

#include <atomic>

#include "CDebugMonitor.h"
#include "Commands.h"
#include "ToolSupport.h"

namespace vlagt::tool {

namespace {

int RunCcf(CReport& report)
{
    CDRMLogin session;
    session.TestCCF();
    const CCF_INFO& ccf = session.m_CCFInfo;
    report.Add("user", "user", FieldText(ccf.szUserID));
    report.Add("company", "company", FieldText(ccf.szCompanyID));
    report.Add("group", "group", FieldText(ccf.szGroupID));
    report.Add("position", "position", FieldText(ccf.szPositionID));
    report.Add("super_key", "super key", FieldText(ccf.szSuperKey));
    report.Add("offline_policy", "offline policy", static_cast<int64_t>(ccf.nOfflinePolicy));
    report.Add("online_control", "online control", static_cast<int64_t>(ccf.nOnlineControl));
    report.Add("doc_exchange_policy", "document exchange", static_cast<int64_t>(ccf.nDocExchangePolicy));
    report.AddFlag("count_control", "count control", ccf.bControlCount != 0);
    report.Add("dkms", "DKMS", FieldText(ccf.szDKMS));
    report.Add("dtss", "DTSS", FieldText(ccf.szDTSS));
    const int takeOut = session.GetTakeOutCCF();
    report.Add("takeout", "take-out", TakeOutWords(takeOut));
    report.AddJson("takeout_code", takeOut);
    report.Say(ccf.szUserID[0] == '\0' ? "the CCF names no user (it is empty or missing)"
                                       : std::string("the CCF of ") + FieldText(ccf.szUserID));
    return report.Finish(kExitSuccess);
}

// Without --url: the module's own question, CheckPing (at most 3000 ms, the registry's server).
// With --url: one ping exchange of a session with that server.
int RunPing(CReport& report, const CommonOptions& common)
{
    if (common.url.empty()) {
        report.Add("url", "server", ReadSetting(kServerUrlValue));
        AddTlsRow(report, ReadSetting(kServerUrlValue));
        StartTls(report);
        Stopwatch watch;
        const int answered = CheckPing();
        report.AddJson("result", answered);
        report.AddFlag("answered", "answered", answered == 1);
        report.AddElapsed(watch.Elapsed());
        report.Say(answered == 1 ? "the server answered the ping" : "no answer to the ping within 3000 ms");
        return report.Finish(answered == 1 ? kExitSuccess : kExitRefused);
    }
    CDRMLogin session;
    std::string error;
    UseServer(session, common.url, error);
    report.Add("url", "server", FieldText(session.m_szServerURL));
    AddTlsRow(report, FieldText(session.m_szServerURL));
    Stopwatch watch;
    CTlsRefusal tls;
    const unsigned long status = session.Communicate(SIG_REQ_PING);
    report.AddStatus(status);
    report.AddElapsed(watch.Elapsed());
    if (status != kStatusSuccess) {
        report.Say("no answer to the ping: " + FailureWords(status, tls, report));
        return report.Finish(kExitRefused);
    }
    report.Say("the server answered the ping");
    return report.Finish(kExitSuccess);
}

int RunAcl(CReport& report, const std::string& user, const std::string& level)
{
    ACL_INFO acl;
    memset(&acl, 0, sizeof(acl));
    std::vector<char> userText = Writable(user);
    std::vector<char> levelText = Writable(level);
    report.Add("user", "user", user);
    report.Add("level", "level", level);
    StartTls(report);
    Stopwatch watch;
    const int result = GetACLInfo(userText.data(), levelText.data(), &acl);
    report.AddJson("result", result);
    report.AddElapsed(watch.Elapsed());
    if (result != 1) {
        report.Say("no ACL for " + user + " at " + level + " within 3000 ms (refused, unknown, or no answer)");
        return report.Finish(kExitRefused);
    }
    std::string text;
    std::string hex;
    for (size_t i = 0; i < sizeof(acl.abData); ++i) {
        const unsigned char byte = acl.abData[i];
        char digits[3] = {};
        snprintf(digits, sizeof(digits), "%02x", byte);
        hex += digits;
        if (byte == 0)
            continue;
        text.push_back(byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.');
    }
    report.Add("acl_text", "ACL", text);
    report.Add("acl_hex", "ACL bytes", hex);
    report.Say("the ACL of " + user + " for " + level);
    return report.Finish(kExitSuccess);
}

int RunCheckUser(CReport& report, const std::string& user)
{
    CDRMLogin session;
    const std::string loggedIn = LoggedInUser(session);
    std::vector<char> userText = Writable(user);
    report.Add("user", "user", user);
    report.Add("logged_in", "logged in", loggedIn.empty() ? std::string("nobody") : loggedIn);
    StartTls(report);
    Stopwatch watch;
    const int result = CheckUserID(userText.data());
    report.AddJson("result", result);
    report.AddElapsed(watch.Elapsed());
    if (result == 1) {
        report.Say(user + " may go on" + (loggedIn.empty() ? " (the offline check accepted the user)"
                                                          : " (the agent has a logged-in user)"));
        return report.Finish(kExitSuccess);
    }
    report.Say(user + " may not go on (the web login page was opened, or the offline check refused)");
    return report.Finish(kExitRefused);
}

int RunRegistration(CReport& report, bool registering)
{
    const char* name = registering ? "DllRegisterServer" : "DllUnregisterServer";
    using Entry = HRESULT(__stdcall*)();
    HMODULE module = GetModuleHandleA("VLAgtClient.dll");
    FARPROC proc = module != nullptr ? GetProcAddress(module, name) : nullptr;
    report.Add("entry", "entry point", name);
    if (proc == nullptr) {
        report.Fail(std::string("VLAgtClient.dll exports no ") + name);
        return report.Finish(kExitRefused);
    }
    Stopwatch watch;
    const HRESULT hr = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(proc))();
    report.AddJson("hresult", static_cast<long>(hr));
    report.Add("result", "result", hr == S_OK ? std::string("S_OK") : HresultWords(hr));
    report.AddElapsed(watch.Elapsed());
    if (FAILED(hr)) {
        report.Say(std::string(registering ? "registration" : "unregistration") + " failed: " + HresultWords(hr));
        return report.Finish(kExitRefused);
    }
    report.Say(registering ? "the module's type library is registered" : "the module's type library is unregistered");
    return report.Finish(kExitSuccess);
}

int RunOnline(CReport& report)
{
    CDRMLogin session;
    // Attached, so that the answer is published in nOnline as well.
    const bool published = session.CreateSharedMemForLoginInfo() == 1;
    Stopwatch watch;
    const int online = session.CheckOnline();
    const DWORD why = GetLastError();
    report.AddFlag("online", "online", online == 1);
    report.AddJson("result", online);
    if (online != 1)
        report.Add("last_error", "last error", static_cast<int64_t>(why));
    if (published)
        report.Add("shared_online", "nOnline", static_cast<int64_t>(session.m_pSharedInfo->nOnline));
    report.AddElapsed(watch.Elapsed());
    report.Say(online == 1 ? "this machine is on a network: its own address answered the echo"
                           : "this machine is not on a network (loopback only, or no answer to the echo)");
    return report.Finish(online == 1 ? kExitSuccess : kExitRefused);
}

struct MonitorOptions
{
    std::string filter;
    unsigned count = 0;   // stop after this many lines; 0: no limit
    unsigned seconds = 0; // stop after this long; 0: no limit
};

std::atomic<bool> g_stopMonitor{false};

BOOL WINAPI OnConsoleControl(DWORD)
{
    g_stopMonitor = true;
    return TRUE;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

int RunMonitor(CReport& report, const MonitorOptions& options)
{
    CDebugMonitor monitor;
    std::string error;
    if (!monitor.Open(error)) {
        report.Fail(error);
        return report.Finish(kExitRefused);
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    if (!report.IsJson()) {
        fprintf(stderr, "vlagt monitor: debug output of every process%s%s%s; Ctrl-C stops\n",
                options.filter.empty() ? "" : " with \"", options.filter.c_str(), options.filter.empty() ? "" : "\"");
        fflush(stderr);
    }
    const std::string filter = Lower(options.filter);
    unsigned printed = 0;
    Stopwatch watch;
    monitor.Run(
        [&](const CDebugMonitor::Line& line) {
            if (!filter.empty() && Lower(line.text).find(filter) == std::string::npos)
                return true;
            char time[16] = {};
            snprintf(time, sizeof(time), "%02u:%02u:%02u.%03u", line.time.wHour, line.time.wMinute,
                     line.time.wSecond, line.time.wMilliseconds);
            if (report.IsJson()) {
                nlohmann::ordered_json object = {{"time", time}, {"pid", line.processId}, {"text", line.text}};
                fprintf(stdout, "%s\n",
                        object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
            } else {
                fprintf(stdout, "%s %6lu  %s\n", time, static_cast<unsigned long>(line.processId), line.text.c_str());
            }
            fflush(stdout);
            return options.count == 0 || ++printed < options.count;
        },
        [&] { return g_stopMonitor.load() || (options.seconds != 0 && watch.Elapsed() >= options.seconds * 1000UL); });
    return kExitSuccess;
}

} // namespace

void AddQueryCommands(CLI::App& app, CommonOptions& common, CommandList& commands)
{
    CLI::App* ccf = app.add_subcommand("ccf", "Show what the module reads back from the CCF");
    AddJsonFlag(*ccf, common);
    commands.push_back({ccf, [](CReport& r) { return RunCcf(r); }});

    auto aclUser = std::make_shared<std::string>();
    auto aclLevel = std::make_shared<std::string>();
    CLI::App* acl = app.add_subcommand("acl", "The ACL of a user for a document level (GetACLInfo, at most 3 s)");
    acl->add_option("USER", *aclUser, "the user ID")->required();
    acl->add_option("LEVEL", *aclLevel, "the document level's name")->required();
    AddJsonFlag(*acl, common);
    commands.push_back({acl, [aclUser, aclLevel](CReport& r) { return RunAcl(r, *aclUser, *aclLevel); }});

    CLI::App* ping = app.add_subcommand(
        "ping", "Whether the policy server answers a ping (CheckPing, at most 3 s; with --url one exchange)");
    AddServerOptions(*ping, common);
    commands.push_back({ping, [&common](CReport& r) { return RunPing(r, common); }});

    CLI::App* online = app.add_subcommand("online", "Whether this machine is on a network (CheckOnline; sets nOnline)");
    AddJsonFlag(*online, common);
    commands.push_back({online, [](CReport& r) { return RunOnline(r); }});

    auto checkUser = std::make_shared<std::string>();
    CLI::App* check = app.add_subcommand(
        "check-user", "Whether a user may go on (CheckUserID: logged in, login page, or the offline check)");
    check->add_option("USER", *checkUser, "the user ID")->required();
    AddJsonFlag(*check, common);
    commands.push_back({check, [checkUser](CReport& r) { return RunCheckUser(r, *checkUser); }});

    for (bool registering : {true, false}) {
        CLI::App* command = app.add_subcommand(
            registering ? "register" : "unregister",
            registering ? "Register the module's type library (DllRegisterServer)"
                        : "Unregister the module's type library (DllUnregisterServer)");
        AddJsonFlag(*command, common);
        commands.push_back({command, [registering](CReport& r) { return RunRegistration(r, registering); }});
    }

    auto monitorOptions = std::make_shared<MonitorOptions>();
    CLI::App* monitor = app.add_subcommand(
        "monitor", "Show the debug output of every process, one line each with time and process id, until Ctrl-C");
    monitor->add_option("--filter", monitorOptions->filter, "only lines that hold this text (any letter case)");
    monitor->add_option("--count", monitorOptions->count, "stop after this many lines")->check(CLI::PositiveNumber);
    monitor->add_option("--for", monitorOptions->seconds, "stop after this many seconds")->check(CLI::PositiveNumber);
    AddJsonFlag(*monitor, common);
    commands.push_back({monitor, [monitorOptions](CReport& r) { return RunMonitor(r, *monitorOptions); }});
}

} // namespace vlagt::tool
