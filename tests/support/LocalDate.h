// LocalDate.h - today's local date moved by a number of days, as "YYYYMMDD".
#pragma once

#include <stdio.h>

#include <string>

#include "common/WinApi.h"

namespace vlagt::test {

inline std::string LocalDate(int days)
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    now.wHour = 12; // away from midnight, so whole days never skip one
    ULARGE_INTEGER ticks;
    SystemTimeToFileTime(&now, reinterpret_cast<FILETIME*>(&ticks));
    ticks.QuadPart += static_cast<long long>(days) * 864000000000LL;
    FileTimeToSystemTime(reinterpret_cast<FILETIME*>(&ticks), &now);
    char text[16];
    snprintf(text, sizeof(text), "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

} // namespace vlagt::test
