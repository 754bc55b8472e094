// HttpLimits.h - the bounds every connection and request is held to before the HTTP library sees
// a byte of it: head size and field count, body size, the waits, and each peer's share of the
// workers. The defaults are the server's; tests shorten the waits.
#pragma once

#include <stddef.h>

#include "WireFormat.h"

namespace vlpolicy {

struct HttpLimits
{
    size_t headBytes = 16 * 1024;  // request line and header fields, blank line included
    size_t headerFields = 100;
    size_t bodyBytes = kMaxBodySize;
    int firstRequestMs = 5000;     // a new connection's wait for its first request
    int keepAliveMs = 5000;        // an open connection's wait for its next request
    // Over TLS a client checks the server's certificate chain around the handshake before it sends
    // its first request: the first exchange of a process takes seconds on a slow or emulated
    // machine. The handshake, the first request and the keep-alive wait get this much instead.
    int tlsWaitMs = 20000;
    int requestMs = 10000;         // from a request's first byte to its last
    int writeMs = 10000;           // for each reply to be taken by the peer
    size_t keepAliveRequests = 1000;
    size_t workers = 64;
    // A peer (one client address) is served on at most this many connections at once; further
    // connections from it wait, without a worker, until one of its own ends.
    size_t peerConnections = 32;
    size_t peerWaiting = 256;      // beyond this many waiting connections a peer's next is closed
    int listenBacklog = 0;         // 0: the system's limit (net.core.somaxconn)
};

} // namespace vlpolicy
