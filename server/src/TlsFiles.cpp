#include "TlsFiles.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace vlpolicy {

namespace {

template <typename T, void (*Free)(T*)>
struct OpenSslFree
{
    void operator()(T* p) const noexcept { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, OpenSslFree<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO, BIO_free_all>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION, X509_EXTENSION_free>>;

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error("cannot make the certificate: " + what);
}

KeyPtr NewKey()
{
    KeyPtr key(EVP_RSA_gen(2048));
    if (!key)
        Fail("RSA key generation failed");
    return key;
}

std::string KeyPem(EVP_PKEY* key)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        Fail("writing the key");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

std::string CertPem(X509* cert)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1)
        Fail("writing the certificate");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

KeyPtr ReadKey(const std::string& pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    KeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key)
        Fail("reading the CA key");
    return key;
}

CertPtr ReadCert(const std::string& pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    CertPtr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!cert)
        Fail("reading the CA certificate");
    return cert;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    ExtPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    if (!extension || X509_add_ext(cert, extension.get(), -1) != 1)
        Fail("extension " + value);
}

// A certificate for `key` with a random serial, the validity and the subject's common name set.
CertPtr NewCertificate(EVP_PKEY* key, const std::string& commonName, int64_t notBefore, int64_t notAfter)
{
    CertPtr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1)
        Fail("X509_new");
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof(serial)) != 1)
        Fail("random serial");
    serial[0] &= 0x7f; // a positive number
    BIGNUM* number = BN_bin2bn(serial, sizeof(serial), nullptr);
    const bool serialSet = number != nullptr && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get())) != nullptr;
    BN_free(number);
    if (!serialSet)
        Fail("serial number");
    if (ASN1_TIME_set(X509_getm_notBefore(cert.get()), static_cast<time_t>(notBefore)) == nullptr ||
        ASN1_TIME_set(X509_getm_notAfter(cert.get()), static_cast<time_t>(notAfter)) == nullptr)
        Fail("validity");
    X509_NAME* name = X509_get_subject_name(cert.get());
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0) != 1)
        Fail("common name");
    if (X509_set_pubkey(cert.get(), key) != 1)
        Fail("public key");
    return cert;
}

bool IsAddress(const std::string& host)
{
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// subjectAltName: every host as a DNS name, an address also as an IP address.
std::string AltNames(const std::vector<std::string>& hosts)
{
    std::string names;
    for (const std::string& host : hosts) {
        if (host.empty() || (host.find_first_of(",: ") != std::string::npos && !IsAddress(host)))
            Fail("bad host name \"" + host + "\"");
        names += (names.empty() ? "DNS:" : ",DNS:") + host;
        if (IsAddress(host))
            names += ",IP:" + host;
    }
    return names;
}

// nameConstraints: each host permitted exactly, as AltNames names it.
std::string PermittedNames(const std::vector<std::string>& hosts)
{
    std::string names = "critical";
    for (const std::string& host : hosts) {
        if (host.empty() || (host.find_first_of(",: ") != std::string::npos && !IsAddress(host)))
            Fail("bad host name \"" + host + "\"");
        names += ",permitted;DNS:" + host;
        unsigned char address[16];
        if (inet_pton(AF_INET, host.c_str(), address) == 1)
            names += ",permitted;IP:" + host + "/255.255.255.255";
        else if (inet_pton(AF_INET6, host.c_str(), address) == 1)
            names += ",permitted;IP:" + host + "/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";
    }
    return names;
}

} // namespace

TlsIdentity MakeTlsCa(const std::string& commonName, int64_t notBefore, int64_t notAfter,
                      const std::vector<std::string>& hosts, const std::vector<std::string>& permitted)
{
    KeyPtr key = NewKey();
    CertPtr cert = NewCertificate(key.get(), commonName, notBefore, notAfter);
    if (X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get())) != 1)
        Fail("issuer");
    AddExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    AddExtension(cert.get(), cert.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment,keyCertSign,cRLSign");
    AddExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash");
    if (!hosts.empty())
        AddExtension(cert.get(), cert.get(), NID_subject_alt_name, AltNames(hosts));
    if (!permitted.empty())
        AddExtension(cert.get(), cert.get(), NID_name_constraints, PermittedNames(permitted));
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
        Fail("signing the CA");
    return {CertPem(cert.get()), KeyPem(key.get())};
}

TlsIdentity MakeTlsServerCertificate(const TlsIdentity& ca, const std::vector<std::string>& hosts,
                                     int64_t notBefore, int64_t notAfter)
{
    if (hosts.empty())
        Fail("no host name");
    KeyPtr caKey = ReadKey(ca.keyPem);
    CertPtr caCert = ReadCert(ca.certificatePem);
    KeyPtr key = NewKey();
    CertPtr cert = NewCertificate(key.get(), hosts.front(), notBefore, notAfter);
    if (X509_set_issuer_name(cert.get(), X509_get_subject_name(caCert.get())) != 1)
        Fail("issuer");
    AddExtension(cert.get(), caCert.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), caCert.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExtension(cert.get(), caCert.get(), NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), caCert.get(), NID_subject_alt_name, AltNames(hosts));
    AddExtension(cert.get(), caCert.get(), NID_authority_key_identifier, "keyid");
    if (X509_sign(cert.get(), caKey.get(), EVP_sha256()) == 0)
        Fail("signing the server certificate");
    return {CertPem(cert.get()), KeyPem(key.get())};
}

void WriteNewFile(const std::string& path, const std::string& text, unsigned mode)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0)
        throw std::runtime_error(errno == EEXIST ? path + " exists already: not overwritten"
                                                 : "cannot create " + path);
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n <= 0) {
            close(fd);
            unlink(path.c_str());
            throw std::runtime_error("cannot write " + path);
        }
        written += static_cast<size_t>(n);
    }
    if (close(fd) != 0)
        throw std::runtime_error("cannot write " + path);
}

TlsInitFiles TlsInitPaths(const std::string& folder)
{
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    return {base + "ca.pem", base + "ca-key.pem", base + "server.pem", base + "server-key.pem"};
}

TlsInitFiles TlsInit(const std::string& folder, const std::vector<std::string>& hosts, bool keepCaKey)
{
    TlsInitFiles files = TlsInitPaths(folder);
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create the folder " + folder);
    for (const std::string* path : {&files.caCertificate, &files.caKey, &files.certificate, &files.key}) {
        struct stat info;
        if (lstat(path->c_str(), &info) == 0)
            throw std::runtime_error(*path + " exists already: nothing written");
    }
    const int64_t now = static_cast<int64_t>(time(nullptr));
    const int64_t day = 24 * 60 * 60;
    // The CA ends with the one certificate it was made for.
    const int64_t notAfter = now + kTlsInitDays * day;
    const TlsIdentity ca = MakeTlsCa("vlpolicyd test CA", now - day, notAfter, {}, hosts);
    const TlsIdentity server = MakeTlsServerCertificate(ca, hosts, now - day, notAfter);
    if (keepCaKey)
        WriteNewFile(files.caKey, ca.keyPem, 0600);
    else
        files.caKey.clear();
    WriteNewFile(files.caCertificate, ca.certificatePem, 0644);
    WriteNewFile(files.key, server.keyPem, 0600);
    WriteNewFile(files.certificate, server.certificatePem + ca.certificatePem, 0644);
    return files;
}

} // namespace vlpolicy
