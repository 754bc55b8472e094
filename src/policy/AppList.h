// AppList.h - the application list of the login reply taken apart, apart from the policy library:
// names separated by "|", an application followed by its library, pair after pair. A pure
// function over a zero-terminated text.
#pragma once

#include <stddef.h>

#include <vector>

namespace vlagt {

// Each name is held in a 50-byte buffer: at most 49 characters and the terminator.
constexpr size_t kAppNameSize = 50;

struct AppLibraryPair
{
    char szApp[kAppNameSize] = {};
    char szDll[kAppNameSize] = {};
    size_t nDllLength = 0;
};

// The pairs of the list in order. Empty names between adjacent separators are skipped; an
// application without a library after it ends the list; a pair with a name of 50 characters or
// more is skipped (cut, it would name another program). A null list gives no pair.
std::vector<AppLibraryPair> SplitAppList(const char* list);

} // namespace vlagt
