// CConnectionServer.h - serves the connections the HTTP library accepts, in place of the
// library's own loop: each peer's share of the workers (CPeerGate), the TLS handshake and every
// request read whole within the limits (CPeerConnection), then the library's request processing
// on the request in memory, kept alive up to the limits' count of requests.
#pragma once

#include <openssl/ssl.h>

#include <functional>
#include <string>

#include <httplib.h>

#include "CPeerConnection.h"
#include "CPeerGate.h"
#include "HttpLimits.h"

namespace vlpolicy {

class CConnectionServer
{
public:
    // The library's processing of one request: stream, whether it is the connection's last, set
    // when the request asked to close; the connection's TLS state (or null). False when the reply
    // could not be written.
    using Process = std::function<bool(httplib::Stream&, bool last, bool& closed, SSL* ssl)>;

    CConnectionServer(const HttpLimits& limits, SSL_CTX* ctx, CPeerConnection::RefusalLog refusals);

    // Serves socket (accepted, owned from here on) and, in its place, the peer's waiting ones.
    void Serve(int socket, const Process& process, const std::function<bool()>& stopping);

private:
    void ServeOne(int socket, const std::string& peer, const Process& process, const std::function<bool()>& stopping);

    const HttpLimits m_limits;
    SSL_CTX* m_pCtx;
    CPeerConnection::RefusalLog m_refusals;
    CPeerGate m_gate;
};

} // namespace vlpolicy
