// vlpolicyd's decoding of a binary request body.
#include <stdint.h>

#include <string>

#include "FuzzCheck.h"
#include "WireFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* body = reinterpret_cast<const char*>(data);
    vlpolicy::DecodedRequest request;
    const bool decoded = vlpolicy::DecodeRequest(body, size, request);
    if (decoded) {
        // A decoded request starts with its tag and carries only what fits its fields.
        FUZZ_CHECK(vlpolicy::StartsWithSignalTag(body, size) || size == 11);
        FUZZ_CHECK(request.userID.size() <= 20 && request.password.size() <= 20);
        FUZZ_CHECK(request.takeOutKey.size() <= 50 && request.reason.size() <= size);
        const bool dated = request.kind == vlpolicy::RequestKind::TakeOut || request.kind == vlpolicy::RequestKind::Edit;
        if (dated) {
            FUZZ_CHECK(vlpolicy::IsValidDate(request.startDate) && vlpolicy::IsValidDate(request.endDate));
            FUZZ_CHECK(request.startDate <= request.endDate);
        }
        FUZZ_CHECK(vlpolicy::RequestKindName(request.kind) != nullptr);
    }
    // The same bytes decode the same way twice.
    vlpolicy::DecodedRequest again;
    FUZZ_CHECK(vlpolicy::DecodeRequest(body, size, again) == decoded);
    return 0;
}
