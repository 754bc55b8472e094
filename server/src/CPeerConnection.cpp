#include "CPeerConnection.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "RequestHead.h"

namespace vlpolicy {

namespace {

// Waits are cut into slices so that a stopping server is noticed soon.
constexpr int kSliceMs = 100;
// After a refusal, what the peer still sends is read and dropped for this long (at most this
// much) before the close, so that the close does not reset the connection before the peer has
// read the refusal.
constexpr int kLingerMs = 1000;
constexpr size_t kLingerBytes = 256 * 1024;

CPeerConnection::Clock::time_point After(int milliseconds)
{
    return CPeerConnection::Clock::now() + std::chrono::milliseconds(milliseconds);
}

bool AddressOf(const sockaddr_storage& address, socklen_t length, std::string& ip, int& port)
{
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof(host), service, sizeof(service),
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return false;
    ip = host;
    port = atoi(service);
    return true;
}

} // namespace

CPeerConnection::CPeerConnection(int socket, SSL_CTX* ctx, const HttpLimits& limits, std::function<bool()> stopping,
                                 RefusalLog refusals)
    : m_socket(socket), m_limits(limits), m_stopping(std::move(stopping)), m_refusals(std::move(refusals))
{
    const int flags = fcntl(m_socket, F_GETFL, 0);
    if (flags < 0 || fcntl(m_socket, F_SETFL, flags | O_NONBLOCK) != 0)
        m_bFailed = true;
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getpeername(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        !AddressOf(address, length, m_peer, m_nPeerPort))
        m_bFailed = true;
    if (ctx != nullptr) {
        m_pSsl = SSL_new(ctx);
        if (m_pSsl == nullptr || SSL_set_fd(m_pSsl, m_socket) != 1)
            m_bFailed = true;
    }
}

CPeerConnection::~CPeerConnection()
{
    if (m_pSsl != nullptr) {
        if (!m_bFailed) {
            ERR_clear_error();
            SSL_shutdown(m_pSsl); // close_notify, without waiting for the peer's
        }
        SSL_free(m_pSsl);
    }
    shutdown(m_socket, SHUT_RDWR);
    close(m_socket);
}

std::string CPeerConnection::PeerOf(int socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    std::string ip;
    int port = 0;
    if (getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 || !AddressOf(address, length, ip, port))
        return std::string();
    return ip;
}

bool CPeerConnection::Handshake()
{
    if (m_bFailed)
        return false;
    if (m_pSsl == nullptr)
        return true;
    const Clock::time_point deadline = After(m_limits.tlsWaitMs);
    for (;;) {
        ERR_clear_error();
        const int result = SSL_accept(m_pSsl);
        if (result == 1)
            return true;
        const int error = SSL_get_error(m_pSsl, result);
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) ||
            !Wait(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline, nullptr)) {
            m_bFailed = true;
            return false;
        }
    }
}

bool CPeerConnection::Wait(short events, Clock::time_point deadline, const std::function<bool()>& giveUp)
{
    for (;;) {
        if (m_stopping() || (giveUp && giveUp()))
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd entry{m_socket, events, 0};
        const int ready = poll(&entry, 1, static_cast<int>(std::min<long long>(left, kSliceMs)));
        if (ready > 0)
            return true; // errors and hang-ups show in the next read or write
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

CPeerConnection::Received CPeerConnection::Receive(Clock::time_point deadline, const std::function<bool()>& giveUp)
{
    char buffer[16 * 1024];
    for (;;) {
        ssize_t size;
        short waitFor = POLLIN;
        if (m_pSsl != nullptr) {
            ERR_clear_error();
            const int result = SSL_read(m_pSsl, buffer, sizeof(buffer));
            size = result;
            if (result <= 0) {
                const int error = SSL_get_error(m_pSsl, result);
                if (error == SSL_ERROR_WANT_WRITE)
                    waitFor = POLLOUT;
                else if (error != SSL_ERROR_WANT_READ) {
                    m_bFailed = error != SSL_ERROR_ZERO_RETURN;
                    return Received::kClosed;
                }
                size = -1;
            }
        } else {
            size = recv(m_socket, buffer, sizeof(buffer), 0);
            if (size == 0)
                return Received::kClosed;
            if (size < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                m_bFailed = true;
                return Received::kClosed;
            }
        }
        if (size > 0) {
            m_input.append(buffer, static_cast<size_t>(size));
            return Received::kData;
        }
        if (!Wait(waitFor, deadline, giveUp))
            return Received::kTimedOut;
    }
}

bool CPeerConnection::SendAll(const char* data, size_t size, Clock::time_point deadline)
{
    size_t sent = 0;
    while (sent < size && !m_bFailed) {
        ssize_t written;
        short waitFor = POLLOUT;
        const size_t chunk = std::min<size_t>(size - sent, 1 << 20);
        if (m_pSsl != nullptr) {
            ERR_clear_error();
            const int result = SSL_write(m_pSsl, data + sent, static_cast<int>(chunk));
            written = result;
            if (result <= 0) {
                const int error = SSL_get_error(m_pSsl, result);
                if (error == SSL_ERROR_WANT_READ)
                    waitFor = POLLIN;
                else if (error != SSL_ERROR_WANT_WRITE)
                    m_bFailed = true;
                written = 0;
            }
        } else {
            written = send(m_socket, data + sent, chunk, MSG_NOSIGNAL);
            if (written < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                    m_bFailed = true;
                written = 0;
            }
        }
        sent += static_cast<size_t>(written);
        if (sent < size && !m_bFailed && written == 0 && !Wait(waitFor, deadline, nullptr))
            m_bFailed = true;
    }
    return !m_bFailed;
}

bool CPeerConnection::NextRequest(bool first, const std::function<bool()>& yieldIdle)
{
    m_request.clear();
    m_nRead = 0;
    if (m_bFailed)
        return false;
    // Idle until the request's first byte: the connection holds a worker, so it gives way to the
    // peer's own waiting connections.
    if (m_input.empty()) {
        const int idleMs = m_pSsl != nullptr ? m_limits.tlsWaitMs : first ? m_limits.firstRequestMs : m_limits.keepAliveMs;
        if (Receive(After(idleMs), yieldIdle) != Received::kData)
            return false;
    }
    // From the first byte the whole request has its own time.
    const Clock::time_point deadline = After(m_limits.requestMs);
    RequestHead head;
    for (;;) {
        head = ParseRequestHead(m_input, m_limits);
        if (head.status != 0) {
            Refuse(head.status);
            return false;
        }
        if (head.length != 0)
            break;
        const Received received = Receive(deadline);
        if (received == Received::kTimedOut && !m_stopping())
            Refuse(408);
        if (received != Received::kData)
            return false;
    }
    const size_t end = head.length + head.contentLength;
    if (head.expectContinue && m_input.size() < end) {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        if (!SendAll(kContinue, sizeof(kContinue) - 1, After(m_limits.writeMs)))
            return false;
    }
    while (m_input.size() < end) {
        const Received received = Receive(deadline);
        if (received == Received::kTimedOut && !m_stopping())
            Refuse(408);
        if (received != Received::kData)
            return false;
    }
    m_request = head.forward;
    m_request.append(m_input, head.length, head.contentLength);
    m_input.erase(0, end);
    m_writeDeadline = After(m_limits.writeMs);
    return true;
}

void CPeerConnection::Refuse(int status)
{
    if (m_refusals)
        m_refusals(m_peer, status);
    const std::string body = std::string(ReasonOf(status)) + "\n";
    const std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + ReasonOf(status) +
                              "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body;
    if (!SendAll(reply.data(), reply.size(), After(m_limits.writeMs)))
        return;
    if (m_pSsl != nullptr) {
        ERR_clear_error();
        SSL_shutdown(m_pSsl);
    }
    shutdown(m_socket, SHUT_WR);
    // Read and drop what is still coming, for a bounded time and size.
    m_input.clear();
    const Clock::time_point deadline = After(kLingerMs);
    size_t dropped = 0;
    char buffer[16 * 1024];
    while (dropped < kLingerBytes && Wait(POLLIN, deadline, nullptr)) {
        const ssize_t size = recv(m_socket, buffer, sizeof(buffer), 0);
        if (size == 0 || (size < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            break;
        if (size > 0)
            dropped += static_cast<size_t>(size);
    }
    m_bFailed = true;
}

bool CPeerConnection::is_readable() const
{
    return m_nRead < m_request.size();
}

bool CPeerConnection::is_writable() const
{
    return !m_bFailed;
}

ssize_t CPeerConnection::read(char* ptr, size_t size)
{
    const size_t count = std::min(size, m_request.size() - m_nRead);
    std::copy_n(m_request.data() + m_nRead, count, ptr);
    m_nRead += count;
    return static_cast<ssize_t>(count);
}

ssize_t CPeerConnection::write(const char* ptr, size_t size)
{
    return SendAll(ptr, size, m_writeDeadline) ? static_cast<ssize_t>(size) : -1;
}

void CPeerConnection::get_remote_ip_and_port(std::string& ip, int& port) const
{
    ip = m_peer;
    port = m_nPeerPort;
}

void CPeerConnection::get_local_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        !AddressOf(address, length, ip, port)) {
        ip.clear();
        port = 0;
    }
}

socket_t CPeerConnection::socket() const
{
    return m_socket;
}

} // namespace vlpolicy
