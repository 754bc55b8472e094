// CcfFile.h - the CCF on disk: its location, reading it, and the locked merge-and-replace write. Its
// text format is CcfFormat.h's.
#pragma once

#include <stddef.h>

#include <string>

#include "CcfFormat.h"

namespace corvane {

enum class CcfState
{
    Missing,    // no file: an empty CCF
    Valid,      // read and checked
    Damaged,    // present but not a well-formed CCF, or its check value does not match
    Unreadable  // present but could not be read
};

// The environment variable that, when set, names the CCF file.
constexpr const wchar_t kPathVariable[] = L"CORVANE_CCF_PATH";
// The CCF of the current user: CORVANE_CCF_PATH when set, else the profile's local application data
// folder + "\Velmora\Tessaline\Client.ccf". Empty when neither can be found.
std::wstring CcfPath();
// The name of the mutex that guards the file at `path` (the same for every process of the logon).
std::wstring MutexName(const std::wstring& path);

// Reads and checks the file; `values` is empty unless the result is Valid.
CcfState Read(const std::wstring& path, CcfValues& values);
// The same under the file's mutex, so that the read never holds the file open while a writer
// replaces it.
CcfState ReadLocked(const std::wstring& path, CcfValues& values);

// Under the file's mutex: reads the file as it stands, sets every value of `changes` in it, writes a
// temporary file beside it and moves that over the old one; creates the folder when needed. A damaged
// file is replaced; an unreadable one is left alone. True when written.
bool Merge(const std::wstring& path, const CcfValues& changes);

} // namespace corvane
