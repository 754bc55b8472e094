// CRegSettings.h - settings under one base key of a registry root. Each access opens the key,
// reads or writes one value and closes it again; nothing is kept open or cached.
//
// No access reports an error: an absent key or value, a denied access or a wrong type reads as an
// empty string or 0 and writes nothing. A base key path or a joined "base\name" path of 260
// characters or more does not fit and is refused the same way.
#pragma once

#include "common/WinApi.h"

class CRegSettings
{
public:
    // hRootKey 0 means HKEY_LOCAL_MACHINE.
    explicit CRegSettings(const char* baseKey, HKEY hRootKey = nullptr);
    ~CRegSettings();

    // Reads string value `name` into `out`, a buffer of 260 characters: at most 259 and a terminator.
    void GetString(const char* name, char* out);
    // Writes `value` as REG_SZ, creating the key when needed.
    void SetString(const char* name, const char* value);
    // Stores the DWORD value `name` in *out; 0 when absent.
    void GetDWORD(const char* name, DWORD* out);

    static constexpr size_t kPathSize = 260;

private:
    // Joins base key and name with one backslash into `fullPath`; false when it does not fit.
    bool JoinPath(const char* name, char (&fullPath)[kPathSize]) const;

public:
    char m_szBaseKey[kPathSize];
    HKEY m_hRootKey;
};
