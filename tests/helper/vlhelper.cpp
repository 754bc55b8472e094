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

using Command = int (*)(int, char**);

const std::map<std::string, Command>& Commands()
{
    static const std::map<std::string, Command> commands = {
        {"publish", Publish},
        {"checklogin", CheckLogin},
        {"sessionlog", SessionLog},
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
