// DebugLog.h - the module's one log function.
#pragma once

#include <stdio.h>

// Formats one line into a 4096-byte buffer and hands it whole to OutputDebugStringA: one call, one
// debug string, nothing added. A line longer than the buffer is cut at 4095 bytes.
void DebugLog(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));

namespace vlagt {
constexpr size_t kDebugLogBufferSize = 4096;
}
