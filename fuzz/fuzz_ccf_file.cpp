// The CCF file text: what parses writes back to the same values, and what is written parses.
#include <stdint.h>

#include <string>

#include "CcfFormat.h"
#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    corvane::CcfValues values;
    if (!corvane::Parse(text, values)) {
        FUZZ_CHECK(values.empty());
        return 0;
    }
    const std::string written = corvane::Serialize(values);
    corvane::CcfValues again;
    FUZZ_CHECK(corvane::Parse(written, again));
    FUZZ_CHECK(again == values);
    FUZZ_CHECK(corvane::Serialize(again) == written);
    return 0;
}
