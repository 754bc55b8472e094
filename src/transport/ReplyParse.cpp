#include "transport/ReplyParse.h"

#include <limits.h>
#include <string.h>

namespace vlagt {

int ReadDecimal(const char* text)
{
    if (text == nullptr)
        return 0;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return static_cast<int>(value < INT_MAX ? value : INT_MAX);
}

BinaryReply ParseBinaryReply(const char* body, size_t length)
{
    BinaryReply reply;
    if (body != nullptr && length > 0)
        memcpy(reply.szStatus, body, length < kReplyStatusLen ? length : kReplyStatusLen);
    reply.nStatus = ReadDecimal(reply.szStatus);
    // A success status needs all five bytes, so the record is what follows them.
    if (reply.nStatus == kReplyStatusSuccess) {
        reply.pRecord = body + kReplyStatusLen;
        reply.nRecordLen = length - kReplyStatusLen;
    }
    return reply;
}

size_t CopyReplyRecord(const char* record, size_t recordLen, void* dest, size_t destSize)
{
    if (record == nullptr || dest == nullptr)
        return 0;
    const size_t count = recordLen < destSize ? recordLen : destSize;
    if (count > 0)
        memcpy(dest, record, count);
    return count;
}

} // namespace vlagt
