// CheckPing and its worker: is the policy server there?
#include <new>

#include "api/WorkerQueries.h"
#include "common/DebugLog.h"
#include "session/SessionConstants.h"

volatile LONG g_bPingOK = 0;

namespace {

// The worker's ping on a private session; true when the server answered it.
bool Ping(PING_PARAM& param)
{
    vlagt::UniqueKernelHandle mutex(CreateMutexA(nullptr, FALSE, vlagt::kPingWorkerMutex));
    CDRMLogin session;
    if (session.GetServerIP() == 0)
        return false; // no server configured: no request and no line
    const unsigned long status = session.Communicate(SIG_REQ_PING);
    if (status != vlagt::kStatusSuccess) {
        DebugLog("[CheckPing] Communicate ERROR [%d]", static_cast<int>(status));
        return false;
    }
    mutex.Reset();
    param.ReportSuccess();
    return true;
}

} // namespace

unsigned __stdcall PingThread(void* argument)
{
    PING_PARAM* param = static_cast<PING_PARAM*>(argument);
    const bool ok = Ping(*param);
    InterlockedExchange(&g_bPingOK, ok ? 1 : 0);
    vlagt::CWorkerCall::EndWorker(param);
}

extern "C" int __cdecl CheckPing(void)
{
    int result = 0;
    PING_PARAM* param = new (std::nothrow) PING_PARAM;
    if (param != nullptr) {
        const DWORD start = GetTickCount();
        param->Start(PingThread);
        result = param->WaitForSuccess(start, vlagt::kQueryBoundMs) ? 1 : 0;
        param->Release();
    }
    DebugLog(result == 1 ? "[CheckPing] TRUE" : "[CheckPing] FALSE : Time Out");
    return result;
}
