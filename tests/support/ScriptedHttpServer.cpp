#include "ScriptedHttpServer.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace vlagt::test {

namespace {

constexpr long kPollMicroseconds = 20000; // how often blocked loops look at the stop flag
constexpr size_t kEndlessBytes = 1024u * 1024u * 1024u; // an endless reply, cut off at last

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void CloseGracefully(SOCKET socket)
{
    shutdown(socket, SD_SEND);
    closesocket(socket);
}

// Ends the connection with a reset: no lingering, the peer sees ECONNRESET.
void CloseWithReset(SOCKET socket)
{
    linger option{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof(option));
    closesocket(socket);
}

} // namespace

// ---- RecordedRequest ----------------------------------------------------------------------------

std::string RecordedRequest::Header(const std::string& name) const
{
    for (const auto& header : headers)
        if (EqualNoCase(header.first, name))
            return header.second;
    return std::string();
}

bool RecordedRequest::HasHeader(const std::string& name) const
{
    for (const auto& header : headers)
        if (EqualNoCase(header.first, name))
            return true;
    return false;
}

// ---- ScriptedReply ------------------------------------------------------------------------------

ScriptedReply ScriptedReply::WithBody(std::string body)
{
    ScriptedReply reply;
    reply.body = std::move(body);
    return reply;
}

ScriptedReply ScriptedReply::Chunked(std::string body, std::vector<size_t> pieces)
{
    ScriptedReply reply;
    reply.body = std::move(body);
    reply.framing = Framing::Chunked;
    reply.pieces = std::move(pieces);
    return reply;
}

ScriptedReply ScriptedReply::CloseDelimited(std::string body)
{
    ScriptedReply reply;
    reply.body = std::move(body);
    reply.framing = Framing::CloseDelimited;
    return reply;
}

ScriptedReply ScriptedReply::NoReply()
{
    ScriptedReply reply;
    reply.noReply = true;
    return reply;
}

ScriptedReply ScriptedReply::CloseWithoutReply()
{
    ScriptedReply reply;
    reply.closeWithoutReply = true;
    return reply;
}

ScriptedReply ScriptedReply::Raw(std::string bytes)
{
    ScriptedReply reply;
    reply.body = std::move(bytes);
    reply.raw = true;
    return reply;
}

ScriptedReply ScriptedReply::Endless(std::string prefix, Framing framing)
{
    ScriptedReply reply;
    reply.body = std::move(prefix);
    reply.framing = framing;
    reply.endless = true;
    return reply;
}

ScriptedReply ScriptedReply::ResetInRequestBody()
{
    ScriptedReply reply;
    reply.resetInRequestBody = true;
    reply.reset = true;
    return reply;
}

ScriptedReply& ScriptedReply::StallAfter(size_t fillerBytes)
{
    stallAfterBytes = fillerBytes;
    return *this;
}

ScriptedReply& ScriptedReply::WithReset()
{
    reset = true;
    return *this;
}

ScriptedReply& ScriptedReply::Status(int code, std::string text)
{
    status = code;
    reason = std::move(text);
    return *this;
}

ScriptedReply& ScriptedReply::InPieces(std::vector<size_t> sizes, DWORD pauseBetweenMs)
{
    pieces = std::move(sizes);
    pauseMs = pauseBetweenMs;
    return *this;
}

ScriptedReply& ScriptedReply::PauseBetweenPieces(DWORD ms)
{
    pauseMs = ms;
    return *this;
}

ScriptedReply& ScriptedReply::Delay(DWORD ms)
{
    delayMs = ms;
    return *this;
}

ScriptedReply& ScriptedReply::CloseAfter(size_t bodyBytes)
{
    closeAfterBodyBytes = bodyBytes;
    return *this;
}

ScriptedReply& ScriptedReply::AddHeader(std::string line)
{
    extraHeaders.push_back(std::move(line));
    return *this;
}

// ---- ScriptedHttpServer -------------------------------------------------------------------------

ScriptedHttpServer::ScriptedHttpServer(const std::string& address) : m_address(address)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        throw std::runtime_error("WSAStartup failed");
    m_wsaStarted = true;

    m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr(m_address.c_str());
    local.sin_port = 0;
    int length = sizeof(local);
    if (m_listen == INVALID_SOCKET ||
        bind(m_listen, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        listen(m_listen, SOMAXCONN) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        if (m_listen != INVALID_SOCKET)
            closesocket(m_listen);
        WSACleanup();
        throw std::runtime_error("cannot listen on " + m_address);
    }
    m_port = ntohs(local.sin_port);
    m_acceptThread = std::thread(&ScriptedHttpServer::AcceptLoop, this);
}

ScriptedHttpServer::~ScriptedHttpServer()
{
    Stop();
    if (m_wsaStarted)
        WSACleanup();
}

std::string ScriptedHttpServer::Url(const std::string& pathAndQuery) const
{
    return "http://" + m_address + ":" + std::to_string(m_port) + pathAndQuery;
}

void ScriptedHttpServer::Enqueue(ScriptedReply reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script.push_back(std::move(reply));
}

std::vector<RecordedRequest> ScriptedHttpServer::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

size_t ScriptedHttpServer::RequestCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requestCount;
}

void ScriptedHttpServer::SetDefaultReply(ScriptedReply reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_default = std::move(reply);
    m_hasDefault = true;
}

void ScriptedHttpServer::SetResponder(std::function<ScriptedReply(const RecordedRequest&)> responder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responder = std::move(responder);
}

void ScriptedHttpServer::RecordRequests(bool record)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recording = record;
}

bool ScriptedHttpServer::WaitForRequests(size_t count, DWORD timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_requestCount >= count; });
}

size_t ScriptedHttpServer::ConnectionCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connectionCount;
}

size_t ScriptedHttpServer::BodyBytesSent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bodyBytesSent;
}

void ScriptedHttpServer::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping && !m_acceptThread.joinable())
            return;
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    // The accept thread has ended: nobody adds connection threads any more.
    for (std::thread& thread : m_connectionThreads)
        if (thread.joinable())
            thread.join();
    m_connectionThreads.clear();
    if (m_listen != INVALID_SOCKET) {
        closesocket(m_listen);
        m_listen = INVALID_SOCKET;
    }
}

unsigned short ScriptedHttpServer::UnusedPort()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 0;
    unsigned short port = 0;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof(address);
        if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        closesocket(s);
    }
    WSACleanup();
    return port;
}

bool ScriptedHttpServer::Stopping() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopping;
}

bool ScriptedHttpServer::WaitOrStop(DWORD ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (ms == INFINITE) {
        m_changed.wait(lock, [&] { return m_stopping; });
        return true;
    }
    return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_stopping; });
}

void ScriptedHttpServer::AcceptLoop()
{
    while (!Stopping()) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_listen, &readable);
        timeval wait{0, kPollMicroseconds};
        const int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready <= 0)
            continue;
        SOCKET client = accept(m_listen, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        size_t connection;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            connection = ++m_connectionCount;
        }
        m_connectionThreads.emplace_back(&ScriptedHttpServer::ServeConnection, this, client, connection);
    }
}

void ScriptedHttpServer::ServeConnection(SOCKET socket, size_t connection)
{
    // Small writes (chunk trailers, dripped bytes) go out at once, not after the peer's ACK.
    const BOOL noDelay = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    std::string pending;
    bool reset = false;
    for (;;) {
        RecordedRequest request;
        request.connection = connection;
        if (!ReadRequest(socket, pending, request, &reset))
            break;
        ScriptedReply reply;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_requestCount;
            if (m_recording)
                m_requests.push_back(request);
            if (m_script.empty() && m_responder) {
                reply = m_responder(request);
            } else if (m_script.empty() && m_hasDefault) {
                reply = m_default;
            } else if (m_script.empty()) {
                reply = ScriptedReply::WithBody("unscripted").Status(500, "Unscripted");
            } else {
                reply = std::move(m_script.front());
                m_script.pop_front();
            }
        }
        m_changed.notify_all();
        if (!PlayReply(socket, reply)) {
            reset = reply.reset;
            break;
        }
    }
    if (reset)
        CloseWithReset(socket);
    else
        CloseGracefully(socket);
}

bool ScriptedHttpServer::ReadRequest(SOCKET socket, std::string& pending, RecordedRequest& request, bool* reset)
{
    *reset = false;
    auto receiveMore = [&]() -> bool {
        for (;;) {
            if (Stopping())
                return false;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(socket, &readable);
            timeval wait{0, kPollMicroseconds};
            const int ready = select(0, &readable, nullptr, nullptr, &wait);
            if (ready < 0)
                return false;
            if (ready == 0)
                continue;
            char buffer[4096];
            const int received = recv(socket, buffer, sizeof(buffer), 0);
            if (received <= 0)
                return false;
            pending.append(buffer, static_cast<size_t>(received));
            return true;
        }
    };

    size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos)
        if (!receiveMore())
            return false;
    request.head = pending.substr(0, headEnd + 4);
    pending.erase(0, headEnd + 4);

    // Request line, then one header per line.
    size_t lineEnd = request.head.find("\r\n");
    const std::string requestLine = request.head.substr(0, lineEnd);
    const size_t firstBlank = requestLine.find(' ');
    const size_t lastBlank = requestLine.rfind(' ');
    request.method = requestLine.substr(0, firstBlank);
    if (firstBlank != std::string::npos && lastBlank > firstBlank) {
        request.target = requestLine.substr(firstBlank + 1, lastBlank - firstBlank - 1);
        request.version = requestLine.substr(lastBlank + 1);
    }
    size_t lineStart = lineEnd + 2;
    while (lineStart < headEnd) {
        lineEnd = request.head.find("\r\n", lineStart);
        const std::string line = request.head.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        size_t valueStart = colon + 1;
        while (valueStart < line.size() && (line[valueStart] == ' ' || line[valueStart] == '\t'))
            ++valueStart;
        request.headers.emplace_back(line.substr(0, colon), line.substr(valueStart));
    }

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_script.empty() && m_script.front().resetInRequestBody) {
            m_script.pop_front();
            request.body = pending; // whatever of the body came with the head
            ++m_requestCount;
            m_requests.push_back(request);
            *reset = true;
        }
    }
    if (*reset) {
        m_changed.notify_all();
        return false;
    }

    const std::string lengthText = request.Header("Content-Length");
    const size_t bodyLength = lengthText.empty() ? 0 : strtoul(lengthText.c_str(), nullptr, 10);
    while (pending.size() < bodyLength)
        if (!receiveMore())
            return false;
    request.body = pending.substr(0, bodyLength);
    pending.erase(0, bodyLength);
    return true;
}

bool ScriptedHttpServer::SendAll(SOCKET socket, const char* data, size_t length)
{
    while (length > 0) {
        // A peer that stops reading must not hold the server past Stop().
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(socket, &writable);
        timeval wait{0, kPollMicroseconds};
        const int ready = select(0, nullptr, &writable, nullptr, &wait);
        if (ready < 0 || Stopping())
            return false;
        if (ready == 0)
            continue;
        const int sent = send(socket, data, static_cast<int>(std::min<size_t>(length, 65536)), 0);
        if (sent <= 0)
            return false;
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

bool ScriptedHttpServer::PlayReply(SOCKET socket, const ScriptedReply& reply)
{
    if (reply.closeWithoutReply)
        return false;
    if (reply.noReply) {
        WaitOrStop(INFINITE);
        return false;
    }
    if (reply.delayMs > 0 && WaitOrStop(reply.delayMs))
        return false;
    if (reply.raw) {
        SendAll(socket, reply.body.data(), reply.body.size());
        return false;
    }

    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
    switch (reply.framing) {
    case ScriptedReply::Framing::ContentLength:
        head += "Content-Length: " + std::to_string(reply.body.size() + (reply.endless ? kEndlessBytes : 0)) + "\r\n";
        break;
    case ScriptedReply::Framing::Chunked:
        head += "Transfer-Encoding: chunked\r\n";
        break;
    case ScriptedReply::Framing::CloseDelimited:
        head += "Connection: close\r\n";
        break;
    }
    for (const std::string& line : reply.extraHeaders)
        head += line + "\r\n";
    head += "\r\n";
    if (!SendAll(socket, head.data(), head.size()))
        return false;

    // The body in pieces; a chunked body sends each piece as one chunk.
    std::vector<size_t> pieces;
    size_t assigned = 0;
    for (size_t size : reply.pieces) {
        const size_t piece = std::min(size, reply.body.size() - assigned);
        if (piece == 0)
            continue;
        pieces.push_back(piece);
        assigned += piece;
    }
    if (assigned < reply.body.size())
        pieces.push_back(reply.body.size() - assigned);

    const bool chunked = reply.framing == ScriptedReply::Framing::Chunked;
    if (reply.endless) {
        std::string wire;
        if (!reply.body.empty()) {
            char size[16];
            snprintf(size, sizeof(size), "%lx\r\n", static_cast<unsigned long>(reply.body.size()));
            wire = chunked ? size + reply.body + "\r\n" : reply.body;
            if (!SendAll(socket, wire.data(), wire.size()))
                return false;
        }
        std::string filler;
        while (filler.size() < 65536)
            filler += reply.filler.empty() ? std::string(65536, 'x') : reply.filler;
        char size[16];
        snprintf(size, sizeof(size), "%lx\r\n", static_cast<unsigned long>(filler.size()));
        wire = chunked ? size + filler + "\r\n" : filler;
        // "Without end" as far as any client with a bound can tell (minutes under emulation): the
        // server gives up after kEndlessBytes, when the client goes, or when it is stopped.
        for (size_t sent = 0; sent < kEndlessBytes && !Stopping(); sent += filler.size()) {
            if (sent >= reply.stallAfterBytes) {
                WaitOrStop(INFINITE);
                return false;
            }
            if (!SendAll(socket, wire.data(), wire.size()))
                return false;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bodyBytesSent += wire.size();
        }
        return false;
    }
    size_t offset = 0;
    size_t budget = reply.closeAfterBodyBytes; // body bytes still allowed before closing
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0 && reply.pauseMs > 0 && WaitOrStop(reply.pauseMs))
            return false;
        std::string wire;
        if (chunked) {
            char size[16];
            snprintf(size, sizeof(size), "%lx\r\n", static_cast<unsigned long>(pieces[i]));
            wire += size;
        }
        wire.append(reply.body, offset, pieces[i]);
        if (chunked)
            wire += "\r\n";
        offset += pieces[i];
        // Closing part-way: cut the wire bytes of this piece at the budget.
        const size_t chunkHeader = chunked ? wire.find("\r\n") + 2 : 0;
        if (pieces[i] >= budget) {
            SendAll(socket, wire.data(), chunkHeader + budget);
            return false;
        }
        budget -= pieces[i];
        if (!SendAll(socket, wire.data(), wire.size()))
            return false;
    }
    if (chunked && budget == 0)
        return false;
    if (chunked && !SendAll(socket, "0\r\n\r\n", 5))
        return false;
    return reply.framing != ScriptedReply::Framing::CloseDelimited;
}

} // namespace vlagt::test
