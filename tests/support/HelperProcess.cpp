#include "HelperProcess.h"

#include <atomic>
#include <vector>

namespace vlagt::test {

std::string ProgramFolder()
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    const std::string::size_type slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

std::string UniqueName(const std::string& stem)
{
    static std::atomic<unsigned> counter{0};
    return stem + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
}

HelperProcess::HelperProcess(const std::string& arguments, const std::string& program)
{
    const std::string exe = ProgramFolder() + program;
    std::string commandLine = "\"" + exe + "\" " + arguments;
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        m_process.Reset(info.hProcess);
        m_processId = info.dwProcessId;
    }
}

HelperProcess::~HelperProcess()
{
    if (m_process && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process.Get(), 1);
        WaitForSingleObject(m_process.Get(), 5000);
    }
}

int HelperProcess::Wait(DWORD timeoutMs)
{
    if (!m_process || WaitForSingleObject(m_process.Get(), timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_process.Get(), &code);
    return static_cast<int>(code);
}

NamedEvent::NamedEvent(const std::string& name)
    : m_name(name), m_event(CreateEventA(nullptr, TRUE, FALSE, name.c_str()))
{
}

} // namespace vlagt::test
