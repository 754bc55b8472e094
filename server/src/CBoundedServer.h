// CBoundedServer.h - the HTTP library's server (plain or TLS) with its connections served by
// CConnectionServer instead of the library's loop, and with the listen backlog it is given: the
// library's build listens with a backlog of 5, too short for a burst of agents.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <sys/socket.h>

#include <memory>
#include <type_traits>

#include <httplib.h>

#include "CConnectionServer.h"
#include "HttpLimits.h"

namespace vlpolicy {

// What the owner of a CBoundedServer needs beyond httplib::Server.
class IListenControl
{
public:
    virtual ~IListenControl() = default;
    // Sets the bound socket's listen backlog (0: the system's limit); false when not bound.
    virtual bool SetListenBacklog(int backlog) = 0;
    // The backlog the kernel keeps for the bound socket, or -1.
    virtual int ListenBacklog() const = 0;
};

// The system's limit of a listen backlog (net.core.somaxconn); the kernel caps every backlog there.
inline int SystemListenBacklog()
{
    int backlog = SOMAXCONN;
    if (FILE* file = fopen("/proc/sys/net/core/somaxconn", "r")) {
        if (fscanf(file, "%d", &backlog) != 1 || backlog <= 0)
            backlog = SOMAXCONN;
        fclose(file);
    }
    return backlog;
}

template <class Base>
class CBoundedServer final : public Base, public IListenControl
{
public:
    template <class... Args>
    CBoundedServer(const HttpLimits& limits, CPeerConnection::RefusalLog refusals, Args&&... args)
        : Base(std::forward<Args>(args)...)
    {
        SSL_CTX* ctx = nullptr;
        if constexpr (std::is_base_of_v<httplib::SSLServer, Base>)
            ctx = this->ssl_context();
        m_pConnections = std::make_unique<CConnectionServer>(limits, ctx, std::move(refusals));
    }

    bool SetListenBacklog(int backlog) override
    {
        // A second listen() on a listening socket only sets its backlog.
        const int socket = this->svr_sock_;
        return socket != INVALID_SOCKET && listen(socket, backlog > 0 ? backlog : SystemListenBacklog()) == 0;
    }

    int ListenBacklog() const override
    {
        // For a listening socket the kernel reports its backlog in tcpi_sacked.
        tcp_info info{};
        socklen_t length = sizeof(info);
        const int socket = this->svr_sock_;
        if (socket == INVALID_SOCKET || getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
            return -1;
        return static_cast<int>(info.tcpi_sacked);
    }

private:
    bool process_and_close_socket(socket_t socket) override
    {
        m_pConnections->Serve(
            socket,
            [this](httplib::Stream& stream, bool last, bool& closed, SSL* ssl) {
                return this->process_request(stream, last, closed, [ssl](httplib::Request& req) { req.ssl = ssl; });
            },
            [this] { return this->svr_sock_ == INVALID_SOCKET; });
        return true;
    }

    std::unique_ptr<CConnectionServer> m_pConnections;
};

} // namespace vlpolicy
