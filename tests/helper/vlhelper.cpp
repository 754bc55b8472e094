// vlhelper.exe - a second process for cross-process tests. It is built the way any caller builds:
// against the public header (dllimport) and the import library, and loads VLAgtClient.dll.
//
// Usage: vlhelper <command> [arguments]; the exit code is the command's result.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>

#include "Corvane.h"
#include "VLAgtClient.h"

namespace {

constexpr int kBadUsage = 100;
constexpr int kFailed = 101;
constexpr DWORD kHoldMs = 30000;

// publish <userID> <readyEvent> <releaseEvent>: writes the user into the shared record, signals
// ready and holds the section open until released.
int Publish(int argc, char** argv)
{
    if (argc < 3)
        return kBadUsage;
    CDRMLogin session;
    if (!session.CreateSharedMemForLoginInfo())
        return kFailed;
    memset(session.m_pSharedInfo->szUserID, 0, sizeof(session.m_pSharedInfo->szUserID));
    const size_t length = strlen(argv[0]);
    memcpy(session.m_pSharedInfo->szUserID, argv[0],
           length < sizeof(session.m_pSharedInfo->szUserID) ? length : sizeof(session.m_pSharedInfo->szUserID));
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
    if (ready == nullptr || release == nullptr)
        return kFailed;
    SetEvent(ready);
    WaitForSingleObject(release, kHoldMs);
    CloseHandle(ready);
    CloseHandle(release);
    return 0;
}

// checklogin: CheckLogin of a fresh session attached to the shared record.
int CheckLogin(int, char**)
{
    CDRMLogin session;
    if (!session.CreateSharedMemForLoginInfo())
        return kFailed;
    return session.CheckLogin();
}

// sessionlog <userID> <password> <url>: runs the session's logging operations once.
int SessionLog(int argc, char** argv)
{
    if (argc < 3)
        return kBadUsage;
    CDRMLogin session;
    session.SetServerIP(argv[2]);
    session.SetUserInfo(argv[0], argv[1]);
    if (!session.CreateSharedMemForLoginInfo())
        return kFailed;
    session.DeleteSharedMemForLoginInfo();
    return 0;
}

// Copies a command-line text into a fixed-width field of a record (zero-filled, cut to the width).
void ToField(char* field, size_t width, const char* text)
{
    memset(field, 0, width);
    memcpy(field, text, strnlen(text, width));
}

// ccfcreate <userID> <companyID> <appList|->: a login reply with these values and fixed others,
// written into the CCF with FillCCFInfo and CreateCCF.
int CcfCreate(int argc, char** argv)
{
    if (argc < 3)
        return kBadUsage;
    CDRMLogin session;
    session.SetUserID(argv[0]);
    LOGIN_INFO& info = session.m_LoginInfo;
    ToField(info.szCompanyID, sizeof(info.szCompanyID), argv[1]);
    ToField(info.szPositionID, sizeof(info.szPositionID), "P-5");
    ToField(info.szSuperKey, sizeof(info.szSuperKey), "helper-key");
    ToField(info.szDKMS, sizeof(info.szDKMS), "dkms.helper");
    ToField(info.szDTSS, sizeof(info.szDTSS), "dtss.helper");
    ToField(info.szDLS, sizeof(info.szDLS), "dls.helper");
    info.nOfflinePolicy = 6;
    info.nOnlineControl = 7;
    info.nDocExchangePolicy = 8;
    info.nCountControl = 1;
    info.abAppFlags[0] = 1;
    if (strcmp(argv[2], "-") != 0) {
        const size_t length = strlen(argv[2]);
        session.m_pAppInfo = static_cast<char*>(malloc(length + 1));
        if (session.m_pAppInfo == nullptr)
            return kFailed;
        memcpy(session.m_pAppInfo, argv[2], length + 1);
    }
    session.FillCCFInfo();
    return session.CreateCCF() == 1 ? 0 : kFailed;
}

// ccfexpect <userID> <companyID> <takeOutStatus>: 0 when the CCF holds these values, else 1.
int CcfExpect(int argc, char** argv)
{
    if (argc < 3)
        return kBadUsage;
    CDRMLogin session;
    session.TestCCF();
    char userID[21] = {};
    session.GetUserID(userID);
    const bool same = strcmp(session.m_CCFInfo.szUserID, argv[0]) == 0 && strcmp(userID, argv[0]) == 0 &&
                      strcmp(session.m_CCFInfo.szCompanyID, argv[1]) == 0 &&
                      session.GetTakeOutCCF() == atoi(argv[2]);
    return same ? 0 : 1;
}

// ccfhammer <prefix> <count> <startEvent|-> <firstWriteEvent|->: after the start event, writes the
// fields <prefix>0 .. <prefix><count-1>, one CCCF object each; signals the second event after the
// first write.
int CcfHammer(int argc, char** argv)
{
    if (argc < 4)
        return kBadUsage;
    const int count = atoi(argv[1]);
    if (strcmp(argv[2], "-") != 0) {
        HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
        if (start == nullptr)
            return kFailed;
        WaitForSingleObject(start, kHoldMs);
        CloseHandle(start);
    }
    HANDLE firstWrite = strcmp(argv[3], "-") != 0 ? OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]) : nullptr;
    const std::string prefix = argv[0];
    char value[] = "v";
    for (int i = 0; i < count; ++i) {
        const std::string name = prefix + std::to_string(i);
        std::wstring wideName(name.begin(), name.end());
        {
            CCCF ccf;
            ccf.CheckCCFValidity();
            ccf.SetField(reinterpret_cast<unsigned short*>(&wideName[0]), value, sizeof(value));
        }
        if (i == 0 && firstWrite != nullptr)
            SetEvent(firstWrite);
    }
    if (firstWrite != nullptr)
        CloseHandle(firstWrite);
    return 0;
}

using Command = int (*)(int, char**);

const std::map<std::string, Command>& Commands()
{
    static const std::map<std::string, Command> commands = {
        {"publish", Publish},
        {"checklogin", CheckLogin},
        {"sessionlog", SessionLog},
        {"ccfcreate", CcfCreate},
        {"ccfexpect", CcfExpect},
        {"ccfhammer", CcfHammer},
    };
    return commands;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return kBadUsage;
    const auto found = Commands().find(argv[1]);
    if (found == Commands().end()) {
        fprintf(stderr, "vlhelper: unknown command %s\n", argv[1]);
        return kBadUsage;
    }
    return found->second(argc - 2, argv + 2);
}
