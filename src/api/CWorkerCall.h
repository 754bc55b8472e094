// CWorkerCall.h - ties one query call to the one worker thread it starts.
//
// The block is shared by the caller and its worker and deleted by whichever lets go of it last (an
// interlocked count of holders, two once the worker runs). The worker reports success by setting
// the block's own event and never touches the caller's memory; the caller waits on that event with
// its bound, so only a success of its own worker can end the wait early, and a failing worker leaves
// the caller waiting until the bound. The worker thread's handle is closed at once: nobody waits for
// a worker to end.
//
// While a worker runs it holds a reference on the module that contains its code, so a caller that
// gave up may unload the module without pulling the code from under a worker that is still talking
// to the server.
#pragma once

#include "common/UniqueHandle.h"
#include "common/WinApi.h"

namespace vlagt {

class CWorkerCall
{
public:
    using WorkerProc = unsigned(__stdcall*)(void*);

    CWorkerCall(const CWorkerCall&) = delete;
    CWorkerCall& operator=(const CWorkerCall&) = delete;

    // Caller: starts `proc` on a new thread with this block as its argument. False when no thread
    // was started; the block then has the caller as its only holder.
    bool Start(WorkerProc proc);
    // Caller: true when the worker reported success before `boundMs` had passed since `startTick`
    // (a GetTickCount value; the difference is taken unsigned, so a wrap of the counter is harmless).
    bool WaitForSuccess(DWORD startTick, DWORD boundMs) const;
    // Worker: tells the waiting caller that the result in the block is ready.
    void ReportSuccess();
    // Drops one holder; the last one deletes the block.
    void Release();

    // The worker's last act: lets go of the block and of the module reference, and ends the thread.
    [[noreturn]] static void EndWorker(CWorkerCall* call);

protected:
    CWorkerCall();
    virtual ~CWorkerCall();

private:
    volatile LONG m_nRefs;
    UniqueKernelHandle m_hDone;    // manual-reset; set by the worker on success only
    HMODULE m_hModulePin;          // the worker's reference on its module, or null
};

} // namespace vlagt
