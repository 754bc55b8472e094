// ReplyCloser.h - closes the channel of an exchange that stopped reading before its reply ended.
//
// Closing a request whose reply was not read to its end may take as long as the server keeps
// sending: the HTTP library can read the rest of the body inside the close (Wine's does, for a
// chunked body and for a Content-Length body, for as long as data keeps arriving). So the three
// handles of such an exchange are closed on a short-lived thread of their own, and the caller goes
// on at once. That thread holds a reference on the module that contains its code until its last
// instruction, so a caller may unload the module while a close still runs: the module is unloaded
// when the close has ended. The process may also end while a close runs; the close then simply
// stops with the process.
//
// A close of a reply that was read to its end stays where it is (the channel's own close): only
// exchanges cut off by a bound or by a wrong answer come here.
#pragma once

#include "common/UniqueHandle.h"
#include "common/WinApi.h"

namespace vlagt {

// Takes the request, connection and session handles (any of them may be empty) and closes them in
// that order on a thread of its own. When no thread can be started, closes them here, before
// returning. The handles given are empty afterwards.
void CloseCutOffExchange(UniqueInternetHandle& request, UniqueInternetHandle& connect,
                         UniqueInternetHandle& session);

// The number of such closes still running in this process (for tests and diagnostics).
LONG CutOffClosesRunning();

} // namespace vlagt
