#include "settings/CRegSettings.h"

#include <stdio.h>
#include <string.h>

#include "common/TextUtil.h"
#include "settings/CRegDwordValue.h"
#include "settings/CRegStringValue.h"

CRegSettings::CRegSettings(const char* baseKey, HKEY hRootKey)
    : m_hRootKey(hRootKey ? hRootKey : HKEY_LOCAL_MACHINE)
{
    memset(m_szBaseKey, 0, sizeof(m_szBaseKey));
    // A base key of 260 characters or more cannot be stored whole; its cut form can never be
    // joined with a name within 259 characters, so every access through it is refused.
    vlagt::CopyTerminated(m_szBaseKey, sizeof(m_szBaseKey), baseKey);
}

CRegSettings::~CRegSettings() = default;

bool CRegSettings::JoinPath(const char* name, char (&fullPath)[kPathSize]) const
{
    const int written = snprintf(fullPath, sizeof(fullPath), "%s\\%s", m_szBaseKey, name ? name : "");
    return written >= 0 && static_cast<size_t>(written) < sizeof(fullPath);
}

void CRegSettings::GetString(const char* name, char* out)
{
    if (out == nullptr)
        return;
    char fullPath[kPathSize];
    std::string value;
    if (JoinPath(name, fullPath)) {
        CRegStringValue regValue(fullPath, m_hRootKey);
        value = regValue.Read();
    }
    vlagt::CopyTerminated(out, kPathSize, value.c_str());
}

void CRegSettings::SetString(const char* name, const char* value)
{
    char fullPath[kPathSize];
    if (!JoinPath(name, fullPath))
        return;
    CRegStringValue regValue(fullPath, m_hRootKey);
    regValue.Write(value ? value : "");
}

void CRegSettings::GetDWORD(const char* name, DWORD* out)
{
    if (out == nullptr)
        return;
    char fullPath[kPathSize];
    if (!JoinPath(name, fullPath)) {
        *out = 0;
        return;
    }
    CRegDwordValue regValue(fullPath, m_hRootKey);
    *out = regValue.Read();
}
