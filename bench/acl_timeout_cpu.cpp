// bench_acl_timeout_cpu.exe - the CPU time a timed-out GetACLInfo costs, beside a 3000 ms spin on the
// tick count measured in the same run, and their ratio.
//
// The server is silent: a socket on 127.0.0.1 that accepts connections and never answers. The
// registry's server URL ("VLDrmAgtSvr") points at it during the run and gets its previous value back
// afterwards. CPU time is user + kernel time, of the whole process (GetProcessTimes: the worker and
// the Internet library's threads included) and of the calling thread (GetThreadTimes).
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "VLAgtClient.h"

namespace {

constexpr char kKey[] = "Software\\Velmora\\Tessaline";
constexpr char kValue[] = "VLDrmAgtSvr";
constexpr DWORD kSpinMs = 3000;

double Ms(const FILETIME& kernel, const FILETIME& user)
{
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10000.0;
}

struct Cpu
{
    double process;
    double thread;
};

Cpu CpuNow()
{
    FILETIME created, exited, kernel, user;
    Cpu cpu = {};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    cpu.process = Ms(kernel, user);
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    cpu.thread = Ms(kernel, user);
    return cpu;
}

struct Figure
{
    DWORD wallMs;
    Cpu cpu;
};

template <typename Work>
Figure Measure(Work work)
{
    const Cpu before = CpuNow();
    const DWORD start = GetTickCount();
    work();
    const DWORD wall = GetTickCount() - start;
    const Cpu after = CpuNow();
    return {wall, {after.process - before.process, after.thread - before.thread}};
}

// The server URL of the registry (its 32-bit view, which the module reads), put back when the run ends.
class SavedServerUrl
{
public:
    SavedServerUrl()
    {
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                        &m_key, nullptr);
        char text[1024] = {};
        DWORD size = sizeof(text) - 1;
        m_had = RegGetValueA(m_key, nullptr, kValue, RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS;
        m_text = text;
    }
    ~SavedServerUrl()
    {
        if (m_had)
            Set(m_text);
        else
            RegDeleteValueA(m_key, kValue);
        RegCloseKey(m_key);
    }
    bool Set(const std::string& url)
    {
        return RegSetValueExA(m_key, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(url.c_str()),
                              static_cast<DWORD>(url.size() + 1)) == ERROR_SUCCESS;
    }

private:
    HKEY m_key = nullptr;
    bool m_had = false;
    std::string m_text;
};

// The step of the process CPU clock: Wine, for one, counts in ticks of several milliseconds.
double CpuClockStep()
{
    const DWORD start = GetTickCount();
    double first = CpuNow().process, second = first;
    while (second == first && GetTickCount() - start < 1000)
        second = CpuNow().process;
    double third = second;
    while (third == second && GetTickCount() - start < 1000)
        third = CpuNow().process;
    return third > second ? third - second : 0.0;
}

void Print(const char* what, const Figure& figure)
{
    printf("  %-26s wall %5lu ms   CPU %8.1f ms (process)  %8.1f ms (calling thread)\n", what,
           static_cast<unsigned long>(figure.wallMs), figure.cpu.process, figure.cpu.thread);
}

} // namespace

int main()
{
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;
    // The silent server: the system completes the connection, nobody ever reads or answers.
    SOCKET silent = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (silent == INVALID_SOCKET || bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(silent, 8) != 0 || getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        fprintf(stderr, "cannot open the silent server\n");
        return 1;
    }
    SavedServerUrl saved;
    if (!saved.Set("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/vl/agent")) {
        fprintf(stderr, "cannot set the server URL\n");
        return 1;
    }

    char user[] = "bench01", level[] = "Secret";
    ACL_INFO acl;
    int result = -1;
    const Figure query = Measure([&] { result = GetACLInfo(user, level, &acl); });
    const Figure spin = Measure([] {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < kSpinMs) {
        }
    });

    printf("acl_timeout_cpu: CPU time of a GetACLInfo that times out (result %d) against a silent server\n", result);
    Print("timed-out GetACLInfo", query);
    Print("3000 ms tick-count spin", spin);
    // A figure below one step of the CPU clock reads as 0: the ratio is then a lower bound.
    const double step = CpuClockStep();
    printf("  CPU clock step             %.1f ms\n", step);
    if (query.cpu.process >= step && query.cpu.process > 0.0)
        printf("  ratio spin / GetACLInfo (process CPU): %.0f\n", spin.cpu.process / query.cpu.process);
    else if (step > 0.0)
        printf("  ratio spin / GetACLInfo (process CPU): at least %.0f (GetACLInfo below one clock step)\n",
               spin.cpu.process / step);
    closesocket(silent);
    WSACleanup();
    return 0;
}
