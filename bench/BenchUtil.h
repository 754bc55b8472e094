// BenchUtil.h - what the exchange benchmarks share: a loopback server that plays one reply to every
// request, a bare WinINet exchange that does what the module's channel does and nothing else, and
// medians of interleaved timings.
#pragma once

#include "common/WinApi.h"

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

namespace bench {

// Seconds of a high-resolution clock.
inline double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One binary exchange the bare way: session, connection, POST request, send with buffers, one
// write, end of request, the read loop into a growing block, close. `debugLines` calls of
// OutputDebugStringA stand in for the module's lines. Returns the body length read.
inline size_t BareExchange(const std::string& host, INTERNET_PORT port, const char* path, const void* record,
                           DWORD length, int debugLines)
{
    for (int i = 0; i < debugLines; ++i)
        OutputDebugStringA("bench: a debug line of the bare exchange");
    HINTERNET session = InternetOpenA("HTTP_VL_CONTENT", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connect = InternetConnectA(session, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestA(connect, "POST", path, nullptr, nullptr, nullptr,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    INTERNET_BUFFERSA buffers = {};
    buffers.dwStructSize = sizeof(buffers);
    buffers.dwBufferTotal = length;
    std::vector<char> body;
    if (HttpSendRequestExA(request, &buffers, nullptr, 0, 0)) {
        DWORD written = 0;
        InternetWriteFile(request, record, length, &written);
        if (HttpEndRequestA(request, nullptr, 0, 0)) {
            std::vector<char> block;
            DWORD available = 0, read = 0;
            do {
                read = 0;
                InternetQueryDataAvailable(request, &available, 0, 0);
                block.resize(std::max<DWORD>(available, 1));
                if (!InternetReadFile(request, block.data(), available, &read))
                    read = 0;
                body.insert(body.end(), block.data(), block.data() + read);
            } while (read > 0);
        }
    }
    InternetCloseHandle(request);
    InternetCloseHandle(connect);
    InternetCloseHandle(session);
    return body.size();
}

inline volatile LONG g_debugLines = 0;

inline LONG CALLBACK CountLine(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode != 0x40010006) // DBG_PRINTEXCEPTION_C
        return EXCEPTION_CONTINUE_SEARCH;
    InterlockedIncrement(&g_debugLines);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Counts the debug lines the process writes while `work` runs (a vectored handler sees each
// OutputDebugStringA first).
template <typename Work>
int CountDebugLines(Work work)
{
    g_debugLines = 0;
    PVOID handler = AddVectoredExceptionHandler(1, &CountLine);
    work();
    RemoveVectoredExceptionHandler(handler);
    return static_cast<int>(g_debugLines);
}

inline void Row(const char* what, double seconds)
{
    printf("  %-48s %10.3f ms\n", what, seconds * 1000.0);
}

} // namespace bench
