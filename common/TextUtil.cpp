#include "common/TextUtil.h"

#include <string.h>

namespace vlagt {

size_t FieldLength(const char* field, size_t width)
{
    if (field == nullptr)
        return 0;
    const void* end = memchr(field, '\0', width);
    return end ? static_cast<size_t>(static_cast<const char*>(end) - field) : width;
}

void CopyTerminated(char* dest, size_t destSize, const char* source)
{
    if (dest == nullptr || destSize == 0)
        return;
    memset(dest, 0, destSize);
    if (source == nullptr)
        return;
    memcpy(dest, source, FieldLength(source, destSize - 1));
}

void CopyToField(char* field, size_t width, const char* source)
{
    memset(field, 0, width);
    if (source == nullptr)
        return;
    memcpy(field, source, FieldLength(source, width));
}

} // namespace vlagt
