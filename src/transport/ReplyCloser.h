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
// At most kMaxCutOffCloses such threads run at once in a process. While that many run, the
// channel refuses to start a new exchange (CutOffClosesAtCap), so a server that answers every
// exchange without end cannot pile up threads, sockets and module references. Two exchanges that
// were started side by side while one place was free may still both be cut off: the one that finds
// no place closes its handles on the caller's thread, with the short receive time-out below.
//
// A close of a reply that was read to its end stays where it is (the channel's own close): only
// exchanges cut off by a bound, by a wrong answer or by a failed read come here.
#pragma once

#include "common/UniqueHandle.h"
#include "common/WinApi.h"

namespace vlagt {

// The most closes of cut-off replies that run at once in a process.
constexpr LONG kMaxCutOffCloses = 4;
// The receive time-out set on a cut-off request before it is closed, so that a server that holds
// the connection without sending does not hold the close either.
constexpr DWORD kCutOffReceiveTimeoutMs = 2000;

// Takes the request, connection and session handles (any of them may be empty), sets the short
// receive time-out on the request and closes them in that order on a thread of its own. When no
// thread can be started, or kMaxCutOffCloses already run, closes them here, before returning. The
// handles given are empty afterwards.
void CloseCutOffExchange(UniqueInternetHandle& request, UniqueInternetHandle& connect,
                         UniqueInternetHandle& session);

// The number of such closes still running in this process (for tests and diagnostics).
LONG CutOffClosesRunning();

// True while kMaxCutOffCloses closes run: a new exchange is refused before anything is sent.
bool CutOffClosesAtCap();

} // namespace vlagt
