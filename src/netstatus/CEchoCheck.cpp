// The echo check: ICMP.DLL loaded on demand, one echo, the reply checked field by field.
#include "netstatus/CEchoCheck.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "common/TextUtil.h"
#include "common/UniqueHandle.h"

LONG CEchoCheck::s_nUsers = 0;
LONG CEchoCheck::s_bLoaded = 0;
HMODULE CEchoCheck::s_hIcmpDll = nullptr;
CEchoCheck::IcmpCreateFileFn CEchoCheck::s_pfnIcmpCreateFile = nullptr;
CEchoCheck::IcmpSendEchoFn CEchoCheck::s_pfnIcmpSendEcho = nullptr;
CEchoCheck::IcmpCloseHandleFn CEchoCheck::s_pfnIcmpCloseHandle = nullptr;
LONG CEchoCheck::s_nWinsockStarts = 0;

namespace {

constexpr BYTE kPayloadByte = 0x45;
constexpr DWORD kMinReplyData = 8;
constexpr char kLoopbackAddress[] = "127.0.0.1";
// Large enough for "255.255.255.255" and its terminator.
constexpr size_t kAddressSize = 16;
// gethostname's buffer: a name of 40 characters or more does not fit.
constexpr int kHostNameSize = 40;

struct IcmpHandleTraits
{
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) noexcept
    {
        if (CEchoCheck::s_pfnIcmpCloseHandle != nullptr)
            CEchoCheck::s_pfnIcmpCloseHandle(h);
    }
};
using UniqueIcmpHandle = vlagt::UniqueHandle<HANDLE, IcmpHandleTraits>;

template <typename Fn>
Fn ProcAddress(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The checks of one echo reply, in order; on failure the reason goes into the last-error value.
// The payload is read only where it lies inside the reply buffer.
int CheckReply(DWORD replies, const BYTE* buffer, DWORD bufferSize, BYTE size)
{
    if (replies != 1)
        return 0;
    ICMP_ECHO_REPLY reply;
    memcpy(&reply, buffer, sizeof(reply));
    if (reply.Status != 0) {
        SetLastError(reply.Status);
        return 0;
    }
    if (reply.DataSize != size) {
        SetLastError(ERROR_UNEXP_NET_ERR);
        return 0;
    }
    const BYTE* data = static_cast<const BYTE*>(reply.Data);
    if (size > 0 && (data < buffer || data > buffer + bufferSize || size > buffer + bufferSize - data)) {
        SetLastError(ERROR_UNEXP_NET_ERR);
        return 0;
    }
    for (BYTE i = 0; i < size; ++i) {
        if (data[i] != kPayloadByte) {
            SetLastError(ERROR_UNEXP_NET_ERR);
            return 0;
        }
    }
    return 1;
}

} // namespace

CEchoCheck::CEchoCheck()
{
    ++s_nUsers;
}

CEchoCheck::~CEchoCheck()
{
    if (--s_nUsers == 0) {
        const DWORD error = GetLastError();
        Release();
        SetLastError(error);
    }
}

void CEchoCheck::Release()
{
    if (s_hIcmpDll != nullptr)
        FreeLibrary(s_hIcmpDll);
    s_hIcmpDll = nullptr;
    s_pfnIcmpCreateFile = nullptr;
    s_pfnIcmpSendEcho = nullptr;
    s_pfnIcmpCloseHandle = nullptr;
    s_bLoaded = 0;
    for (; s_nWinsockStarts > 0; --s_nWinsockStarts)
        WSACleanup();
}

int CEchoCheck::StartWinsock()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 0;
    ++s_nWinsockStarts;
    return 1;
}

int CEchoCheck::GetLocalAddress(char* address)
{
    char name[kHostNameSize] = {};
    if (gethostname(name, sizeof(name)) != 0)
        return 0;
    name[sizeof(name) - 1] = '\0';
    if (name[0] == '\0')
        return 0;
    const hostent* entry = gethostbyname(name);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != sizeof(in_addr) ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
        return 0;
    in_addr first;
    memcpy(&first, entry->h_addr_list[0], sizeof(first));
    const char* text = inet_ntoa(first);
    if (text == nullptr)
        return 0;
    vlagt::CopyTerminated(address, kAddressSize, text);
    return _stricmp(address, kLoopbackAddress) == 0 ? 0 : 1;
}

int CEchoCheck::LoadIcmp()
{
    if (!s_bLoaded) {
        s_bLoaded = 1;
        WSADATA data;
        if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
            return 0;
        ++s_nWinsockStarts;
        s_hIcmpDll = LoadLibraryA("ICMP.DLL");
        if (s_hIcmpDll == nullptr)
            return 0;
        s_pfnIcmpCreateFile = ProcAddress<IcmpCreateFileFn>(s_hIcmpDll, "IcmpCreateFile");
        s_pfnIcmpSendEcho = ProcAddress<IcmpSendEchoFn>(s_hIcmpDll, "IcmpSendEcho");
        s_pfnIcmpCloseHandle = ProcAddress<IcmpCloseHandleFn>(s_hIcmpDll, "IcmpCloseHandle");
    }
    return s_pfnIcmpCreateFile != nullptr && s_pfnIcmpSendEcho != nullptr && s_pfnIcmpCloseHandle != nullptr;
}

int CEchoCheck::Echo(const char* host, BYTE ttl, DWORD timeoutMs, BYTE size)
{
    if (!LoadIcmp() || host == nullptr)
        return 0;

    IPAddr destination = inet_addr(host);
    if (destination == INADDR_NONE) {
        const hostent* entry = gethostbyname(host);
        if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != sizeof(destination) ||
            entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
            return 0;
        memcpy(&destination, entry->h_addr_list[0], sizeof(destination));
    }

    int result = 0;
    DWORD error = 0;
    {
        UniqueIcmpHandle icmp(s_pfnIcmpCreateFile());
        if (!icmp)
            return 0;
        IP_OPTION_INFORMATION options;
        memset(&options, 0, sizeof(options));
        options.Ttl = ttl;
        std::vector<BYTE> payload(size, kPayloadByte);
        const DWORD replySize = sizeof(ICMP_ECHO_REPLY) + std::max<DWORD>(size, kMinReplyData);
        std::vector<BYTE> reply(replySize, 0);
        const DWORD replies = s_pfnIcmpSendEcho(icmp.Get(), destination, payload.data(), size, &options,
                                                reply.data(), replySize, timeoutMs);
        result = CheckReply(replies, reply.data(), replySize, size);
        error = GetLastError();
    }
    // Closing the handle and freeing the buffers must not hide why the echo failed.
    SetLastError(error);
    return result;
}
