// ChannelTestUtil.h - small helpers shared by the transport tests.
#pragma once

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "transport/CWinInetApp.h"

namespace vlagt::test {

using Lines = std::vector<std::string>;

// The handle or address as the module's "%x" log lines show it.
inline std::string HexOf(const void* p)
{
    char text[16];
    snprintf(text, sizeof(text), "%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

// Brings a channel to the Ready state on `url`, as the dispatcher does.
inline void OpenChannel(CWinInetApp& app, const std::string& url)
{
    app.SetServerIP(url.c_str());
    app.HttpOpenApp();
    ASSERT_EQ(app.HttpConnectApp(), 1);
    ASSERT_EQ(app.HttpRequestApp(), 1);
}

inline const Lines& CloseLines()
{
    static const Lines lines{"InternetCloseHandle: m_hRequest", "InternetCloseHandle: m_hConnect",
                             "InternetCloseHandle: m_hSession"};
    return lines;
}

// True when `lines` holds `part` as a contiguous run.
inline bool HasRun(const Lines& lines, const Lines& part)
{
    if (part.size() > lines.size())
        return false;
    for (size_t i = 0; i + part.size() <= lines.size(); ++i) {
        bool match = true;
        for (size_t j = 0; j < part.size() && match; ++j)
            match = lines[i + j] == part[j];
        if (match)
            return true;
    }
    return false;
}

inline size_t CountLinesStartingWith(const Lines& lines, const std::string& prefix)
{
    size_t count = 0;
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            ++count;
    return count;
}

inline bool AllClosed(const CWinInetApp& app)
{
    return !app.m_hRequest && !app.m_hConnect && !app.m_hSession;
}

} // namespace vlagt::test
