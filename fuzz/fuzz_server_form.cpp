// vlpolicyd's decoding of the web login's form body.
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "WireFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::pair<std::string, std::string>> fields;
    if (!vlpolicy::DecodeForm(reinterpret_cast<const char*>(data), size, fields))
        return 0;
    size_t decoded = 0;
    for (const auto& field : fields) {
        FUZZ_CHECK(!field.first.empty());
        decoded += field.first.size() + field.second.size();
        FUZZ_CHECK(vlpolicy::FindFormField(fields, field.first) != nullptr);
    }
    // Decoding never makes a body longer than it was.
    FUZZ_CHECK(decoded <= size);
    return 0;
}
