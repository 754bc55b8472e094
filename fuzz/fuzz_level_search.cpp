// The document-level search of the ACL query: a level list from the server and a level name from
// the caller, compared as the module compares them (lstrcmpiA).
#include <stdint.h>
#include <string.h>

#include <vector>

#include "FuzzCheck.h"
#include "api/LevelSearch.h"
#include "common/TextCalls.h"

namespace {

int Compare(const char* left, const char* right)
{
    return lstrcmpiA(left, right);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DOC_LEVEL_LIST list;
    memset(&list, 0, sizeof(list));
    const size_t taken = size < sizeof(list) ? size : sizeof(list);
    memcpy(&list, data, taken);
    // The rest is the caller's level name, terminated.
    std::vector<char> name(data + taken, data + size);
    name.push_back('\0');

    const int32_t level = vlagt::FindDocLevel(list, name.data(), Compare, -12345);
    if (level != -12345) {
        bool listed = false;
        for (size_t i = 0; i < 10 && i < list.nCount; ++i)
            listed = listed || list.aLevels[i].nLevel == level;
        FUZZ_CHECK(listed);
    }
    (void)vlagt::FindDocLevel(list, nullptr, Compare, 0);
    return 0;
}
