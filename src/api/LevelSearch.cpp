#include "api/LevelSearch.h"

#include <string.h>

namespace vlagt {

int32_t FindDocLevel(const DOC_LEVEL_LIST& list, const char* levelName, LevelNameCompare compare,
                     int32_t noMatch)
{
    constexpr size_t kEntries = sizeof(list.aLevels) / sizeof(list.aLevels[0]);
    constexpr size_t kNameWidth = sizeof(list.aLevels[0].szName);
    static_assert(kNameWidth == kLevelNameMax, "entry names and level names have one width");

    char wanted[kLevelNameMax + 1] = {};
    if (levelName != nullptr)
        memcpy(wanted, levelName, strnlen(levelName, kLevelNameMax));

    const size_t count = list.nCount < kEntries ? list.nCount : kEntries;
    int32_t level = noMatch;
    for (size_t i = 0; i < count; ++i) {
        char name[kNameWidth + 1] = {};
        memcpy(name, list.aLevels[i].szName, kNameWidth);
        if (compare(wanted, name) == 0)
            level = list.aLevels[i].nLevel; // no early stop: the last match wins
    }
    return level;
}

} // namespace vlagt
