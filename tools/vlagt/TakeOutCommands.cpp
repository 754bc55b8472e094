// takeout request, status, edit, delete: the take-out of the logged-in user and its decision.
#include <string.h>

#include "Commands.h"
#include "ToolSupport.h"

namespace vlagt::tool {

namespace {

constexpr size_t kUserIDChars = 20;
constexpr size_t kReasonChars = sizeof(TAKEOUT_INFO::szText) - 1;
constexpr size_t kKeyChars = sizeof(TAKEOUT_MSG::szTakeOutKey);

struct RequestOptions
{
    std::string start;
    std::string end;
    std::string reason;
};

// A session with the server and the user of the take-out: the logged-in user or, when
// `fromCcf` and nobody is logged in, the user the CCF belongs to.
bool Prepare(CReport& report, const CommonOptions& common, CDRMLogin& session, bool fromCcf, std::string& user)
{
    std::string error;
    if (!UseServer(session, common.url, error)) {
        report.Fail(error);
        return false;
    }
    AddTlsRow(report, FieldText(session.m_szServerURL));
    user = LoggedInUser(session);
    if (user.empty() && fromCcf) {
        char ccfUser[kUserIDChars + 1] = {};
        session.GetUserID(ccfUser);
        user = FieldText(ccfUser);
    }
    if (user.empty()) {
        report.Fail("nobody is logged in: 'vlagt login USER' first");
        return false;
    }
    std::vector<char> id = Writable(user);
    session.SetUserID(id.data());
    report.Add("user", "user", user);
    return true;
}

// The take-out records carry the user in the 20 bytes after the signal tag, so that the server
// knows whose take-out it is.
void PutUser(uint8_t* reserved, const std::string& user)
{
    memset(reserved, 0, kUserIDChars);
    memcpy(reserved, user.data(), user.size() < kUserIDChars ? user.size() : kUserIDChars);
}

bool BuildRequest(CReport& report, const RequestOptions& options, const std::string& user, TAKEOUT_INFO& info)
{
    if (options.start > options.end) {
        report.Fail("the take-out ends before it starts");
        return false;
    }
    memset(&info, 0, sizeof(info));
    memcpy(info.szStartDate, options.start.data(), sizeof(info.szStartDate));
    memcpy(info.szEndDate, options.end.data(), sizeof(info.szEndDate));
    PutField(info.szText, sizeof(info.szText), options.reason);
    PutUser(info.abReserved1, user);
    info.nStatus = STATUS_TAKEOUT_REQUESTED;
    return true;
}

void ReportCcfState(CReport& report, CDRMLogin& session)
{
    const int state = session.GetTakeOutCCF();
    report.Add("ccf_takeout", "take-out in the CCF", TakeOutWords(state));
    report.AddJson("ccf_takeout_code", state);
}

int RunRequest(CReport& report, const CommonOptions& common, const RequestOptions& options, bool edit)
{
    CDRMLogin session;
    std::string user;
    if (!Prepare(report, common, session, false, user))
        return report.Finish(kExitRefused);
    TAKEOUT_INFO info;
    if (!BuildRequest(report, options, user, info))
        return report.Finish(kExitUsage);
    session.SetTakeOutInfo(&info);
    Stopwatch watch;
    CTlsRefusal tls;
    const unsigned long status = session.Communicate(edit ? SIG_REQ_TAKEOUT_EDIT : SIG_REQ_TAKEOUT);
    report.AddStatus(status);
    report.AddElapsed(watch.Elapsed());
    if (status != kStatusSuccess) {
        report.Say(std::string(edit ? "take-out change" : "take-out request") + " refused: " + FailureWords(status, tls, report));
        return report.Finish(kExitRefused);
    }
    report.Add("start", "from", ShowDate(options.start));
    report.Add("end", "to", ShowDate(options.end));
    if (!edit) {
        const std::string key = FieldText(session.m_TakeOutReply.szTakeOutKey);
        report.Add("key", "key", key);
        report.Say("take-out requested for " + user + "; the key is kept in \"TakeOutKey\"");
    } else {
        report.Say("take-out changed for " + user + "; it waits for a decision again");
    }
    report.Add("state", "state", TakeOutWords(STATUS_TAKEOUT_REQUESTED));
    ReportCcfState(report, session);
    return report.Finish(kExitSuccess);
}

// The key named on the command line, or the one the last request left in "TakeOutKey".
bool ChooseKey(CReport& report, const std::string& given, std::string& key)
{
    key = given.empty() ? ReadSetting(kTakeOutKeyValue) : given;
    if (key.empty()) {
        report.Fail("no take-out key: give one, or request a take-out first");
        return false;
    }
    report.Add("key", "key", key);
    return true;
}

int RunStatus(CReport& report, const CommonOptions& common, const std::string& givenKey, bool remove)
{
    CDRMLogin session;
    std::string user;
    std::string key;
    if (!ChooseKey(report, givenKey, key) || !Prepare(report, common, session, true, user))
        return report.Finish(kExitRefused);
    TAKEOUT_MSG message;
    memset(&message, 0, sizeof(message));
    PutField(message.szTakeOutKey, sizeof(message.szTakeOutKey), key);
    PutUser(message.abReserved, user);
    session.SetTakeOutMsg(&message);
    Stopwatch watch;
    CTlsRefusal tls;
    const unsigned long status = session.Communicate(remove ? SIG_REQ_TAKEOUT_DEL : SIG_REQ_TAKEOUT_REF);
    report.AddStatus(status);
    report.AddElapsed(watch.Elapsed());
    if (status != kStatusSuccess) {
        report.Say(std::string(remove ? "take-out not deleted: " : "no answer on the take-out: ") +
                   FailureWords(status, tls, report));
        ReportCcfState(report, session);
        return report.Finish(kExitRefused);
    }
    if (remove) {
        report.Add("state", "state", TakeOutWords(STATUS_TAKEOUT_NONE));
        report.Say("take-out deleted");
    } else {
        const TAKEOUT_INFO& reply = session.m_TakeOutRefInfo;
        const std::string start = FieldText(reply.szStartDate);
        const std::string end = FieldText(reply.szEndDate);
        report.Add("state", "state", TakeOutWords(reply.nStatus, start, end));
        report.AddJson("state_code", reply.nStatus);
        if (reply.nStatus == STATUS_TAKEOUT_APPROVAL) {
            report.AddJson("start", start);
            report.AddJson("end", end);
        }
        report.Say("take-out " + TakeOutWords(reply.nStatus, start, end));
    }
    ReportCcfState(report, session);
    return report.Finish(kExitSuccess);
}

std::string CheckReason(const std::string& reason)
{
    return reason.size() > kReasonChars ? "at most " + std::to_string(kReasonChars) + " characters" : std::string();
}

std::string CheckKey(const std::string& key)
{
    return key.empty() || key.size() > kKeyChars ? "1 to " + std::to_string(kKeyChars) + " characters"
                                                 : std::string();
}

void AddRequestOptions(CLI::App& command, RequestOptions& options)
{
    command.add_option("--start", options.start, "first day, YYYYMMDD")->required()->check(DateValidator());
    command.add_option("--end", options.end, "last day, YYYYMMDD")->required()->check(DateValidator());
    command.add_option("--reason", options.reason, "why the PC leaves the office")
        ->required()
        ->check(CLI::Validator(CheckReason, "TEXT"));
}

} // namespace

void AddTakeOutCommands(CLI::App& app, CommonOptions& common, CommandList& commands)
{
    CLI::App* takeout = app.add_subcommand("takeout", "Request a take-out and follow its decision");
    takeout->require_subcommand(1);

    for (bool edit : {false, true}) {
        auto options = std::make_shared<RequestOptions>();
        CLI::App* request = takeout->add_subcommand(
            edit ? "edit" : "request",
            edit ? "Change the dates and reason of the user's take-out request"
                 : "Request a take-out for the logged-in user (the key goes to \"TakeOutKey\")");
        AddRequestOptions(*request, *options);
        AddServerOptions(*request, common);
        commands.push_back({request, [options, &common, edit](CReport& r) {
                                return RunRequest(r, common, *options, edit);
                            }});
    }

    for (bool remove : {false, true}) {
        auto key = std::make_shared<std::string>();
        CLI::App* command = takeout->add_subcommand(
            remove ? "delete" : "status",
            remove ? "Delete a take-out" : "Ask the server for a take-out's decision (approved dates go into the CCF)");
        command->add_option("KEY", *key, "the take-out key (default: the \"TakeOutKey\" value)")
            ->check(CLI::Validator(CheckKey, "KEY"));
        AddServerOptions(*command, common);
        commands.push_back({command, [key, &common, remove](CReport& r) {
                                return RunStatus(r, common, *key, remove);
                            }});
    }
}

} // namespace vlagt::tool
