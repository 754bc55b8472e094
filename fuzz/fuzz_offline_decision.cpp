// The offline check's decision: the caller's ID and the CCF's values (user, take-out state and
// period, latest date seen) as the file may hold them, and today's date.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "OfflineDecision.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Seven texts separated by zero bytes; the first byte of the input is the take-out state.
    if (size == 0)
        return 0;
    const int status = static_cast<int>(data[0] % 4);
    std::vector<std::string> texts;
    std::string current;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == '\0') {
            texts.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    texts.push_back(current);
    texts.resize(6);
    if (texts[0].size() > 63)
        texts[0].resize(63);

    ossilet::OfflineFacts facts{texts[0].c_str(), texts[1].c_str(), status, texts[2].c_str(),
                                texts[3].c_str(), texts[4].c_str(), texts[5].c_str()};
    const ossilet::OfflineDecision decision = ossilet::Decide(facts);
    FUZZ_CHECK(strnlen(decision.line, sizeof(decision.line)) < sizeof(decision.line));
    if (decision.accepted) {
        long start = 0, end = 0, today = 0;
        FUZZ_CHECK(status == ossilet::kTakeOutApproved);
        FUZZ_CHECK(!texts[0].empty() && ossilet::SameUserID(texts[0].c_str(), texts[1].c_str()));
        FUZZ_CHECK(ossilet::ParseDate(texts[2].c_str(), &start) && ossilet::ParseDate(texts[3].c_str(), &end));
        FUZZ_CHECK(ossilet::ParseDate(texts[5].c_str(), &today) && start <= today && today <= end);
    }
    long day = 0;
    if (ossilet::ParseDate(texts[5].c_str(), &day))
        FUZZ_CHECK(texts[5].size() == 8);
    return 0;
}
