// CDRMLogin::CheckOnline: is this machine on a network at all? One echo to its own address.
#include "VLAgtClient.h"

#include "netstatus/CEchoCheck.h"

namespace {

constexpr BYTE kEchoTtl = 3;
constexpr DWORD kEchoTimeoutMs = 1000;
constexpr BYTE kEchoPayloadSize = 32;

} // namespace

int CDRMLogin::CheckOnline()
{
    int result = 0;
    {
        CEchoCheck echo;
        // When Winsock cannot start, the host-name lookup fails and the answer is 0.
        echo.StartWinsock();
        char address[16] = {};
        if (echo.GetLocalAddress(address))
            result = echo.Echo(address, kEchoTtl, kEchoTimeoutMs, kEchoPayloadSize);
        if (m_pSharedInfo != nullptr)
            m_pSharedInfo->nOnline = result;
    }
    return result != 0 ? 1 : 0;
}
