// TextCalls.h - the few Win32 text calls that the parsers make. In the module they are the
// system's; a native build of the parsers (the fuzz targets) links a small stand-in with a
// double-byte code page instead (lead bytes 0x81-0xFE, trail bytes 0x41-0xFE, as in the Korean
// code page), so that the multibyte paths run there too.
#pragma once

#if defined(_WIN32)

#include <mbctype.h>

#include "common/WinApi.h"

namespace vlagt {
// A lead byte of the process's multibyte code page (the C library's, which follows the ANSI code
// page unless a caller changed it).
inline bool IsMultibyteLead(unsigned char c)
{
    return _ismbblead(c) != 0;
}
} // namespace vlagt

#else

typedef int BOOL;
typedef unsigned char BYTE;
typedef char* LPSTR;
typedef const char* LPCSTR;

BOOL IsDBCSLeadByte(BYTE c);
LPSTR CharNextA(LPCSTR p);
int lstrcmpiA(LPCSTR a, LPCSTR b);

namespace vlagt {
inline bool IsMultibyteLead(unsigned char c)
{
    return IsDBCSLeadByte(c) != 0;
}
} // namespace vlagt

#endif
