#include "policy/AppList.h"

#include <string.h>

namespace vlagt {

namespace {

constexpr char kSeparator = '|';

// The next name of the list at `cursor`: empty names between adjacent separators are skipped.
// False when the list holds no further name.
bool NextName(const char*& cursor, const char*& name, size_t& length)
{
    while (*cursor == kSeparator)
        ++cursor;
    if (*cursor == '\0')
        return false;
    name = cursor;
    while (*cursor != '\0' && *cursor != kSeparator)
        ++cursor;
    length = static_cast<size_t>(cursor - name);
    return true;
}

} // namespace

std::vector<AppLibraryPair> SplitAppList(const char* list)
{
    std::vector<AppLibraryPair> pairs;
    if (list == nullptr)
        return pairs;
    const char* cursor = list;
    const char* app = nullptr;
    const char* dll = nullptr;
    size_t appLength = 0, dllLength = 0;
    while (NextName(cursor, app, appLength)) {
        if (!NextName(cursor, dll, dllLength))
            break;
        if (appLength >= kAppNameSize || dllLength >= kAppNameSize)
            continue;
        AppLibraryPair pair;
        memcpy(pair.szApp, app, appLength);
        memcpy(pair.szDll, dll, dllLength);
        pair.nDllLength = dllLength;
        pairs.push_back(pair);
    }
    return pairs;
}

} // namespace vlagt
