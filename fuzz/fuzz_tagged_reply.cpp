// The web reply text: the trailing-space trim and the look-up of every tag the module reads, on
// the text as the channel holds it (at most 9,999 bytes, zero-terminated).
#include <stdint.h>
#include <string.h>

#include <vector>

#include "FuzzCheck.h"
#include "transport/TaggedReply.h"

namespace {

const char* const kTags[] = {
    "Result", "OFFLINEPOLICY", "DOCEXCHANGEPOLICY", "COUNTCONTROL", "TIMESYNC", "ONLINECONTROL",
    "PROTECTREMOTETOOL", "COMPANY_SUPERKEY", "USER_POSCODE", "COMPANY_ID", "DKMS", "DTSS", "DLS",
    "XLS", "DOC", "PPT", "HWP", "GUL", "TXT", "KODAK", "DWG", "MSPAINT",
    "", "0123456789012345678901234567890123456789012345", "01234567890123456789012345678901234567890123456",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t kKept = 9999;
    const size_t length = size < kKept ? size : kKept;
    std::vector<char> text(data, data + length);
    text.push_back('\0');
    const size_t before = strlen(text.data());

    vlagt::TrimTrailingSpace(text.data());
    const size_t after = strlen(text.data());
    FUZZ_CHECK(after <= before);
    vlagt::TrimTrailingSpace(text.data());
    FUZZ_CHECK(strlen(text.data()) == after); // trimming twice changes nothing

    for (const char* tag : kTags) {
        const vlagt::TaggedValue found = vlagt::FindTaggedValue(text.data(), tag);
        if (found.result == vlagt::TagLookup::Found) {
            FUZZ_CHECK(found.pValue >= text.data() && found.pValue + found.nLength <= text.data() + after);
            FUZZ_CHECK(strncmp(found.pValue - strlen(found.szOpenTag), found.szOpenTag, strlen(found.szOpenTag)) == 0);
            FUZZ_CHECK(strncmp(found.pValue + found.nLength, found.szCloseTag, strlen(found.szCloseTag)) == 0);
        } else {
            FUZZ_CHECK(found.pValue == nullptr && vlagt::DecimalOfValue(found) == 0);
        }
        if (strlen(tag) > vlagt::kMaxTagName)
            FUZZ_CHECK(found.result == vlagt::TagLookup::BadTag);
        (void)vlagt::DecimalOfValue(found);
    }
    return 0;
}
