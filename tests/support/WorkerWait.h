// WorkerWait.h - waiting for the worker threads of GetACLInfo and CheckPing: a worker holds its
// named mutex ("VLAclInfo", "VLPing") while it runs.
#pragma once

#include <windows.h>

namespace vlagt::test {

// True once no worker of the kind holds its mutex; false after about 10 s.
inline bool WaitForWorkersToEnd(const char* mutexName)
{
    for (int i = 0; i < 500; ++i) {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, mutexName);
        if (mutex == nullptr)
            return true;
        CloseHandle(mutex);
        Sleep(20);
    }
    return false;
}

} // namespace vlagt::test
