// CPeerConnection.h - one accepted connection, plain or TLS, as the HTTP library's stream. Each
// request is read whole here first, within the limits (HttpLimits, RequestHead): the library then
// parses and routes a request that is already in memory and can never wait on the peer, read past
// the request's end or keep more than the limits allow. A request over the limits is answered
// here (400, 408, 411, 413, 415, 431) and the connection closed. Every wait is bounded and ends
// early when the server stops. Non-blocking socket; the connection owns it and closes it.
#pragma once

#include <openssl/ssl.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

#include <httplib.h>

#include "HttpLimits.h"

namespace vlpolicy {

class CPeerConnection final : public httplib::Stream
{
public:
    using Clock = std::chrono::steady_clock;
    // Told of every request refused here: the peer and the status.
    using RefusalLog = std::function<void(const std::string& peer, int status)>;

    // ctx: null for plain HTTP. stopping: true once the server stops (waits end then).
    CPeerConnection(int socket, SSL_CTX* ctx, const HttpLimits& limits, std::function<bool()> stopping,
                    RefusalLog refusals);
    ~CPeerConnection() override;
    CPeerConnection(const CPeerConnection&) = delete;
    CPeerConnection& operator=(const CPeerConnection&) = delete;

    // The numeric address of the socket's peer ("" when unknown).
    static std::string PeerOf(int socket);

    // The TLS handshake (nothing for plain HTTP); false when it failed or took too long.
    bool Handshake();
    // Waits for the next request and reads it whole. False when there is none to serve: the peer
    // closed or stayed idle (or yieldIdle, when given, said so while idle), the server stops, or
    // the request was refused here (its reply sent).
    bool NextRequest(bool first, const std::function<bool()>& yieldIdle);
    SSL* Ssl() const { return m_pSsl; }

    // httplib::Stream: reads come from the request read by NextRequest, writes go to the peer.
    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override;

private:
    enum class Received { kData, kClosed, kTimedOut };
    // Appends what the peer sent to m_input, waiting until deadline (or until giveUp says so).
    Received Receive(Clock::time_point deadline, const std::function<bool()>& giveUp = nullptr);
    // Waits until the socket can be read (events POLLIN) or written (POLLOUT); false at deadline.
    bool Wait(short events, Clock::time_point deadline, const std::function<bool()>& giveUp);
    bool SendAll(const char* data, size_t size, Clock::time_point deadline);
    // Answers status and closes: the body is not read, so the connection cannot go on.
    void Refuse(int status);

    int m_socket;
    SSL* m_pSsl = nullptr;
    const HttpLimits& m_limits;
    std::function<bool()> m_stopping;
    RefusalLog m_refusals;
    std::string m_peer;
    int m_nPeerPort = 0;
    bool m_bFailed = false;           // the connection cannot be used any more
    std::string m_input;              // received, not yet part of a request
    std::string m_request;            // the current request, for the library
    size_t m_nRead = 0;               // of m_request
    Clock::time_point m_writeDeadline;
};

} // namespace vlpolicy
