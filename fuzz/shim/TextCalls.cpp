// The Win32 text calls of the parsers, for a native build: a double-byte code page with lead
// bytes 0x81-0xFE (the Korean code page's range), so that every multibyte path of the parsers runs.
#include "common/TextCalls.h"

#include <ctype.h>

BOOL IsDBCSLeadByte(BYTE c)
{
    return c >= 0x81 && c <= 0xFE;
}

LPSTR CharNextA(LPCSTR p)
{
    if (*p == '\0')
        return const_cast<LPSTR>(p);
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0')
        return const_cast<LPSTR>(p + 2);
    return const_cast<LPSTR>(p + 1);
}

int lstrcmpiA(LPCSTR a, LPCSTR b)
{
    for (;; ++a, ++b) {
        const int ca = tolower(static_cast<unsigned char>(*a));
        const int cb = tolower(static_cast<unsigned char>(*b));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}
