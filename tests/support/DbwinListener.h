// DbwinListener.h - reads the debug lines of other processes through the DBWIN protocol, the way a
// debug monitor does. The objects are global to the Wine prefix, so only one listener may run at a
// time; the suite runs its test processes one after another.
//
// Start the listener before the process whose lines are wanted: OutputDebugStringA of a process
// that finds no listener sends nothing.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/UniqueHandle.h"

namespace vlagt::test {

class DbwinListener
{
public:
    struct Line
    {
        DWORD processId;
        std::string text;
    };

    // Creates the objects and starts the reading thread; returns once the thread is reading.
    DbwinListener();
    ~DbwinListener();
    DbwinListener(const DbwinListener&) = delete;
    DbwinListener& operator=(const DbwinListener&) = delete;

    bool IsListening() const { return m_ready.IsValid() && m_data.IsValid() && m_view.IsValid(); }
    // The lines of one process, oldest first.
    std::vector<std::string> LinesOf(DWORD processId) const;
    // Waits up to timeoutMs until `processId` has written a line equal to `text`.
    bool WaitForLine(DWORD processId, const std::string& text, DWORD timeoutMs) const;

private:
    void Run();

    UniqueKernelHandle m_ready;
    UniqueKernelHandle m_data;
    UniqueKernelHandle m_section;
    UniqueMappedView m_view;
    UniqueKernelHandle m_started;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
};

} // namespace vlagt::test
