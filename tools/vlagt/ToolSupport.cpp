#include "ToolSupport.h"

#include "CReport.h"

#include <stdio.h>
#include <string.h>

#include "common/UniqueHandle.h"

namespace vlagt::tool {

std::string StatusWords(unsigned long status)
{
    switch (status) {
    case 40000:
        return "success";
    case 0:
        return "server unreachable";
    case 2:
        return "the request could not be sent completely";
    case 3:
        return "the request could not be completed";
    case 41001:
        return "unknown user or wrong password";
    case 41002:
        return "account locked";
    case 42000:
        return "malformed request";
    case 45005:
        return "no take-out for this key";
    case 46000:
        return "the web reply carries no result";
    default:
        return "refused by the server";
    }
}

std::string TakeOutWords(int state, const std::string& start, const std::string& end)
{
    switch (state) {
    case 0:
        return "requested";
    case 1:
        if (start.empty() && end.empty())
            return "approved";
        return "approved from " + ShowDate(start) + " to " + ShowDate(end);
    case 2:
        return "none";
    case 3:
        return "refused";
    case 4:
        return "cancelled";
    default:
        return "state " + std::to_string(state);
    }
}

std::string HresultWords(long hr)
{
    char number[16] = {};
    snprintf(number, sizeof(number), "0x%08lX", static_cast<unsigned long>(hr));
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words;
    if (length > 0 && text != nullptr) {
        words.assign(text, length);
        while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                                  words.back() == '.'))
            words.pop_back();
    }
    if (text != nullptr)
        LocalFree(text);
    if (words.empty()) {
        switch (static_cast<unsigned long>(hr)) {
        case 0x80029C4AUL:
            words = "the type library cannot be loaded";
            break;
        case 0x8002801CUL:
            words = "the type library cannot be registered (registry access)";
            break;
        case 0x80070005UL:
            words = "access denied";
            break;
        default:
            words = "failed";
        }
    }
    return words + " (" + number + ")";
}

std::string Join(const std::vector<std::string>& parts, const char* separator)
{
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            text += separator;
        text += parts[i];
    }
    return text;
}

std::string FieldText(const char* field, size_t width)
{
    const void* end = memchr(field, '\0', width);
    return std::string(field, end != nullptr ? static_cast<const char*>(end) - field : width);
}

bool PutField(char* field, size_t width, const std::string& text)
{
    if (text.size() > width)
        return false;
    memset(field, 0, width);
    memcpy(field, text.data(), text.size());
    return true;
}

std::string UrlProblem(const std::string& url)
{
    auto startsWith = [&](const char* prefix) {
        const size_t n = strlen(prefix);
        return url.size() > n && _strnicmp(url.c_str(), prefix, n) == 0;
    };
    if (!startsWith("http://") && !startsWith("https://"))
        return "the server URL must begin with http:// or https://";
    if (url.size() > 259)
        return "the server URL is longer than 259 characters";
    return std::string();
}

bool IsDate(const std::string& text)
{
    if (text.size() != 8)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    const int year = std::stoi(text.substr(0, 4));
    const int month = std::stoi(text.substr(4, 2));
    const int day = std::stoi(text.substr(6, 2));
    if (year < 1900 || month < 1 || month > 12 || day < 1)
        return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::string ShowDate(const std::string& text)
{
    if (!IsDate(text))
        return text;
    return text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2);
}

std::string ReadSetting(const char* name)
{
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_READ | KEY_WOW64_32KEY, key.Put()) != ERROR_SUCCESS)
        return std::string();
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return std::string();
    std::vector<char> data(size + 1, '\0');
    if (RegQueryValueExA(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return std::string();
    return std::string(data.data());
}

bool WriteSetting(const char* name, const std::string& value, std::string& error)
{
    UniqueRegKey key;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRegistryKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY,
                                  nullptr, key.Put(), nullptr);
    if (result == ERROR_SUCCESS)
        result = RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1));
    if (result != ERROR_SUCCESS) {
        error = "cannot write HKLM\\" + std::string(kRegistryKey) + " \"" + name + "\": " + HresultWords(
            static_cast<long>(0x80070000UL | (static_cast<unsigned long>(result) & 0xFFFF)));
        return false;
    }
    return true;
}

void AddTlsRow(CReport& report, const std::string& url)
{
    if (url.size() > 8 && _strnicmp(url.c_str(), "https://", 8) == 0)
        report.AddFlag("tls", "tls", true);
}

namespace {
CTlsRefusal* g_tlsRefusal = nullptr;
constexpr char kTlsRefusedPrefix[] = "[TLS] exchange refused: ";
} // namespace

CTlsRefusal::CTlsRefusal() : m_handler(nullptr)
{
    g_tlsRefusal = this;
    m_handler = AddVectoredExceptionHandler(1, &CTlsRefusal::Handler);
}

CTlsRefusal::~CTlsRefusal()
{
    if (m_handler != nullptr)
        RemoveVectoredExceptionHandler(m_handler);
    g_tlsRefusal = nullptr;
}

long __stdcall CTlsRefusal::Handler(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    // DBG_PRINTEXCEPTION_C: OutputDebugStringA's text. The search goes on, so that the line still
    // reaches a debugger or monitor.
    if (record->ExceptionCode != 0x40010006 || record->NumberParameters < 2 || g_tlsRefusal == nullptr)
        return EXCEPTION_CONTINUE_SEARCH;
    const size_t length = static_cast<size_t>(record->ExceptionInformation[0]);
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    const size_t prefix = sizeof(kTlsRefusedPrefix) - 1;
    if (text != nullptr && length > prefix + 1 && strncmp(text, kTlsRefusedPrefix, prefix) == 0)
        g_tlsRefusal->m_reason.assign(text + prefix, strnlen(text + prefix, length - 1 - prefix));
    return EXCEPTION_CONTINUE_SEARCH;
}

std::string FailureWords(unsigned long status, const CTlsRefusal& tls, CReport& report)
{
    if (tls.Reason().empty())
        return StatusWords(status);
    report.Add("tls_refused", "tls refused", tls.Reason());
    return "the server's TLS certificate or connection was refused (" + tls.Reason() + ")";
}

void StartTls(CReport& report)
{
    const std::string url = ReadSetting(kServerUrlValue);
    if (url.size() <= 8 || _strnicmp(url.c_str(), "https://", 8) != 0)
        return;
    struct Start
    {
        static DWORD WINAPI Run(void*)
        {
            CDRMLogin session;
            if (session.GetServerIP() == 1)
                session.Communicate(SIG_REQ_PING);
            return 0;
        }
    };
    Stopwatch watch;
    UniqueKernelHandle thread(CreateThread(nullptr, 0, &Start::Run, nullptr, 0, nullptr));
    // A thread still running after the wait is left to the process's end.
    const bool done = thread && WaitForSingleObject(thread.Get(), 20000) == WAIT_OBJECT_0;
    report.Add("tls_start", "tls start", std::to_string(watch.Elapsed()) + " ms" + (done ? "" : " (not finished)"));
}

bool UseServer(CDRMLogin& session, const std::string& url, std::string& error)
{
    if (!url.empty()) {
        std::vector<char> text = Writable(url);
        session.SetServerIP(text.data());
        return true;
    }
    if (session.GetServerIP() == 1)
        return true;
    error = "no server URL: set one with 'vlagt server URL' or give --url";
    return false;
}

std::string LoggedInUser(CDRMLogin& session)
{
    if (session.m_pSharedInfo == nullptr && session.CreateSharedMemForLoginInfo() != 1)
        return std::string();
    return FieldText(session.m_pSharedInfo->szUserID);
}

std::vector<char> Writable(const std::string& text)
{
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

Stopwatch::Stopwatch() : m_start(GetTickCount()) {}

unsigned long Stopwatch::Elapsed() const
{
    return GetTickCount() - m_start;
}

} // namespace vlagt::tool
