// vlpolicyd over TLS with the files `tls init` writes: a client that trusts the test CA gets its
// replies under both default names, one that does not trust it or speaks plain HTTP gets nothing;
// the files never overwrite, name each address both ways, and a certificate with the wrong key is
// not served.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "CPolicyServer.h"
#include "CPolicyStore.h"
#include "TestClient.h"
#include "TlsFiles.h"

namespace vlpolicy::test {
namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class TlsServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/vlpolicyd-tls-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_files = TlsInit(m_folder + "/tls", {"127.0.0.1", "localhost"});
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    std::string m_folder;
    TlsInitFiles m_files;
};

TEST_F(TlsServerTest, ServesHttpsToClientsThatTrustTheCaOnly)
{
    CPolicyStore store(m_folder + "/policy.db");
    CPolicyServer server(store, "/agent", nullptr, m_files.certificate, m_files.key);
    ASSERT_TRUE(server.IsValid());
    const int port = server.Bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    std::thread serving([&server] { server.Serve(); });

    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        httplib::SSLClient client(host, port);
        client.set_ca_cert_path(m_files.caCertificate.c_str());
        client.enable_server_certificate_verification(true);
        const auto reply = client.Post("/agent", std::string("_%REQ_PNG%_"), "application/octet-stream");
        ASSERT_TRUE(reply) << httplib::to_string(reply.error());
        EXPECT_EQ(reply->status, 200);
        EXPECT_EQ(reply->body, "_%RES_PNG%_");
    }
    {
        httplib::SSLClient stranger("127.0.0.1", port);
        stranger.enable_server_certificate_verification(true); // the system's roots only
        stranger.set_ca_cert_path("/dev/null");
        EXPECT_FALSE(stranger.Get("/agent"));
    }
    TestClient plain(port);
    EXPECT_EQ(plain.Get("/agent").status, 0) << "plain HTTP gets no reply from the TLS server";
    {
        // Over TLS the console's session cookie is never sent in clear.
        store.AddAdmin("root", "console-pass-01");
        httplib::SSLClient admin("127.0.0.1", port);
        admin.set_ca_cert_path(m_files.caCertificate.c_str());
        const auto reply = admin.Post("/admin/signin", "name=root&password=console-pass-01",
                                      "application/x-www-form-urlencoded");
        ASSERT_TRUE(reply) << httplib::to_string(reply.error());
        EXPECT_EQ(reply->status, 303);
        EXPECT_NE(reply->get_header_value("Set-Cookie").find("; HttpOnly; SameSite=Strict; Secure"), std::string::npos);
    }

    server.Stop();
    serving.join();
}

TEST_F(TlsServerTest, InitNeverOverwritesAndNamesAddressesBothWays)
{
    const std::string certificate = ReadFile(m_files.certificate);
    EXPECT_THROW(TlsInit(m_folder + "/tls", {"other.invalid"}), std::runtime_error);
    EXPECT_EQ(ReadFile(m_files.certificate), certificate);
    struct stat info;
    ASSERT_EQ(stat(m_files.key.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "keys are readable by their owner only";

    // The server certificate chains to the CA and names 127.0.0.1 as DNS name and as address.
    BIO* bio = BIO_new_mem_buf(certificate.data(), static_cast<int>(certificate.size()));
    X509* leaf = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(X509_check_host(leaf, "127.0.0.1", 0, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT, nullptr), 1)
        << "Wine matches an address against DNS names only";
    EXPECT_EQ(X509_check_ip_asc(leaf, "127.0.0.1", 0), 1);
    EXPECT_EQ(X509_check_host(leaf, "localhost", 0, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT, nullptr), 1);
    EXPECT_NE(X509_check_host(leaf, "other.invalid", 0, 0, nullptr), 1);
    X509_STORE* roots = X509_STORE_new();
    X509_STORE_load_file(roots, m_files.caCertificate.c_str());
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    X509_STORE_CTX_init(context, roots, leaf, nullptr);
    EXPECT_EQ(X509_verify_cert(context), 1) << X509_verify_cert_error_string(X509_STORE_CTX_get_error(context));
    X509_STORE_CTX_free(context);
    X509_STORE_free(roots);
    X509_free(leaf);

    // A key that does not belong to the server certificate (another CA's): not served.
    const TlsInitFiles other = TlsInit(m_folder + "/other", {"127.0.0.1"}, true);
    CPolicyStore store(m_folder + "/policy.db");
    CPolicyServer mismatched(store, "/agent", nullptr, m_files.certificate, other.caKey);
    EXPECT_FALSE(mismatched.IsValid());
}

// Whoever holds the test CA's key can still not vouch for another site: the CA names its hosts
// (name constraints), signs no further CA, and ends with its certificate; its key is kept only
// when asked for.
TEST_F(TlsServerTest, TestCa_VouchesForItsHostsOnly)
{
    struct stat info;
    EXPECT_TRUE(m_files.caKey.empty());
    EXPECT_NE(stat((m_folder + "/tls/ca-key.pem").c_str(), &info), 0) << "the CA key is not kept unless asked";
    const TlsInitFiles kept = TlsInit(m_folder + "/kept", {"127.0.0.1", "localhost", "::1"}, true);
    ASSERT_EQ(stat(kept.caKey.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const TlsIdentity ca{ReadFile(kept.caCertificate), ReadFile(kept.caKey)};
    X509_STORE* roots = X509_STORE_new();
    X509_STORE_load_file(roots, kept.caCertificate.c_str());
    X509* root = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(X509_STORE_get0_objects(roots), 0));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(X509_get_pathlen(root), 0);
    const ASN1_TIME* notAfter = X509_get0_notAfter(root);
    int days = 0, seconds = 0;
    ASSERT_EQ(ASN1_TIME_diff(&days, &seconds, nullptr, notAfter), 1);
    EXPECT_LE(days, kTlsInitDays);

    const int64_t now = time(nullptr);
    const struct
    {
        std::vector<std::string> hosts;
        int error; // X509_V_OK when accepted
    } cases[] = {
        {{"127.0.0.1"}, X509_V_OK},
        {{"localhost"}, X509_V_OK},
        {{"::1"}, X509_V_OK},
        {{"other.invalid"}, X509_V_ERR_PERMITTED_VIOLATION},
        {{"www.example.com"}, X509_V_ERR_PERMITTED_VIOLATION},
        {{"127.0.0.2"}, X509_V_ERR_PERMITTED_VIOLATION},
        {{"localhost", "bank.example"}, X509_V_ERR_PERMITTED_VIOLATION}, // one name too many
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hosts.back());
        const TlsIdentity signed_ = MakeTlsServerCertificate(ca, c.hosts, now - 60, now + 3600);
        BIO* bio = BIO_new_mem_buf(signed_.certificatePem.data(), static_cast<int>(signed_.certificatePem.size()));
        X509* leaf = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        ASSERT_NE(leaf, nullptr);
        X509_STORE_CTX* context = X509_STORE_CTX_new();
        X509_STORE_CTX_init(context, roots, leaf, nullptr);
        X509_VERIFY_PARAM_set_purpose(X509_STORE_CTX_get0_param(context), X509_PURPOSE_SSL_SERVER);
        const int verified = X509_verify_cert(context);
        EXPECT_EQ(verified == 1 ? X509_V_OK : X509_STORE_CTX_get_error(context), c.error)
            << X509_verify_cert_error_string(X509_STORE_CTX_get_error(context));
        X509_STORE_CTX_free(context);
        X509_free(leaf);
    }
    X509_STORE_free(roots);
}

} // namespace
} // namespace vlpolicy::test
