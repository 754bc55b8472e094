#include "DebugCapture.h"

#include <atomic>
#include <stdexcept>

namespace vlagt::test {

namespace {
std::atomic<DebugCapture*> g_active{nullptr};
constexpr DWORD kDbgPrintException = 0x40010006; // DBG_PRINTEXCEPTION_C
} // namespace

DebugCapture::DebugCapture()
{
    DebugCapture* expected = nullptr;
    if (!g_active.compare_exchange_strong(expected, this))
        throw std::logic_error("only one DebugCapture may be active");
    m_handler = AddVectoredExceptionHandler(1, &DebugCapture::Handler);
}

DebugCapture::~DebugCapture()
{
    if (m_handler)
        RemoveVectoredExceptionHandler(m_handler);
    g_active.store(nullptr);
}

LONG CALLBACK DebugCapture::Handler(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != kDbgPrintException || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    DebugCapture* self = g_active.load();
    if (self == nullptr)
        return EXCEPTION_CONTINUE_SEARCH;
    const size_t lengthWithTerminator = static_cast<size_t>(record->ExceptionInformation[0]);
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    std::string line;
    if (text != nullptr && lengthWithTerminator > 0)
        line.assign(text, lengthWithTerminator - 1);
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_lines.push_back(std::move(line));
        self->m_threads.push_back(GetCurrentThreadId());
    }
    return EXCEPTION_CONTINUE_EXECUTION;
}

std::vector<std::string> DebugCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

void DebugCapture::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
    m_threads.clear();
}

bool DebugCapture::Contains(const std::string& text) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const std::string& line : m_lines)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> DebugCapture::LinesOf(DWORD threadId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (m_threads[i] == threadId)
            lines.push_back(m_lines[i]);
    return lines;
}

} // namespace vlagt::test
