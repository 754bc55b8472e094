// ScriptedHttpServer.h - a dumb HTTP/1.1 server inside the test process, for driving the module's
// transport against real sockets.
//
// It listens on 127.0.0.1 on a free port chosen by the system, accepts any number of connections
// and serves any number of requests on each (keep-alive: Wine's WinINet reuses one connection
// across separately opened sessions of a process). Every request is recorded as it arrived
// (method, request target, headers, body bytes). Replies are played from a script, one scripted
// reply per request, in the order the requests arrive, whatever connection they come on.
//
//     ScriptedHttpServer server;
//     server.Enqueue(ScriptedReply::WithBody("40000..."));
//     server.Enqueue(ScriptedReply::Chunked(body, {5, 100}).PauseBetweenPieces(20));
//     ... client posts to server.Url("/vl/agent") ...
//     ASSERT_TRUE(server.WaitForRequests(1, 5000));
//     EXPECT_EQ(server.Requests()[0].body, expectedBytes);
//
// A request that finds the script empty gets "500 Unscripted" with the body "unscripted".
// Waits inside a reply (delay, pauses, holding without reply) end early when the server stops,
// so a test never waits for the script to play out. Stop() (also run by the destructor) closes
// every connection and joins every thread.
#pragma once

#include <stddef.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/WinApi.h"

namespace vlagt::test {

// One request as the server received it.
struct RecordedRequest
{
    std::string method;                                       // "POST"
    std::string target;                                       // request target, as sent
    std::string version;                                      // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> headers; // name and value, in order
    std::string head;                                         // request line and headers, raw
    std::string body;                                         // body bytes, as received
    size_t connection = 0;                                    // 1 for the first accepted, ...

    // Value of the first header of that name (case-insensitive); empty when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

// How the server answers one request.
struct ScriptedReply
{
    enum class Framing
    {
        ContentLength, // "Content-Length: <whole body length>"
        Chunked,       // "Transfer-Encoding: chunked"; each piece is one chunk
        CloseDelimited // no length; "Connection: close" and the body ends when the server closes
    };

    int status = 200;
    std::string reason = "OK";
    std::vector<std::string> extraHeaders; // whole lines without CRLF, e.g. "X-Test: 1"
    std::string body;
    Framing framing = Framing::ContentLength;
    std::vector<size_t> pieces; // sizes of successive body writes; the rest goes in a last piece
    DWORD pauseMs = 0;          // pause between body pieces (the client sees several reads)
    DWORD delayMs = 0;          // pause after the request was read, before anything is sent
    size_t closeAfterBodyBytes = static_cast<size_t>(-1); // close the connection after this many
                                                          // body bytes (the head announces all)
    bool noReply = false;          // never answer; hold the connection open until Stop()
    bool closeWithoutReply = false; // close the connection as soon as the request is read
    bool raw = false;               // send `body` verbatim as the whole reply, then close
    bool endless = false;           // after `body`, send filler without end until the client goes
                                    // (with ContentLength framing the head announces prefix + 1 GiB)
    std::string filler;             // endless: the bytes repeated (empty: 'x'), about 64 KiB a piece
    size_t stallAfterBytes = static_cast<size_t>(-1); // endless: after this much filler, send
                                                      // nothing more and hold the connection open
    bool reset = false;             // end the connection with a reset (RST), not a close
    bool resetInRequestBody = false; // reset as soon as the request head is read, body unread

    // 200 with the body and a Content-Length.
    static ScriptedReply WithBody(std::string body);
    // 200 with the body in chunked encoding, one chunk per piece.
    static ScriptedReply Chunked(std::string body, std::vector<size_t> pieces = {});
    // 200 with the body ended by closing the connection.
    static ScriptedReply CloseDelimited(std::string body);
    static ScriptedReply NoReply();
    static ScriptedReply CloseWithoutReply();
    // Exactly these bytes (status line and headers included, or not), then the connection closes.
    static ScriptedReply Raw(std::string bytes);
    // 200 with `prefix` and then filler bytes, chunked, ended by closing or announced by a
    // Content-Length, far past any bound a client has (the server gives up after 1 GiB, when the
    // client goes or when it is stopped).
    static ScriptedReply Endless(std::string prefix, Framing framing = Framing::Chunked);
    // Resets the connection once the request head is read, before its body is taken in.
    static ScriptedReply ResetInRequestBody();
    // Endless: stops sending after `fillerBytes` of filler and holds the connection until Stop().
    ScriptedReply& StallAfter(size_t fillerBytes);

    ScriptedReply& Status(int code, std::string text);
    ScriptedReply& InPieces(std::vector<size_t> sizes, DWORD pauseBetweenMs);
    ScriptedReply& PauseBetweenPieces(DWORD ms);
    ScriptedReply& Delay(DWORD ms);
    ScriptedReply& CloseAfter(size_t bodyBytes);
    ScriptedReply& AddHeader(std::string line);
    // Ends the connection, wherever the reply ends it, with a reset instead of a close.
    ScriptedReply& WithReset();
};

class ScriptedHttpServer
{
public:
    // Binds and starts listening; throws std::runtime_error when it cannot. Another address than
    // 127.0.0.1 is for tests inside a network namespace of their own.
    explicit ScriptedHttpServer(const std::string& address = "127.0.0.1");
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    unsigned short Port() const { return m_port; }
    // "http://<address>:<port>" followed by `pathAndQuery`.
    std::string Url(const std::string& pathAndQuery = "/") const;

    // Appends a reply to the script.
    void Enqueue(ScriptedReply reply);

    // The reply played whenever the script is empty (instead of "500 Unscripted").
    void SetDefaultReply(ScriptedReply reply);
    // The same, chosen for each request by `responder` (called on a server thread).
    void SetResponder(std::function<ScriptedReply(const RecordedRequest&)> responder);
    // Whether requests are kept for Requests() (they are by default); a long run turns it off so
    // that the server's memory stays flat. RequestCount() counts them either way.
    void RecordRequests(bool record);

    // Copies of the requests received so far, oldest first.
    std::vector<RecordedRequest> Requests() const;
    size_t RequestCount() const;
    // Waits until at least `count` requests were received; false when `timeoutMs` ran out first.
    bool WaitForRequests(size_t count, DWORD timeoutMs) const;
    // Number of connections accepted so far.
    size_t ConnectionCount() const;
    // Body bytes (chunk framing included) handed to the network so far, all connections together.
    size_t BodyBytesSent() const;

    // Stops accepting, ends every held or pending reply, closes every connection and joins the
    // threads. Idempotent.
    void Stop();

    // A port on 127.0.0.1 on which nothing listens (bound once, then released).
    static unsigned short UnusedPort();

private:
    void AcceptLoop();
    void ServeConnection(SOCKET socket, size_t connection);
    // False when the connection ends; *reset tells that the script wants it reset at once.
    bool ReadRequest(SOCKET socket, std::string& pending, RecordedRequest& request, bool* reset);
    // Plays one reply; false when the connection must be closed afterwards.
    bool PlayReply(SOCKET socket, const ScriptedReply& reply);
    bool SendAll(SOCKET socket, const char* data, size_t length);
    // Waits up to `ms` or until Stop(); true when the server is stopping.
    bool WaitOrStop(DWORD ms);
    bool Stopping() const;

    std::string m_address;
    SOCKET m_listen = INVALID_SOCKET;
    unsigned short m_port = 0;
    bool m_wsaStarted = false;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    std::deque<ScriptedReply> m_script;
    std::vector<RecordedRequest> m_requests;
    size_t m_requestCount = 0;
    bool m_recording = true;
    bool m_hasDefault = false;
    ScriptedReply m_default;
    std::function<ScriptedReply(const RecordedRequest&)> m_responder;
    std::vector<SOCKET> m_connections;
    size_t m_connectionCount = 0;
    size_t m_bodyBytesSent = 0;

    std::thread m_acceptThread;
    std::vector<std::thread> m_connectionThreads; // touched by the accept thread, then by Stop()
};

} // namespace vlagt::test
