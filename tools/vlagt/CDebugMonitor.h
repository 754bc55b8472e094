// CDebugMonitor.h - a live monitor of the debug output of every process of the logon (of the Wine
// prefix), through the DBWIN protocol: the events "DBWIN_BUFFER_READY" and "DBWIN_DATA_READY" and
// the 4096-byte section "DBWIN_BUFFER" (the writer's process id, then the text).
//
// There is one buffer per logon: a second monitor would steal lines from the first, so Open refuses
// when the objects already exist.
#pragma once

#include <functional>
#include <string>

#include "common/UniqueHandle.h"

namespace vlagt::tool {

class CDebugMonitor
{
public:
    struct Line
    {
        SYSTEMTIME time; // local time the line was read
        DWORD processId;
        std::string text; // without trailing line ends
    };

    CDebugMonitor() = default;
    CDebugMonitor(const CDebugMonitor&) = delete;
    CDebugMonitor& operator=(const CDebugMonitor&) = delete;

    // Creates the objects; false with `error` set when another monitor holds them or they cannot
    // be created.
    bool Open(std::string& error);

    // Reads lines and hands each to `sink` until `stop` returns true (asked at least every 100 ms)
    // or `sink` returns false.
    void Run(const std::function<bool(const Line&)>& sink, const std::function<bool()>& stop);

private:
    UniqueKernelHandle m_bufferReady;
    UniqueKernelHandle m_dataReady;
    UniqueKernelHandle m_section;
    UniqueMappedView m_view;
};

} // namespace vlagt::tool
