// LevelSearch.h - which entry of the document-level list a level name selects.
//
// A pure function over its inputs: it calls no Win32 function of its own. The comparison is handed
// in (the module passes a case-insensitive comparison in the user's locale), so the search can also
// be built and exercised natively.
#pragma once

#include <stdint.h>

#include "VLAgtClient.h"

namespace vlagt {

// Compares two terminated texts; 0 means equal.
using LevelNameCompare = int (*)(const char* left, const char* right);

// The longest level name that is compared; longer names are cut to this length.
constexpr size_t kLevelNameMax = 20;

// The nLevel of the last entry, among the first nCount entries of `list` (at most the 10 the list
// holds), whose name equals `levelName` under `compare`; `noMatch` when none does. Entry names are
// 20-byte fields, read up to their first zero byte or their full width. A null levelName reads as
// an empty name.
int32_t FindDocLevel(const DOC_LEVEL_LIST& list, const char* levelName, LevelNameCompare compare,
                     int32_t noMatch = 0);

} // namespace vlagt
