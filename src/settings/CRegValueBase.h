// CRegValueBase.h - one registry value named by a full path "key\...\value" under a root key.
// A value object lives for one access: Open, one read or write, close.
#pragma once

#include <string>

#include "common/WinApi.h"

class CRegValueBase
{
public:
    // Splits fullPath at its last backslash: key path before it, value name after it. A path with no
    // backslash gives the whole path for both.
    CRegValueBase(const char* fullPath, HKEY hRootKey);
    // Closes the key should an access have left it open; a completed read or write already did.
    virtual ~CRegValueBase();

    CRegValueBase(const CRegValueBase&) = delete;
    CRegValueBase& operator=(const CRegValueBase&) = delete;

    // Opens the key into m_hKey. bCreate: create or open it for writing; when that fails, or when
    // !bCreate, open it for reading. Returns true when a key is open.
    bool Open(bool bCreate);

protected:
    // Closes m_hKey and sets it to null.
    void Close();

public:
    HKEY m_hKey;
    HKEY m_hRootKey;
    std::string m_strValueName;
    std::string m_strKeyPath;
};
