// ToolSupport.h - small helpers shared by the commands of vlagt: the module's statuses in words,
// bounded text of fixed-width fields, dates, the module's registry values and a session bound to
// the configured server.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "VLAgtClient.h"

struct _EXCEPTION_POINTERS;

namespace vlagt::tool {

// The module's success status.
constexpr unsigned long kStatusSuccess = 40000;

// A status of the module or the server in words ("unknown user or wrong password").
std::string StatusWords(unsigned long status);
// A take-out state code in words; the dates are used for an approval.
std::string TakeOutWords(int state, const std::string& start = "", const std::string& end = "");
// An HRESULT in words, with its number.
std::string HresultWords(long hr);

std::string Join(const std::vector<std::string>& parts, const char* separator);
// The text of a fixed-width field: up to its first zero byte, at most `width` bytes.
std::string FieldText(const char* field, size_t width);
template <size_t N>
std::string FieldText(const char (&field)[N])
{
    return FieldText(field, N);
}
// Copies `text` into a fixed-width field, zero-filled; false (field untouched) when it does not fit.
bool PutField(char* field, size_t width, const std::string& text);

// What is wrong with a server URL; empty when it is fine.
std::string UrlProblem(const std::string& url);

// True for a real calendar date written YYYYMMDD.
bool IsDate(const std::string& text);
// A YYYYMMDD date as YYYY-MM-DD (unchanged when it is not one).
std::string ShowDate(const std::string& text);

// The module's values under HKEY_LOCAL_MACHINE "Software\Velmora\Tessaline", in the 32-bit view of the
// registry (KEY_WOW64_32KEY), which the module of either architecture reads.
constexpr const char kRegistryKey[] = "Software\\Velmora\\Tessaline";
constexpr const char kServerUrlValue[] = "VLDrmAgtSvr";
constexpr const char kTakeOutKeyValue[] = "TakeOutKey";
// Reads a string value; empty when absent.
std::string ReadSetting(const char* name);
// Writes a string value, creating the key; false with `error` set on failure.
bool WriteSetting(const char* name, const std::string& value, std::string& error);

// Gives the session its server URL: `url` when not empty, else the registry's (through the
// session's own GetServerIP). False with `error` set when there is none.
bool UseServer(CDRMLogin& session, const std::string& url, std::string& error);
// The user the shared record "DRMAgentLoginInfo" names, through a session attached to it; empty
// when nobody is logged in or the record cannot be opened.
std::string LoggedInUser(CDRMLogin& session);

class CReport;
// Adds the row "tls  yes" (JSON "tls": true) when `url` is an https URL; nothing otherwise.
void AddTlsRow(CReport& report, const std::string& url);

// While it lives, watches this process's debug output for the module's line about a refused TLS
// connection and keeps its reason ("WinINet error 12045, certificate issuer not trusted"). The lines
// still reach any debugger or monitor. One at a time, on the thread that makes the exchange.
class CTlsRefusal
{
public:
    CTlsRefusal();
    ~CTlsRefusal();
    CTlsRefusal(const CTlsRefusal&) = delete;
    CTlsRefusal& operator=(const CTlsRefusal&) = delete;
    // Empty when no TLS refusal was logged.
    const std::string& Reason() const { return m_reason; }

private:
    static long __stdcall Handler(::_EXCEPTION_POINTERS* info);
    void* m_handler;
    std::string m_reason;
};

// The words for a failed exchange's status; when the module refused the TLS connection, its reason
// instead, also added as the row "tls refused".
std::string FailureWords(unsigned long status, const CTlsRefusal& tls, CReport& report);

// Before one of the module's 3000 ms questions (acl, ping, check-user) with an https server URL in
// the registry: one ping exchange of a session of its own, on a thread, waited for at most 20 s,
// so that the question meets a process whose TLS is started (the TLS provider loaded, the chain
// built), as in a running agent; each vlagt command is a new process, and under emulation that
// start alone can take longer than 3000 ms. Adds the row "tls start" with the time it took.
// Nothing is done for an http URL.
void StartTls(CReport& report);

// A writable, terminated copy of a text, for the module's char* parameters.
std::vector<char> Writable(const std::string& text);

// Milliseconds since construction.
class Stopwatch
{
public:
    Stopwatch();
    unsigned long Elapsed() const;

private:
    unsigned long m_start;
};

} // namespace vlagt::tool
