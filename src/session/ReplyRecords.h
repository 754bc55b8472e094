// ReplyRecords.h - what the dispatcher reads out of the reply records, apart from the I/O: the
// login reply with its application list, the ACL reply and the document-level list. Pure functions
// over byte ranges; lengths come from what was received, never from what a record claims.
#pragma once

#include <stddef.h>

#include "VLAgtClient.h"

namespace vlagt {

// The application list's length: a plain decimal number in its 14-byte field (digits, then zero
// fill). Anything else counts as 0.
size_t ParseAppInfoLength(const char (&field)[14]);

// The application list of a login reply, inside the reply record.
struct AppInfoText
{
    const char* pText = nullptr;
    size_t nLength = 0;
};

// Fills `info` (cleared first) with the first min(length, 304) bytes of the login reply record
// and returns the application list that follows them: as long as the record's length field says,
// but never past the bytes received.
AppInfoText ParseLoginReply(const char* record, size_t length, LOGIN_INFO& info);

// The ACL data of an ACL reply record (bytes 11-52); `acl` is cleared first, and bytes the record
// does not hold stay zero.
void ParseAclReply(const char* record, size_t length, ACL_INFO& acl);

// The document-level list of a level-list reply record (bytes 11-251), the same way.
void ParseLevelListReply(const char* record, size_t length, DOC_LEVEL_LIST& list);

} // namespace vlagt
