#include "api/CWorkerCall.h"

#include <process.h>

namespace vlagt {

CWorkerCall::CWorkerCall()
    : m_nRefs(1), m_hDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_hModulePin(nullptr)
{
}

CWorkerCall::~CWorkerCall() = default;

bool CWorkerCall::Start(WorkerProc proc)
{
    if (!m_hDone)
        return false;
    HMODULE pin = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(proc)), &pin);
    m_hModulePin = pin;
    InterlockedIncrement(&m_nRefs);
    const uintptr_t thread = _beginthreadex(nullptr, 0, proc, this, 0, nullptr);
    if (thread == 0) {
        InterlockedDecrement(&m_nRefs);
        m_hModulePin = nullptr;
        if (pin != nullptr)
            FreeLibrary(pin);
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

bool CWorkerCall::WaitForSuccess(DWORD startTick, DWORD boundMs) const
{
    const DWORD elapsed = GetTickCount() - startTick;
    const DWORD remaining = elapsed < boundMs ? boundMs - elapsed : 0;
    if (!m_hDone) {
        // No event, so no worker: the call runs out its bound like any other that got no answer.
        Sleep(remaining);
        return false;
    }
    return WaitForSingleObject(m_hDone.Get(), remaining) == WAIT_OBJECT_0;
}

void CWorkerCall::ReportSuccess()
{
    SetEvent(m_hDone.Get());
}

void CWorkerCall::Release()
{
    if (InterlockedDecrement(&m_nRefs) == 0)
        delete this;
}

void CWorkerCall::EndWorker(CWorkerCall* call)
{
    const HMODULE pin = call->m_hModulePin;
    call->Release();
    if (pin != nullptr)
        FreeLibraryAndExitThread(pin, 0);
    _endthreadex(0);
}

} // namespace vlagt
