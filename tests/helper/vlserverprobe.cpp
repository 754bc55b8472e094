// vlserverprobe.exe - drives the real module against a running policy server for the end-to-end
// test, and prints what it saw, one fact a line, on stdout.
//
// Usage: vlserverprobe login <url> <user> <password> <ccfPath>
//          DRMAgentLogin on the process-wide session, then what the shared record names; then a
//          session of its own logs in, writes the CCF and reads it back; a third logs in by the
//          web login.
//        vlserverprobe reference <url> <user> <takeOutKey> <ccfPath>
//          CDRMLogin::Communicate(SIG_REQ_TAKEOUT_REF), then the take-out state the CCF records.
// Exit code: 0 when the steps ran, 100 on bad usage.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "VLAgtClient.h"

namespace {

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
