// DebugCapture.h - captures the debug lines of this process, in order, byte for byte.
//
// OutputDebugStringA raises DBG_PRINTEXCEPTION_C before anything else; a vectored handler copies
// the text and continues execution. It sees this process's lines only, synchronously, so tests
// that run side by side never see each other's lines. One capture is active at a time.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "common/WinApi.h"

namespace vlagt::test {

class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    // The lines captured so far, oldest first.
    std::vector<std::string> Lines() const;
    // Drops what was captured so far.
    void Clear();
    // True when some captured line contains `text`.
    bool Contains(const std::string& text) const;
    // The lines written by one thread, oldest first.
    std::vector<std::string> LinesOf(DWORD threadId) const;

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info);

    PVOID m_handler = nullptr;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<DWORD> m_threads; // the writer of each line
};

} // namespace vlagt::test
