// CEchoCheck.h - one ICMP echo to an address, through the entry points of ICMP.DLL.
//
// The objects carry no data: ICMP.DLL, its three entry points and the Winsock start-ups belong to
// the class. The first Echo of a process loads ICMP.DLL (with a version 1.1 Winsock start-up);
// when the last live object goes away the library is released, the load state is cleared (so the
// next check loads it again and no entry point of a released library is ever called) and every
// Winsock start-up the class made is cleaned up once.
//
// Results: 1 success, 0 failure. A failed Echo leaves the reason in the thread's last-error value:
// a non-zero reply status is passed on as it is, a reply of the wrong size or with an altered
// payload byte gives 59 (ERROR_UNEXP_NET_ERR).
//
// Objects are used one at a time: nothing here is locked.
#pragma once

#include "common/WinApi.h"

#include <ipexport.h>

class CEchoCheck
{
public:
    using IcmpCreateFileFn = HANDLE(WINAPI*)();
    using IcmpSendEchoFn = DWORD(WINAPI*)(HANDLE icmp, IPAddr destination, LPVOID requestData,
                                          WORD requestSize, PIP_OPTION_INFORMATION options,
                                          LPVOID replyBuffer, DWORD replySize, DWORD timeoutMs);
    using IcmpCloseHandleFn = BOOL(WINAPI*)(HANDLE icmp);

    CEchoCheck();
    ~CEchoCheck();
    CEchoCheck(const CEchoCheck&) = delete;
    CEchoCheck& operator=(const CEchoCheck&) = delete;

    // WSAStartup for version 2.2: 1 when it succeeded.
    int StartWinsock();
    // Writes the local host's dotted IPv4 address into `address` (16 bytes or more). 0 when the
    // host name cannot be read (also for a name of 40 characters or more), is empty or does not
    // resolve, and when the address is 127.0.0.1 (loopback only); `address` is then left as it
    // was, except for the loopback case, where it holds "127.0.0.1".
    int GetLocalAddress(char* address);
    // Loads ICMP.DLL and its entry points on the first call after a release: 1 when all three
    // entry points are known. A failed load is not repeated until the next release.
    static int LoadIcmp();
    // Sends one echo of `size` bytes of 0x45 to `host` (dotted address or host name) and waits up
    // to `timeoutMs` for the reply: 1 for exactly one good reply, else 0. No retry.
    int Echo(const char* host, BYTE ttl, DWORD timeoutMs, BYTE size);

    // The class state (public so that tests can stand in for ICMP.DLL).
    static LONG s_nUsers;              // live objects
    static LONG s_bLoaded;             // the load step has run since the last release
    static HMODULE s_hIcmpDll;         // ICMP.DLL, null when not loaded
    static IcmpCreateFileFn s_pfnIcmpCreateFile;
    static IcmpSendEchoFn s_pfnIcmpSendEcho;
    static IcmpCloseHandleFn s_pfnIcmpCloseHandle;
    static LONG s_nWinsockStarts;      // successful WSAStartup calls not yet cleaned up

private:
    static void Release();
};
