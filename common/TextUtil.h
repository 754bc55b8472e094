// TextUtil.h - bounded copies between terminated strings and fixed-width fields.
#pragma once

#include <stddef.h>

namespace vlagt {

// Length of a fixed-width field read as text: up to the first zero byte, at most `width`.
size_t FieldLength(const char* field, size_t width);

// Copies `source` into `dest` of `destSize` bytes: at most destSize - 1 characters, always
// terminated, the rest of `dest` zero-filled. A null source gives an empty string.
void CopyTerminated(char* dest, size_t destSize, const char* source);

// Copies at most `width` characters of `source` (up to its terminator) into a fixed-width field,
// zero-filling the rest; the field is not terminated when the text fills it.
void CopyToField(char* field, size_t width, const char* source);

} // namespace vlagt
