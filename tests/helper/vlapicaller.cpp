// vlapicaller.exe - a caller that knows VLAgtClient.dll only by name: it loads it with LoadLibrary
// and calls the plain exports found with GetProcAddress, in the order given on the command line.
//
// Usage: vlapicaller <resultFile> <step>...
//   url:<serverURL>                         SetServerIP
//   login:<userID>:<password>               DRMAgentLogin
//   takeout:<start>:<end>:<reason>:<status>  TakeOutPC (dates padded to 8 bytes, reason to 256)
//   settakeoutinfo                          SetTakeOutInfo, with and without arguments
//   recovery                                RecoveryCCF
//   hold:<readyEvent>:<releaseEvent>        signal ready, wait for release (keeps the process alive)
//   acl:<userID>:<levelName>                GetACLInfo; writes "acl <result> <42 bytes in hex>"
//   ping                                    CheckPing
//   checkuser:<userID>                      CheckUserID
//   cd:<folder>                             SetCurrentDirectory (no result line)
//   unload                                  FreeLibrary on the DLL; no later step may call into it
//   loaded                                  writes "loaded 1" while the DLL is still in the process
//                                           (a thread of its own may hold it), "loaded 0" otherwise
//   waitunload:<ms>                         waits at most <ms> for the DLL to leave the process;
//                                           writes "waitunload 1" when it left, "waitunload 0" if not
//   threads                                 writes "threads <n>", the threads of this process
//   repeat:<n>                              runs the next step n times, each writing its line
// Each step that has a result writes one line "<step name> <result>" to resultFile.
// Exit code: 0 when every step ran, 100 on bad usage, 101 when the DLL or an export is missing.
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

using SetServerIPFn = void(__cdecl*)(char*);
using SetTakeOutInfoFn = void(__cdecl*)(void);
using SetTakeOutInfoArgsFn = void(__cdecl*)(int, int, int);
using DRMAgentLoginFn = unsigned long(__cdecl*)(char*, char*);
using TakeOutPCFn = unsigned long(__cdecl*)(char*, char*, char*, int);
using RecoveryCCFFn = int(__cdecl*)(void);
using GetACLInfoFn = int(__cdecl*)(char*, char*, void*);
using CheckPingFn = int(__cdecl*)(void);
using CheckUserIDFn = int(__cdecl*)(char*);

template <typename Fn>
Fn Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::vector<std::string> Split(const std::string& text)
{
    std::vector<std::string> parts;
    std::string::size_type begin = 0;
    for (;;) {
        const std::string::size_type colon = text.find(':', begin);
        // A URL keeps its own colons: "url:" takes the rest whole.
        if (!parts.empty() && (parts[0] == "url" || parts[0] == "cd")) {
            parts.push_back(text.substr(begin));
            return parts;
        }
        parts.push_back(text.substr(begin, colon == std::string::npos ? std::string::npos : colon - begin));
        if (colon == std::string::npos)
            return parts;
        begin = colon + 1;
    }
}

int ThreadsOfThisProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 100;
    HMODULE module = LoadLibraryA("VLAgtClient.dll");
    if (module == nullptr)
        return 101;
    auto setServerIP = Export<SetServerIPFn>(module, "SetServerIP");
    auto setTakeOutInfo = Export<SetTakeOutInfoFn>(module, "SetTakeOutInfo");
    auto login = Export<DRMAgentLoginFn>(module, "DRMAgentLogin");
    auto takeOut = Export<TakeOutPCFn>(module, "TakeOutPC");
    auto recovery = Export<RecoveryCCFFn>(module, "RecoveryCCF");
    if (!setServerIP || !setTakeOutInfo || !login || !takeOut || !recovery)
        return 101;

    FILE* out = fopen(argv[1], "w");
    if (out == nullptr)
        return 100;
    int exitCode = 0;
    int repeat = 0; // further runs of the current step
    for (int i = 2; i < argc && exitCode == 0; ++i) {
        std::vector<std::string> step = Split(argv[i]);
        const std::string& name = step[0];
        if (name == "repeat" && step.size() == 2) {
            repeat = atoi(step[1].c_str()) - 1;
            continue;
        }
        if (repeat > 0) {
            --repeat;
            --i; // the same step once more
        }
        if (name == "url" && step.size() == 2) {
            setServerIP(&step[1][0]);
        } else if (name == "login" && step.size() == 3) {
            fprintf(out, "login %lu\n", login(&step[1][0], &step[2][0]));
        } else if (name == "takeout" && step.size() == 5) {
            char start[8] = {}, end[8] = {}, reason[256] = {};
            memcpy(start, step[1].data(), step[1].size() < 8 ? step[1].size() : 8);
            memcpy(end, step[2].data(), step[2].size() < 8 ? step[2].size() : 8);
            memcpy(reason, step[3].data(), step[3].size() < 256 ? step[3].size() : 256);
            fprintf(out, "takeout %lu\n", takeOut(start, end, reason, atoi(step[4].c_str())));
        } else if (name == "settakeoutinfo") {
            setTakeOutInfo();
            reinterpret_cast<SetTakeOutInfoArgsFn>(reinterpret_cast<void*>(setTakeOutInfo))(1, 2, 3);
        } else if (name == "recovery") {
            fprintf(out, "recovery %d\n", recovery());
        } else if (name == "acl" && step.size() == 3) {
            auto getACLInfo = Export<GetACLInfoFn>(module, "GetACLInfo");
            if (getACLInfo == nullptr) {
                exitCode = 101;
                break;
            }
            unsigned char acl[42];
            memset(acl, 0xA5, sizeof(acl));
            fprintf(out, "acl %d ", getACLInfo(&step[1][0], &step[2][0], acl));
            for (unsigned char byte : acl)
                fprintf(out, "%02x", byte);
            fprintf(out, "\n");
        } else if (name == "ping") {
            auto checkPing = Export<CheckPingFn>(module, "CheckPing");
            if (checkPing == nullptr) {
                exitCode = 101;
                break;
            }
            fprintf(out, "ping %d\n", checkPing());
        } else if (name == "checkuser" && step.size() == 2) {
            auto checkUserID = Export<CheckUserIDFn>(module, "CheckUserID");
            if (checkUserID == nullptr) {
                exitCode = 101;
                break;
            }
            fprintf(out, "checkuser %d\n", checkUserID(&step[1][0]));
        } else if (name == "unload" && module != nullptr) {
            FreeLibrary(module);
            module = nullptr;
        } else if (name == "threads") {
            fprintf(out, "threads %d\n", ThreadsOfThisProcess());
        } else if (name == "loaded") {
            fprintf(out, "loaded %d\n", GetModuleHandleA("VLAgtClient.dll") != nullptr ? 1 : 0);
        } else if (name == "waitunload" && step.size() == 2) {
            const DWORD start = GetTickCount();
            const DWORD bound = static_cast<DWORD>(strtoul(step[1].c_str(), nullptr, 10));
            while (GetModuleHandleA("VLAgtClient.dll") != nullptr && GetTickCount() - start < bound)
                Sleep(20);
            fprintf(out, "waitunload %d\n", GetModuleHandleA("VLAgtClient.dll") == nullptr ? 1 : 0);
        } else if (name == "cd" && step.size() == 2) {
            if (!SetCurrentDirectoryA(step[1].c_str()))
                exitCode = 100;
        } else if (name == "hold" && step.size() == 3) {
            HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, step[1].c_str());
            HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, step[2].c_str());
            if (ready == nullptr || release == nullptr) {
                exitCode = 100;
                break;
            }
            fflush(out);
            SetEvent(ready);
            WaitForSingleObject(release, 30000);
            CloseHandle(ready);
            CloseHandle(release);
        } else {
            exitCode = 100;
        }
        fflush(out);
    }
    fclose(out);
    if (module != nullptr)
        FreeLibrary(module);
    return exitCode;
}
