#include "transport/ReplyCloser.h"

#include <process.h>

#include <new>
#include <utility>

namespace vlagt {

namespace {

volatile LONG g_nClosesRunning = 0;

// What one closing thread owns: the three handles and its reference on the module.
struct CutOffClose
{
    UniqueInternetHandle request;
    UniqueInternetHandle connect;
    UniqueInternetHandle session;
    UniqueModule modulePin;
};

void CloseInOrder(CutOffClose& job)
{
    job.request.Reset();
    job.connect.Reset();
    job.session.Reset();
}

unsigned __stdcall CloseThread(void* param)
{
    CutOffClose* job = static_cast<CutOffClose*>(param);
    CloseInOrder(*job);
    const HMODULE pin = job->modulePin.Release();
    delete job;
    InterlockedDecrement(&g_nClosesRunning);
    // The module's code must not run after its reference is let go: the library call that lets it
    // go also ends the thread.
    if (pin != nullptr)
        FreeLibraryAndExitThread(pin, 0);
    _endthreadex(0);
    return 0;
}

} // namespace

void CloseCutOffExchange(UniqueInternetHandle& request, UniqueInternetHandle& connect,
                         UniqueInternetHandle& session)
{
    if (request) {
        DWORD timeout = kCutOffReceiveTimeoutMs;
        InternetSetOptionA(request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    }
    // A place among the closes in flight, or the close runs here.
    if (InterlockedIncrement(&g_nClosesRunning) > kMaxCutOffCloses) {
        InterlockedDecrement(&g_nClosesRunning);
        request.Reset();
        connect.Reset();
        session.Reset();
        return;
    }
    CutOffClose* job = new (std::nothrow) CutOffClose;
    if (job == nullptr) {
        InterlockedDecrement(&g_nClosesRunning);
        request.Reset();
        connect.Reset();
        session.Reset();
        return;
    }
    job->request = std::move(request);
    job->connect = std::move(connect);
    job->session = std::move(session);
    HMODULE pin = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(&CloseThread)), &pin);
    job->modulePin.Reset(pin);

    const uintptr_t thread = _beginthreadex(nullptr, 0, &CloseThread, job, 0, nullptr);
    if (thread == 0) {
        // No thread: close here, slow as that may be, rather than leave the connection open.
        InterlockedDecrement(&g_nClosesRunning);
        CloseInOrder(*job);
        delete job; // lets go of the module reference
        return;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

LONG CutOffClosesRunning()
{
    return InterlockedCompareExchange(&g_nClosesRunning, 0, 0);
}

bool CutOffClosesAtCap()
{
    return CutOffClosesRunning() >= kMaxCutOffCloses;
}

} // namespace vlagt
