// UserIDArgument.h - reading the caller's user ID without trusting the pointer.
#pragma once

#include <stddef.h>

namespace ossilet {

// The longest user ID taken, and the buffer that holds it with its terminator.
constexpr size_t kUserIDMax = 63;
constexpr size_t kUserIDSize = kUserIDMax + 1;

enum class ArgumentState
{
    Read,          // the ID and its terminator are in `out`
    Null,          // a null pointer
    Unreadable,    // some byte before the terminator lies in memory that cannot be read
    Unterminated   // no terminator within the first kUserIDSize bytes
};

// Copies the zero-terminated text at `text` into `out`. Each stretch of memory is checked with
// VirtualQuery before a byte of it is read, so unreadable memory is never touched; a short ID that
// ends just before unreadable memory reads like any other. `out` is meaningful only for Read.
ArgumentState ReadUserIDArgument(const char* text, char (&out)[kUserIDSize]);

} // namespace ossilet
