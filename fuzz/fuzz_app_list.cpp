// The application list of the login reply, split into application/library pairs.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "FuzzCheck.h"
#include "policy/AppList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char> list(data, data + size);
    list.push_back('\0');
    for (const vlagt::AppLibraryPair& pair : vlagt::SplitAppList(list.data())) {
        const size_t app = strnlen(pair.szApp, sizeof(pair.szApp));
        const size_t dll = strnlen(pair.szDll, sizeof(pair.szDll));
        FUZZ_CHECK(app > 0 && app < sizeof(pair.szApp));
        FUZZ_CHECK(dll > 0 && dll < sizeof(pair.szDll) && dll == pair.nDllLength);
        FUZZ_CHECK(memchr(pair.szApp, '|', app) == nullptr && memchr(pair.szDll, '|', dll) == nullptr);
        FUZZ_CHECK(strstr(list.data(), pair.szApp) != nullptr && strstr(list.data(), pair.szDll) != nullptr);
    }
    FUZZ_CHECK(vlagt::SplitAppList(nullptr).empty());
    return 0;
}
