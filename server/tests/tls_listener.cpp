// vltlslistener - a bare TLS listener for the agent's TLS tests: it presents a certificate of a
// chosen kind (or speaks plain HTTP) on 127.0.0.1 and records what reached it.
//
// Usage: vltlslistener --certs DIR --kind KIND --record FILE [--address IPV4]
//   DIR holds ca.pem and ca-key.pem (as `vlpolicyd tls init --keep-ca-key` writes them), the CA the agent trusts.
//   KIND  trusted     a certificate for 127.0.0.1 from that CA: the handshake succeeds and every
//                     request is answered with the pong "_%RES_PNG%_"
//         self-signed a self-signed certificate for 127.0.0.1
//         unknown-ca  a certificate for 127.0.0.1 from a CA nobody trusts, sent without its chain
//         wrong-name  a certificate from the trusted CA for another host name only
//         expired     a certificate for 127.0.0.1 from the trusted CA that expired yesterday
//         plain       no TLS: reads what arrives, answers 400 at once and closes
// Listens on 127.0.0.1 unless --address names another (inside a test's own namespace); the
// certificates then name that address. Prints "listening on PORT" when ready; serves until killed.
// FILE gets one line per connection
// ("connection N client-hello yes|no handshake ok|failed|none application-bytes K") and FILE.raw
// every byte that arrived in clear (the handshake's first flight, or everything in plain mode).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "TlsFiles.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

vlpolicy::TlsIdentity MakeIdentity(const std::string& kind, const vlpolicy::TlsIdentity& trustedCa,
                                   const std::string& address)
{
    const int64_t now = static_cast<int64_t>(time(nullptr));
    const int64_t day = 24 * 60 * 60;
    if (kind == "trusted")
        return vlpolicy::MakeTlsServerCertificate(trustedCa, {address}, now - day, now + day);
    if (kind == "self-signed")
        return vlpolicy::MakeTlsCa(address, now - day, now + day, {address});
    if (kind == "unknown-ca")
        return vlpolicy::MakeTlsServerCertificate(vlpolicy::MakeTlsCa("untrusted test CA", now - day, now + day),
                                                  {address}, now - day, now + day);
    // Another of the hosts the CA may vouch for (tls init's defaults), not the one reached: a name
    // outside the CA's name constraints would be refused for those instead.
    if (kind == "wrong-name")
        return vlpolicy::MakeTlsServerCertificate(trustedCa, {address == "localhost" ? "127.0.0.1" : "localhost"},
                                                  now - day, now + day);
    if (kind == "expired")
        return vlpolicy::MakeTlsServerCertificate(trustedCa, {address}, now - 3 * day, now - day);
    throw std::runtime_error("unknown kind " + kind);
}

SSL_CTX* MakeContext(const vlpolicy::TlsIdentity& identity)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    BIO* certBio = BIO_new_mem_buf(identity.certificatePem.data(), static_cast<int>(identity.certificatePem.size()));
    BIO* keyBio = BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    const bool ok = context != nullptr && cert != nullptr && key != nullptr &&
                    SSL_CTX_use_certificate(context, cert) == 1 && SSL_CTX_use_PrivateKey(context, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!ok)
        throw std::runtime_error("cannot set up the TLS context");
    return context;
}

// Everything that arrives until the peer is quiet for 300 ms (or 64 KiB), without consuming it.
std::string PeekQuiet(int fd)
{
    std::string seen;
    char buffer[65536];
    for (int rounds = 0; rounds < 50; ++rounds) {
        const ssize_t n = recv(fd, buffer, sizeof(buffer), MSG_PEEK);
        if (n <= 0)
            break;
        if (static_cast<size_t>(n) == seen.size()) { // nothing new: wait once more, then stop
            usleep(300 * 1000);
            if (recv(fd, buffer, sizeof(buffer), MSG_PEEK | MSG_DONTWAIT) == n)
                break;
            continue;
        }
        seen.assign(buffer, static_cast<size_t>(n));
        usleep(100 * 1000);
    }
    return seen;
}

void Serve(int fd, size_t number, const std::string& kind, SSL_CTX* context, const std::string& recordPath)
{
    timeval limit{20, 0}; // a client's first handshake can take seconds under emulation
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    const std::string clear = PeekQuiet(fd);
    std::ofstream(recordPath + ".raw", std::ios::binary | std::ios::app) << clear;
    // A TLS handshake record: content type 22, protocol major version 3.
    const bool hello = clear.size() >= 6 && clear[0] == 0x16 && clear[1] == 0x03 && clear[5] == 0x01;
    std::string handshake = "none";
    size_t applicationBytes = 0;
    if (kind == "plain") {
        char buffer[65536];
        (void)!recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT); // take what was peeked
        const char reply[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        (void)!send(fd, reply, sizeof(reply) - 1, MSG_NOSIGNAL);
    } else {
        SSL* ssl = SSL_new(context);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            handshake = "ok";
            // Requests (head and body) until the client goes; each one gets the pong.
            std::string pending;
            char buffer[16384];
            for (;;) {
                const int n = SSL_read(ssl, buffer, sizeof(buffer));
                if (n <= 0)
                    break;
                applicationBytes += static_cast<size_t>(n);
                pending.append(buffer, static_cast<size_t>(n));
                const size_t headEnd = pending.find("\r\n\r\n");
                if (headEnd == std::string::npos)
                    continue;
                size_t length = 0;
                const size_t at = pending.find("Content-Length:");
                if (at != std::string::npos && at < headEnd)
                    length = strtoul(pending.c_str() + at + 15, nullptr, 10);
                if (pending.size() < headEnd + 4 + length)
                    continue;
                pending.erase(0, headEnd + 4 + length);
                const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n_%RES_PNG%_";
                SSL_write(ssl, reply, sizeof(reply) - 1);
            }
            SSL_shutdown(ssl);
        } else {
            handshake = "failed";
        }
        SSL_free(ssl);
    }
    std::ofstream(recordPath, std::ios::app) << "connection " << number << " client-hello " << (hello ? "yes" : "no")
                                             << " handshake " << handshake << " application-bytes "
                                             << applicationBytes << "\n";
    close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    std::string certs, kind, record, listenAddress = "127.0.0.1";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--certs")
            certs = argv[i + 1];
        else if (name == "--kind")
            kind = argv[i + 1];
        else if (name == "--record")
            record = argv[i + 1];
        else if (name == "--address")
            listenAddress = argv[i + 1];
    }
    if (certs.empty() || kind.empty() || record.empty()) {
        fprintf(stderr, "usage: vltlslistener --certs DIR --kind KIND --record FILE\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    try {
        SSL_CTX* context = nullptr;
        if (kind != "plain") {
            const vlpolicy::TlsIdentity ca{ReadFile(certs + "/ca.pem"), ReadFile(certs + "/ca-key.pem")};
            context = MakeContext(MakeIdentity(kind, ca, listenAddress));
        }
        const int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof(address);
        if (listener < 0 || inet_pton(AF_INET, listenAddress.c_str(), &address.sin_addr) != 1 ||
            bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener, 16) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on " + listenAddress);
        printf("listening on %u\n", static_cast<unsigned>(ntohs(address.sin_port)));
        fflush(stdout);
        for (size_t number = 1;; ++number) {
            const int fd = accept(listener, nullptr, nullptr);
            if (fd >= 0)
                Serve(fd, number, kind, context, record);
        }
    } catch (const std::exception& error) {
        fprintf(stderr, "vltlslistener: %s\n", error.what());
        return 1;
    }
}
