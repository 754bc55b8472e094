// ToolSupport.h - small helpers shared by the commands of vlagt: the module's statuses in words,
// bounded text of fixed-width fields, dates, the module's registry values and a session bound to
// the configured server.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "VLAgtClient.h"

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
