// HelperProcess.h - starts vlhelper.exe (a program built against the public header and the import
// library, like any caller) as a second process of the same prefix, for cross-process checks.
// The process is killed if it is still running when the object goes away.
#pragma once

#include <string>

#include "common/UniqueHandle.h"

namespace vlagt::test {

// The folder of the running test program, with a trailing backslash.
std::string ProgramFolder();

// A name unique to this process and call, for named events and the like.
std::string UniqueName(const std::string& stem);

class HelperProcess
{
public:
    // Starts "<program> <arguments>" from the test program's folder; Started tells whether it did.
    explicit HelperProcess(const std::string& arguments, const std::string& program = "vlhelper.exe");
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    bool Started() const { return m_process.IsValid(); }
    DWORD ProcessId() const { return m_processId; }
    // Waits up to timeoutMs for the exit; returns the exit code, or -1 on time-out.
    int Wait(DWORD timeoutMs);

private:
    UniqueKernelHandle m_process;
    DWORD m_processId = 0;
};

// A manual-reset named event owned by the test, for signalling a helper.
class NamedEvent
{
public:
    explicit NamedEvent(const std::string& name);
    const std::string& Name() const { return m_name; }
    void Set() { SetEvent(m_event.Get()); }
    bool Wait(DWORD timeoutMs) { return WaitForSingleObject(m_event.Get(), timeoutMs) == WAIT_OBJECT_0; }

private:
    std::string m_name;
    UniqueKernelHandle m_event;
};

} // namespace vlagt::test
