#include "UserIDArgument.h"

#include "common/WinApi.h"

namespace ossilet {

namespace {

bool IsReadable(const MEMORY_BASIC_INFORMATION& region)
{
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return region.State == MEM_COMMIT && (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0 &&
           (region.Protect & kReadable) != 0;
}

} // namespace

ArgumentState ReadUserIDArgument(const char* text, char (&out)[kUserIDSize])
{
    if (text == nullptr)
        return ArgumentState::Null;
    const char* cursor = text;
    size_t copied = 0;
    while (copied < kUserIDSize) {
        MEMORY_BASIC_INFORMATION region = {};
        if (VirtualQuery(cursor, &region, sizeof(region)) < sizeof(region) || !IsReadable(region))
            return ArgumentState::Unreadable;
        // Bytes left in this region from the cursor on; counted, so that a region at the top of the
        // address space cannot wrap a pointer.
        size_t available = region.RegionSize - static_cast<size_t>(cursor - static_cast<const char*>(region.BaseAddress));
        for (; available > 0 && copied < kUserIDSize; --available, ++cursor, ++copied) {
            out[copied] = *cursor;
            if (*cursor == '\0')
                return ArgumentState::Read;
        }
    }
    return ArgumentState::Unterminated;
}

} // namespace ossilet
