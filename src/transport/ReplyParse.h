// ReplyParse.h - what the binary exchange reads out of a reply body, apart from the I/O: the
// five-digit status, the reply record behind it, the copy into the caller's area, and the bounds
// that stop a reply from growing without end. Pure functions over byte ranges; no Windows header.
#pragma once

#include <stddef.h>

namespace vlagt {

// The reply status: the first five bytes of a binary reply.
constexpr size_t kReplyStatusLen = 5;
constexpr int kReplyStatusSuccess = 40000;
// The most a binary reply (status included) and a web reply may hold; reading stops past it and
// the exchange fails. Legitimate replies are a few hundred bytes.
constexpr size_t kMaxBinaryReply = 16u * 1024u * 1024u;
constexpr size_t kMaxWebReply = 1024u * 1024u;
// The most a ping reply may hold (it is read 11 bytes at a time; the answer is one pong).
constexpr size_t kMaxPingReply = 64u * 1024u;

// The decimal value of a zero-terminated text the way the C library's atol reads it (leading
// white space, an optional sign, digits up to the first non-digit, 0 without digits), saturated
// at the int range instead of overflowing.
int ReadDecimal(const char* text);

// A binary reply body taken apart. pRecord points into the body; it is null (and nRecordLen 0)
// unless the status is 40000.
struct BinaryReply
{
    int nStatus = 0;
    char szStatus[10] = {}; // the status bytes as text, for the log: at most five, terminated
    const char* pRecord = nullptr;
    size_t nRecordLen = 0;
};

// Reads the status from the first five bytes of `body` (fewer when fewer arrived; never past
// `length`) and, on 40000, the reply record that follows them.
BinaryReply ParseBinaryReply(const char* body, size_t length);

// Copies the first min(recordLen, destSize) bytes of the record into dest (nothing when dest is
// null); the rest of dest is left as it was. Returns the count copied.
size_t CopyReplyRecord(const char* record, size_t recordLen, void* dest, size_t destSize);

} // namespace vlagt
