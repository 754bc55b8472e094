// vlserverprobe.exe - drives the real module against a running policy server for the end-to-end
// test, and prints what it saw, one fact a line, on stdout.
//
// Usage: vlserverprobe login <url> <user> <password> <ccfPath>
//          DRMAgentLogin on the process-wide session, then what the shared record names; then a
//          session of its own logs in, writes the CCF and reads it back; a third logs in by the
//          web login.
//        vlserverprobe reference <url> <user> <takeOutKey> <ccfPath>
//          CDRMLogin::Communicate(SIG_REQ_TAKEOUT_REF), then the take-out state the CCF records.
//        vlserverprobe exchange <url> <user> <password> login|web|ping[,login|web|ping...]
//          one exchange of each kind, in that order, each on a session of its own: "result N"
//          for each, then every debug line the module wrote, each as "debug <line>".
// Exit code: 0 when the steps ran, 100 on bad usage.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "VLAgtClient.h"

namespace {

// The module's debug lines of this process, seen in the exception OutputDebugStringA raises.
std::vector<std::string> g_debugLines;

LONG CALLBACK TakeDebugLine(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != 0x40010006 /* DBG_PRINTEXCEPTION_C */ || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const size_t length = static_cast<size_t>(record->ExceptionInformation[0]);
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    if (text != nullptr && length > 0)
        g_debugLines.emplace_back(text, length - 1);
    return EXCEPTION_CONTINUE_SEARCH; // the line still reaches a debug monitor
}

int Exchange(char** argv)
{
    std::vector<int> types;
    for (std::string kinds = argv[3]; !kinds.empty();) {
        const size_t comma = kinds.find(',');
        const std::string kind = kinds.substr(0, comma);
        kinds = comma == std::string::npos ? std::string() : kinds.substr(comma + 1);
        const int type = kind == "login" ? SIG_REQ_LOGIN : kind == "web" ? SIG_REQ_WEB_LOGIN : kind == "ping" ? SIG_REQ_PING : 0;
        if (type == 0)
            return 100;
        types.push_back(type);
    }
    void* handler = AddVectoredExceptionHandler(1, TakeDebugLine);
    for (int type : types) {
        CDRMLogin session;
        session.SetServerIP(argv[0]);
        session.SetUserInfo(argv[1], argv[2]);
        session.CreateSharedMemForLoginInfo();
        const unsigned long result = session.Communicate(type);
        session.DeleteSharedMemForLoginInfo();
        printf("result %lu\n", result);
    }
    RemoveVectoredExceptionHandler(handler);
    for (std::string& line : g_debugLines) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        printf("debug %s\n", line.c_str());
    }
    return 0;
}

std::string Text(const char* field, size_t width)
{
    return std::string(field, strnlen(field, width));
}

int Login(char** argv)
{
    SetServerIP(argv[0]);
    printf("login %lu\n", DRMAgentLogin(argv[1], argv[2]));
    CDRMLogin reader;
    if (reader.CreateSharedMemForLoginInfo() && reader.CheckLogin())
        printf("published %s\n", Text(reader.m_pSharedInfo->szUserID, sizeof(reader.m_pSharedInfo->szUserID)).c_str());
    else
        printf("published nobody\n");

    CDRMLogin session;
    session.SetServerIP(argv[0]);
    session.SetUserInfo(argv[1], argv[2]);
    session.CreateSharedMemForLoginInfo();
    printf("session login %lu\n", session.Communicate(SIG_REQ_LOGIN));
    session.FillCCFInfo();
    session.CreateCCF();
    session.TestCCF();
    printf("ccf %s %s %s\n", session.m_CCFInfo.szUserID, session.m_CCFInfo.szCompanyID, session.m_CCFInfo.szDKMS);
    session.DeleteSharedMemForLoginInfo();
    reader.CrearSharedMemForLoginInfo();

    CDRMLogin web;
    web.SetServerIP(argv[0]);
    web.SetUserInfo(argv[1], argv[2]);
    web.CreateSharedMemForLoginInfo();
    const unsigned long webStatus = web.Communicate(SIG_REQ_WEB_LOGIN);
    printf("web login %lu %s %u\n", webStatus, Text(web.m_LoginInfo.szCompanyID, sizeof(web.m_LoginInfo.szCompanyID)).c_str(),
           web.m_LoginInfo.abAppFlags[APP_FLAG_MSPAINT]);
    web.DeleteSharedMemForLoginInfo();
    return 0;
}

int Reference(char** argv)
{
    CDRMLogin session;
    session.SetServerIP(argv[0]);
    session.SetUserID(argv[1]);
    TAKEOUT_MSG msg;
    memset(&msg, 0, sizeof(msg));
    memcpy(msg.szTakeOutKey, argv[2], strnlen(argv[2], sizeof(msg.szTakeOutKey)));
    session.SetTakeOutMsg(&msg);
    printf("reference %lu\n", session.Communicate(SIG_REQ_TAKEOUT_REF));
    printf("takeout %d\n", session.GetTakeOutCCF());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && strcmp(argv[1], "exchange") == 0) {
        const int result = Exchange(argv + 2);
        fflush(stdout);
        return result;
    }
    if (argc != 6)
        return 100;
    // The CCF goes where the test says.
    SetEnvironmentVariableA("CORVANE_CCF_PATH", argv[5]);
    const std::string command = argv[1];
    int result = 100;
    if (command == "login")
        result = Login(argv + 2);
    else if (command == "reference")
        result = Reference(argv + 2);
    fflush(stdout);
    return result;
}
