#include "CConnectionServer.h"

#include <unistd.h>

namespace vlpolicy {

CConnectionServer::CConnectionServer(const HttpLimits& limits, SSL_CTX* ctx, CPeerConnection::RefusalLog refusals)
    : m_limits(limits), m_pCtx(ctx), m_refusals(std::move(refusals)),
      m_gate(limits.peerConnections, limits.peerWaiting)
{
}

void CConnectionServer::Serve(int socket, const Process& process, const std::function<bool()>& stopping)
{
    const std::string peer = CPeerConnection::PeerOf(socket);
    if (peer.empty()) {
        close(socket);
        return;
    }
    if (!m_gate.Admit(peer, socket))
        return;
    for (int next = socket; next >= 0; next = m_gate.Release(peer))
        ServeOne(next, peer, process, stopping);
}

void CConnectionServer::ServeOne(int socket, const std::string& peer, const Process& process,
                                 const std::function<bool()>& stopping)
{
    CPeerConnection connection(socket, m_pCtx, m_limits, stopping, m_refusals);
    if (!connection.Handshake())
        return;
    const std::function<bool()> yieldIdle = [this, &peer] { return m_gate.HasWaiting(peer); };
    for (size_t served = 0; served < m_limits.keepAliveRequests; ++served) {
        // Between requests an idle connection gives way to the peer's waiting ones; before its first
        // it does not (the request may be on its way).
        if (!connection.NextRequest(served == 0, served == 0 ? std::function<bool()>() : yieldIdle))
            return;
        const bool last = served + 1 == m_limits.keepAliveRequests || stopping();
        bool closed = false;
        if (!process(connection, last, closed, connection.Ssl()) || closed || last)
            return;
    }
}

} // namespace vlpolicy
