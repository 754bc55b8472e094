#include "DbwinListener.h"

#include <string.h>

namespace vlagt::test {

namespace {
constexpr DWORD kBufferSize = 4096;
}

DbwinListener::DbwinListener()
{
    m_ready.Reset(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY"));
    m_data.Reset(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY"));
    m_section.Reset(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, "DBWIN_BUFFER"));
    if (m_section)
        m_view.Reset(MapViewOfFile(m_section.Get(), FILE_MAP_READ, 0, 0, kBufferSize));
    if (!IsListening())
        return;
    m_started.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    m_thread = std::thread([this] { Run(); });
    WaitForSingleObject(m_started.Get(), 5000);
}

DbwinListener::~DbwinListener()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void DbwinListener::Run()
{
    const char* buffer = static_cast<const char*>(m_view.Get());
    SetEvent(m_ready.Get());
    SetEvent(m_started.Get());
    while (!m_stop) {
        if (WaitForSingleObject(m_data.Get(), 50) != WAIT_OBJECT_0)
            continue;
        Line line;
        memcpy(&line.processId, buffer, sizeof(DWORD));
        const char* text = buffer + sizeof(DWORD);
        const void* end = memchr(text, '\0', kBufferSize - sizeof(DWORD));
        line.text.assign(text, end ? static_cast<const char*>(end) - text : kBufferSize - sizeof(DWORD));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(std::move(line));
        }
        SetEvent(m_ready.Get());
    }
}

std::vector<std::string> DbwinListener::LinesOf(DWORD processId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (const Line& line : m_lines)
        if (line.processId == processId)
            lines.push_back(line.text);
    return lines;
}

bool DbwinListener::WaitForLine(DWORD processId, const std::string& text, DWORD timeoutMs) const
{
    const DWORD start = GetTickCount();
    for (;;) {
        for (const std::string& line : LinesOf(processId))
            if (line == text)
                return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(10);
    }
}

} // namespace vlagt::test
