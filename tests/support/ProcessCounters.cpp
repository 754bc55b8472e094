#include "ProcessCounters.h"

#include <malloc.h>

#include "common/WinApi.h"


namespace vlagt::test {

size_t HandleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

size_t HeapBytesInUse()
{
    // The C library's heap, where malloc, new and the module's blocks live.
    _HEAPINFO entry{};
    size_t total = 0;
    while (_heapwalk(&entry) == _HEAPOK)
        if (entry._useflag == _USEDENTRY)
            total += entry._size;
    return total;
}

} // namespace vlagt::test
