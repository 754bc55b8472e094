#include "TestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace vlpolicy::test {

TestClient::TestClient(int port, std::string source) : m_nPort(port), m_source(std::move(source)) {}

TestClient::~TestClient()
{
    Close();
}

void TestClient::Close()
{
    if (m_socket >= 0)
        close(m_socket);
    m_socket = -1;
    m_pending.clear();
}

bool TestClient::Connect()
{
    if (m_socket >= 0)
        return true;
    m_socket = socket(AF_INET, SOCK_STREAM, 0);
    if (m_socket < 0)
        return false;
    timeval timeout{5, 0};
    setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, m_source.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(m_nPort));
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        connect(m_socket, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) != 0) {
        Close();
        return false;
    }
    ++m_nConnections;
    return true;
}

HttpReply TestClient::Post(const std::string& path, const std::string& body, const std::string& extraHeaders)
{
    return Send("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: HTTP_VL_CONTENT\r\n"
                "Cache-Control: no-cache\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
                extraHeaders + "\r\n" + body);
}

HttpReply TestClient::Get(const std::string& path, const std::string& extraHeaders)
{
    return Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
}

HttpReply TestClient::Send(const std::string& raw)
{
    if (!Connect())
        return {};
    size_t sent = 0;
    while (sent < raw.size()) {
        const ssize_t n = send(m_socket, raw.data() + sent, raw.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            Close();
            return {};
        }
        sent += static_cast<size_t>(n);
    }
    return Read();
}

HttpReply TestClient::Read()
{
    HttpReply reply;
    std::string data = m_pending;
    m_pending.clear();
    char chunk[16384];
    auto more = [&]() {
        const ssize_t n = recv(m_socket, chunk, sizeof(chunk), 0);
        if (n <= 0)
            return false;
        data.append(chunk, static_cast<size_t>(n));
        return true;
    };
    size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!more()) {
            Close();
            return reply;
        }
    }
    reply.headers = data.substr(0, headerEnd + 4);
    reply.status = atoi(reply.headers.c_str() + reply.headers.find(' ') + 1);
    size_t length = 0;
    std::string lower = reply.headers;
    for (char& c : lower)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const size_t field = lower.find("\r\ncontent-length:");
    if (field != std::string::npos)
        length = static_cast<size_t>(atol(lower.c_str() + field + 17));
    while (data.size() < headerEnd + 4 + length) {
        if (!more()) {
            Close();
            reply.status = 0;
            return reply;
        }
    }
    reply.body = data.substr(headerEnd + 4, length);
    m_pending = data.substr(headerEnd + 4 + length);
    if (lower.find("\r\nconnection: close") != std::string::npos)
        Close();
    return reply;
}

std::string Field(const std::string& text, size_t width)
{
    std::string field = text.substr(0, width);
    field.resize(width, '\0');
    return field;
}

std::string Le32(int32_t value)
{
    const uint32_t bits = static_cast<uint32_t>(value);
    return std::string{static_cast<char>(bits & 0xff), static_cast<char>((bits >> 8) & 0xff),
                       static_cast<char>((bits >> 16) & 0xff), static_cast<char>(bits >> 24)};
}

std::string LoginRecord(const std::string& user, const std::string& password, const std::string& site)
{
    return "_%REQ_LIN%_" + Field(user, 20) + Field(password, 20) + Field(site, 6) + std::string(4, '\0');
}

std::string TakeOutRecord(const std::string& tag, const std::string& owner, const std::string& reason,
                          const std::string& start, const std::string& end)
{
    return tag + Field(owner, 20) + Field(reason, 256) + Field(start, 8) + Field(end, 8) + std::string(66, '\0') +
           Le32(0);
}

std::string KeyRecord(const std::string& tag, const std::string& key)
{
    return tag + std::string(20, '\0') + Field(key, 50) + Le32(0);
}

std::string AclRecord(const std::string& user, int32_t level)
{
    return "_%REQ_ACL%_" + Field(user, 20) + Le32(level);
}

} // namespace vlpolicy::test
