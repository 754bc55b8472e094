// RequestHead.h - the checks of a request's head made before the HTTP library reads it: the head's
// size and field count, and a body framing this server can bound (a Content-Length within the
// limit; no transfer coding, no content coding). Pure functions on bytes.
#pragma once

#include <stddef.h>

#include <string>

#include "HttpLimits.h"

namespace vlpolicy {

struct RequestHead
{
    // 0 while the head is acceptable (or not yet whole); otherwise the status of the refusal.
    int status = 0;
    // Bytes of the input up to and including the blank line that ends the head; 0 while the head is
    // not whole yet (status 0) or when it is refused.
    size_t length = 0;
    size_t contentLength = 0;
    bool expectContinue = false; // the client waits for "100 Continue" before it sends the body
    // The head as the HTTP library gets it: without leading blank lines and without Expect.
    std::string forward;
};

// Examines the head at the start of input. A head that is not whole yet comes back with status 0
// and length 0 unless input is already over the limit (431). Refusals: 400 for a head that is not
// well formed (a bare CR or LF, a field without a name or with white space before its colon, a
// folded line, more than one or a non-numeric Content-Length), 411 for a transfer coding or a
// POST, PUT or PATCH without Content-Length, 413 for a Content-Length over the limit, 415 for a
// content coding, 431 for a head over its size or field count.
RequestHead ParseRequestHead(const std::string& input, const HttpLimits& limits);

// The reason phrase of the statuses the checks answer ("" for others).
const char* ReasonOf(int status);

} // namespace vlpolicy
