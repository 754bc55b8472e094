// vlagt trust CAFILE | trust --list | untrust CAFILE: the CA certificates that the machine's TLS
// clients (the module's https URLs among them) accept as roots. A certificate goes into the local
// machine's "Root" system store; vlagt notes each one it added (by SHA-1 thumbprint) under
// HKLM "Software\Velmora\Tessaline\TrustedRoots", lists only those, and removes only those.
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "ToolSupport.h"
#include "common/UniqueHandle.h"

#include <wincrypt.h>

namespace vlagt::tool {

namespace {

struct CertStoreTraits
{
    static HCERTSTORE Invalid() noexcept { return nullptr; }
    static void Close(HCERTSTORE h) noexcept { ::CertCloseStore(h, 0); }
};
struct CertContextTraits
{
    static PCCERT_CONTEXT Invalid() noexcept { return nullptr; }
    static void Close(PCCERT_CONTEXT p) noexcept { ::CertFreeCertificateContext(p); }
};
using UniqueCertStore = UniqueHandle<HCERTSTORE, CertStoreTraits>;
using UniqueCertContext = UniqueHandle<PCCERT_CONTEXT, CertContextTraits>;

constexpr const char kTrustedRootsKey[] = "Software\\Velmora\\Tessaline\\TrustedRoots";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr size_t kMaxCertificateFile = 1024 * 1024;

std::string ErrorWords(DWORD error)
{
    return HresultWords(static_cast<long>(error > 0xFFFF ? error : (0x80070000UL | error)));
}

// The certificate a file holds, PEM ("-----BEGIN CERTIFICATE-----") or DER; empty `error` when read.
UniqueCertContext ReadCertificate(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return UniqueCertContext();
    }
    std::string bytes;
    char chunk[4096];
    while (in.read(chunk, sizeof(chunk)) || in.gcount() > 0) {
        bytes.append(chunk, static_cast<size_t>(in.gcount()));
        if (bytes.size() > kMaxCertificateFile) {
            error = path + " is too large for a certificate";
            return UniqueCertContext();
        }
    }
    std::vector<BYTE> der;
    if (bytes.find("-----BEGIN") != std::string::npos) {
        DWORD length = 0;
        if (!CryptStringToBinaryA(bytes.c_str(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER,
                                  nullptr, &length, nullptr, nullptr) ||
            length == 0) {
            error = path + " holds no PEM certificate";
            return UniqueCertContext();
        }
        der.resize(length);
        CryptStringToBinaryA(bytes.c_str(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER,
                             der.data(), &length, nullptr, nullptr);
        der.resize(length);
    } else {
        der.assign(bytes.begin(), bytes.end());
    }
    UniqueCertContext cert(
        der.empty() ? nullptr : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    if (!cert)
        error = path + " is not a certificate (PEM or DER expected)";
    return cert;
}

std::string Thumbprint(PCCERT_CONTEXT cert)
{
    BYTE hash[20] = {};
    DWORD length = sizeof(hash);
    if (!CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &length))
        return std::string();
    std::string hex;
    for (DWORD i = 0; i < length; ++i) {
        char digits[3];
        snprintf(digits, sizeof(digits), "%02x", hash[i]);
        hex += digits;
    }
    return hex;
}

std::string Subject(PCCERT_CONTEXT cert)
{
    char name[256] = {};
    CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof(name));
    return FieldText(name, sizeof(name));
}

UniqueCertStore OpenRoot(std::string& error)
{
    UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"));
    if (!store)
        error = "cannot open the machine's trusted root store: " + ErrorWords(GetLastError());
    return store;
}

// The thumbprints vlagt added, with the subject noted for each.
std::vector<std::pair<std::string, std::string>> NotedRoots()
{
    std::vector<std::pair<std::string, std::string>> roots;
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTrustedRootsKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return roots;
    for (DWORD i = 0;; ++i) {
        char name[64] = {};
        char data[256] = {};
        DWORD nameLength = sizeof(name);
        DWORD dataLength = sizeof(data) - 1;
        DWORD type = 0;
        if (RegEnumValueA(key.Get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                          &dataLength) != ERROR_SUCCESS)
            break;
        roots.emplace_back(FieldText(name, sizeof(name)), type == REG_SZ ? FieldText(data, sizeof(data)) : "");
    }
    return roots;
}

int RunTrust(CReport& report, const std::string& path)
{
    std::string error;
    UniqueCertContext cert = ReadCertificate(path, error);
    UniqueCertStore store;
    if (cert)
        store = OpenRoot(error);
    if (!cert || !store) {
        report.Fail(error);
        return report.Finish(kExitRefused);
    }
    const std::string thumbprint = Thumbprint(cert.Get());
    const std::string subject = Subject(cert.Get());
    report.Add("subject", "subject", subject);
    report.Add("thumbprint", "SHA-1", thumbprint);
    if (!CertAddCertificateContextToStore(store.Get(), cert.Get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        report.Fail("the trusted root store refused the certificate: " + ErrorWords(GetLastError()));
        return report.Finish(kExitRefused);
    }
    CertControlStore(store.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
    UniqueRegKey key;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTrustedRootsKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(),
                                  nullptr);
    if (result == ERROR_SUCCESS)
        result = RegSetValueExA(key.Get(), thumbprint.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(subject.c_str()),
                                static_cast<DWORD>(subject.size() + 1));
    if (result != ERROR_SUCCESS)
        report.Say("trusted, but not noted for 'vlagt trust --list': " + ErrorWords(static_cast<DWORD>(result)));
    report.Say("trusted as a root CA on this machine: " + subject);
    return report.Finish(kExitSuccess);
}

int RunList(CReport& report)
{
    std::string error;
    UniqueCertStore store = OpenRoot(error);
    if (!store) {
        report.Fail(error);
        return report.Finish(kExitRefused);
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    const auto roots = NotedRoots();
    for (const auto& [thumbprint, subject] : roots) {
        BYTE hash[20] = {};
        for (size_t i = 0; i < sizeof(hash) && 2 * i + 1 < thumbprint.size(); ++i)
            hash[i] = static_cast<BYTE>(std::stoul(thumbprint.substr(2 * i, 2), nullptr, 16));
        CRYPT_HASH_BLOB blob{sizeof(hash), hash};
        UniqueCertContext found(
            CertFindCertificateInStore(store.Get(), kEncoding, 0, CERT_FIND_SHA1_HASH, &blob, nullptr));
        const bool present = static_cast<bool>(found);
        report.Add("root", subject.c_str(), thumbprint + (present ? "" : " (no longer in the store)"));
        list.push_back({{"subject", subject}, {"thumbprint", thumbprint}, {"present", present}});
    }
    report.AddJson("roots", list);
    report.Say(roots.empty() ? "vlagt has trusted no CA on this machine"
                             : std::to_string(roots.size()) + " CA certificate(s) trusted by vlagt");
    return report.Finish(kExitSuccess);
}

int RunUntrust(CReport& report, const std::string& path)
{
    std::string error;
    UniqueCertContext cert = ReadCertificate(path, error);
    UniqueCertStore store;
    if (cert)
        store = OpenRoot(error);
    if (!cert || !store) {
        report.Fail(error);
        return report.Finish(kExitRefused);
    }
    const std::string thumbprint = Thumbprint(cert.Get());
    report.Add("subject", "subject", Subject(cert.Get()));
    report.Add("thumbprint", "SHA-1", thumbprint);
    bool noted = false;
    for (const auto& root : NotedRoots())
        noted = noted || root.first == thumbprint;
    if (!noted) {
        report.Fail("this certificate was not trusted by 'vlagt trust': left as it is");
        return report.Finish(kExitRefused);
    }
    BYTE hash[20] = {};
    DWORD length = sizeof(hash);
    CertGetCertificateContextProperty(cert.Get(), CERT_SHA1_HASH_PROP_ID, hash, &length);
    CRYPT_HASH_BLOB blob{length, hash};
    PCCERT_CONTEXT found = CertFindCertificateInStore(store.Get(), kEncoding, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    // CertDeleteCertificateFromStore frees the context it is given, whatever its result.
    if (found != nullptr && !CertDeleteCertificateFromStore(found)) {
        report.Fail("the trusted root store kept the certificate: " + ErrorWords(GetLastError()));
        return report.Finish(kExitRefused);
    }
    // Written through to the store's registry now, not only when the last handle closes.
    CertControlStore(store.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTrustedRootsKey, 0, KEY_WRITE, key.Put()) == ERROR_SUCCESS)
        RegDeleteValueA(key.Get(), thumbprint.c_str());
    report.Say(found != nullptr ? "no longer trusted on this machine: " + Subject(cert.Get())
                                : "it was no longer in the store; the note of it is removed");
    return report.Finish(kExitSuccess);
}

} // namespace

void AddTrustCommands(CLI::App& app, CommonOptions& options, CommandList& commands)
{
    struct TrustOptions
    {
        std::string trustFile;
        std::string untrustFile;
        bool list = false;
    };
    auto chosen = std::make_shared<TrustOptions>();
    CLI::App* trust = app.add_subcommand(
        "trust", "Trust a CA certificate (PEM or DER) as a root for TLS on this machine, or --list those trusted");
    CLI::Option* fileOption = trust->add_option("CAFILE", chosen->trustFile, "the CA certificate");
    CLI::Option* listOption = trust->add_flag("--list", chosen->list, "list the CA certificates that 'vlagt trust' added");
    fileOption->excludes(listOption);
    AddJsonFlag(*trust, options);
    trust->callback([fileOption, listOption] {
        if (fileOption->count() == 0 && listOption->count() == 0)
            throw CLI::RequiredError("CAFILE or --list");
    });
    commands.push_back(
        {trust, [chosen](CReport& report) { return chosen->list ? RunList(report) : RunTrust(report, chosen->trustFile); }});

    CLI::App* untrust = app.add_subcommand("untrust", "Stop trusting a CA certificate that 'vlagt trust' added");
    untrust->add_option("CAFILE", chosen->untrustFile, "the CA certificate")->required();
    AddJsonFlag(*untrust, options);
    commands.push_back({untrust, [chosen](CReport& report) { return RunUntrust(report, chosen->untrustFile); }});
}

} // namespace vlagt::tool
