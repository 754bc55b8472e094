#include "common/DebugLog.h"

#include <stdarg.h>

#include "common/WinApi.h"

void DebugLog(const char* format, ...)
{
    char line[vlagt::kDebugLogBufferSize];
    va_list args;
    va_start(args, format);
    const int written = vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (written < 0)
        line[0] = '\0';
    line[sizeof(line) - 1] = '\0';
    OutputDebugStringA(line);
}
