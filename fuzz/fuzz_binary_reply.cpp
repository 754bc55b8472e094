// The binary reply body: status, record, and the copy into the caller's area of every size the
// dispatcher passes.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "FuzzCheck.h"
#include "transport/ReplyParse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The body lives in a block of exactly its size, so that any read past it is reported.
    std::vector<char> body(data, data + size);
    const vlagt::BinaryReply reply = vlagt::ParseBinaryReply(body.data(), body.size());
    FUZZ_CHECK(strlen(reply.szStatus) <= vlagt::kReplyStatusLen);
    if (reply.nStatus == vlagt::kReplyStatusSuccess) {
        FUZZ_CHECK(size >= vlagt::kReplyStatusLen);
        FUZZ_CHECK(reply.pRecord == body.data() + vlagt::kReplyStatusLen);
        FUZZ_CHECK(reply.nRecordLen == size - vlagt::kReplyStatusLen);
    } else {
        FUZZ_CHECK(reply.pRecord == nullptr && reply.nRecordLen == 0);
    }
    for (size_t destSize : {0u, 53u, 85u, 252u, 373u}) {
        std::vector<char> dest(destSize + 1, '\xEE');
        const size_t copied = vlagt::CopyReplyRecord(reply.pRecord, reply.nRecordLen, dest.data(), destSize);
        FUZZ_CHECK(copied <= destSize && copied <= reply.nRecordLen);
        FUZZ_CHECK(dest[destSize] == '\xEE');
    }
    return 0;
}
