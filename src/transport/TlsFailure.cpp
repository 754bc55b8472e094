#include "transport/TlsFailure.h"

namespace vlagt {

const char* TlsFailureText(DWORD error)
{
    switch (error) {
    case 12037: // ERROR_INTERNET_SEC_CERT_DATE_INVALID
        return "certificate expired or not yet valid";
    case 12038: // ERROR_INTERNET_SEC_CERT_CN_INVALID
        return "certificate does not name the server's host";
    case 12044: // ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED
        return "the server asks for a client certificate";
    case 12045: // ERROR_INTERNET_INVALID_CA
    case 12057: // ERROR_INTERNET_SEC_CERT_REV_FAILED: Wine's answer to a leaf of an unknown CA
        return "certificate issuer not trusted";
    case 12055: // ERROR_INTERNET_SEC_CERT_ERRORS
    case 12169: // ERROR_INTERNET_SEC_INVALID_CERT
        return "certificate not valid";
    case 12056: // ERROR_INTERNET_SEC_CERT_NO_REV
        return "certificate revocation could not be checked";
    case 12170: // ERROR_INTERNET_SEC_CERT_REVOKED
        return "certificate revoked";
    case 12157: // ERROR_INTERNET_SECURITY_CHANNEL_ERROR
        return "no TLS connection: the server does not speak TLS or the handshake failed";
    case 12179: // ERROR_INTERNET_SEC_CERT_WEAK_SIGNATURE
        return "certificate signature too weak";
    default:
        return nullptr;
    }
}

} // namespace vlagt
