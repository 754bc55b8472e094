// TlsFiles.h - test certificates for serving HTTPS: a small CA and server certificates it signs,
// made with OpenSSL's library (RSA 2048, SHA-256), as PEM texts.
//
// A server certificate names each host both as a DNS name and, when the host is an IPv4 or IPv6
// address, as an IP address as well: some TLS clients (Wine's among them) match an address only
// against DNS names.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace vlpolicy {

struct TlsIdentity
{
    std::string certificatePem;
    std::string keyPem;
};

// A self-signed CA certificate (path length 0: it signs no further CA), valid from notBefore to
// notAfter (seconds since 1970); with hosts, it also names them (a self-signed server certificate).
// With permitted, critical name constraints let it vouch only for those names and addresses (each
// as AltNames writes a host: a DNS name, an address also as its IP address, exactly).
TlsIdentity MakeTlsCa(const std::string& commonName, int64_t notBefore, int64_t notAfter,
                      const std::vector<std::string>& hosts = {}, const std::vector<std::string>& permitted = {});
// A server certificate for `hosts` (the first is also the common name), signed by `ca`.
// Throws std::runtime_error when OpenSSL fails or `hosts` is empty.
TlsIdentity MakeTlsServerCertificate(const TlsIdentity& ca, const std::vector<std::string>& hosts,
                                     int64_t notBefore, int64_t notAfter);

// Writes `text` to a new file with the given mode; throws std::runtime_error when the file exists
// already or cannot be written (a file that exists is never touched).
void WriteNewFile(const std::string& path, const std::string& text, unsigned mode);

// What `vlpolicyd tls init` writes into a folder.
struct TlsInitFiles
{
    std::string caCertificate; // ca.pem: the CA to trust on the agents' machines
    std::string caKey;         // ca-key.pem, written only when asked to keep it
    std::string certificate;   // server.pem: the server certificate, then the CA's
    std::string key;           // server-key.pem
};
TlsInitFiles TlsInitPaths(const std::string& folder);

// Makes a CA limited to `hosts` and a server certificate for them, both valid for kTlsInitDays, and
// writes them (the folder is made when missing); the CA's key is written only with keepCaKey,
// otherwise it is forgotten once the certificate is signed and the CA can sign nothing more.
// Refuses (std::runtime_error, nothing written) when any of the four files exists.
constexpr int kTlsInitDays = 398;
TlsInitFiles TlsInit(const std::string& folder, const std::vector<std::string>& hosts, bool keepCaKey = false);

} // namespace vlpolicy
