#include "CDebugMonitor.h"

#include <string.h>

namespace vlagt::tool {

namespace {
constexpr DWORD kBufferSize = 4096;
constexpr DWORD kPollMs = 100;
} // namespace

bool CDebugMonitor::Open(std::string& error)
{
    const char* busy = "another debug monitor is running (\"DBWIN_BUFFER_READY\" already exists); stop it first";
    SetLastError(0);
    m_bufferReady.Reset(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY"));
    if (m_bufferReady && GetLastError() == ERROR_ALREADY_EXISTS) {
        m_bufferReady.Reset();
        error = busy;
        return false;
    }
    SetLastError(0);
    m_dataReady.Reset(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY"));
    if (m_dataReady && GetLastError() == ERROR_ALREADY_EXISTS) {
        m_dataReady.Reset();
        m_bufferReady.Reset();
        error = "another debug monitor is running (\"DBWIN_DATA_READY\" already exists); stop it first";
        return false;
    }
    SetLastError(0);
    m_section.Reset(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, "DBWIN_BUFFER"));
    if (m_section && GetLastError() == ERROR_ALREADY_EXISTS) {
        m_section.Reset();
        m_dataReady.Reset();
        m_bufferReady.Reset();
        error = "another debug monitor is running (\"DBWIN_BUFFER\" already exists); stop it first";
        return false;
    }
    if (m_section)
        m_view.Reset(MapViewOfFile(m_section.Get(), FILE_MAP_READ, 0, 0, kBufferSize));
    if (!m_bufferReady || !m_dataReady || !m_view) {
        error = "cannot create the debug-output buffer (error " + std::to_string(GetLastError()) + ")";
        m_view.Reset();
        m_section.Reset();
        m_dataReady.Reset();
        m_bufferReady.Reset();
        return false;
    }
    return true;
}

void CDebugMonitor::Run(const std::function<bool(const Line&)>& sink, const std::function<bool()>& stop)
{
    const char* buffer = static_cast<const char*>(m_view.Get());
    SetEvent(m_bufferReady.Get());
    while (!stop()) {
        if (WaitForSingleObject(m_dataReady.Get(), kPollMs) != WAIT_OBJECT_0)
            continue;
        Line line;
        GetLocalTime(&line.time);
        memcpy(&line.processId, buffer, sizeof(DWORD));
        const char* text = buffer + sizeof(DWORD);
        const size_t room = kBufferSize - sizeof(DWORD);
        const void* end = memchr(text, '\0', room);
        line.text.assign(text, end != nullptr ? static_cast<const char*>(end) - text : room);
        // The writer may go on only once the text is copied out.
        SetEvent(m_bufferReady.Get());
        while (!line.text.empty() && (line.text.back() == '\n' || line.text.back() == '\r'))
            line.text.pop_back();
        if (!sink(line))
            break;
    }
}

} // namespace vlagt::tool
