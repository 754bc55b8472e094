// TestClient.h - a small HTTP/1.1 client of the tests' own, on raw sockets: it keeps one
// connection alive across requests, can bind a chosen loopback source address (the server tells
// clients apart by address) and sends requests exactly as built. Every wait is bounded (5 s).
#pragma once

#include <stdint.h>

#include <string>

namespace vlpolicy::test {

struct HttpReply
{
    int status = 0;      // 0 when no reply could be read
    std::string headers; // the header block as received
    std::string body;
};

class TestClient
{
public:
    TestClient(int port, std::string source = "127.0.0.1");
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    // POST body to path, the way the module's binary exchange sends it (no Content-Type).
    HttpReply Post(const std::string& path, const std::string& body, const std::string& extraHeaders = "");
    HttpReply Get(const std::string& path, const std::string& extraHeaders = "");
    // Sends raw bytes as they are and reads one reply.
    HttpReply Send(const std::string& raw);
    // How many connections this client has opened so far.
    int Connections() const { return m_nConnections; }

private:
    bool Connect();
    void Close();
    HttpReply Read();

    int m_nPort;
    std::string m_source;
    int m_socket = -1;
    int m_nConnections = 0;
    std::string m_pending; // bytes received beyond the last reply
};

// Record builders, byte by byte: text fields zero-filled to their width, integers little-endian.
std::string Field(const std::string& text, size_t width);
std::string Le32(int32_t value);
std::string LoginRecord(const std::string& user, const std::string& password, const std::string& site = "kesmor");
std::string TakeOutRecord(const std::string& tag, const std::string& owner, const std::string& reason,
                          const std::string& start, const std::string& end);
std::string KeyRecord(const std::string& tag, const std::string& key);
std::string AclRecord(const std::string& user, int32_t level);

} // namespace vlpolicy::test
