// CommandText.h - the two command texts of the user check, as pure functions over their inputs
// (no Win32 call), so that they can be built and exercised natively.
#pragma once

#include <stddef.h>

namespace vlagt {

// The installation folder named by a shell open command such as "\"C:\App\agent.exe\" \"%1\"":
// the text up to and including its last backslash, without the opening double quote when the text
// starts with one. Only an absolute folder counts (a drive letter, a colon and a backslash, or a
// "\\" network path): anything else would be looked up relative to the caller's current drive or
// folder. True, with the folder in `out` (terminated), when there is one that fits `outSize`;
// otherwise false and `out` untouched.
bool InstallFolderFromCommand(const char* command, char* out, size_t outSize);

// The browser's command line: the browser path in double quotes (so that no part of a path with
// spaces is taken for a program of its own), one space, the page. True when it fits `outSize`;
// otherwise false and `out` empty.
bool FormatBrowserCommand(const char* browserPath, const char* page, char* out, size_t outSize);

} // namespace vlagt
