#include "settings/CRegDwordValue.h"

DWORD CRegDwordValue::Read()
{
    DWORD value = 0;
    if (!Open(false))
        return 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExA(m_hKey, m_strValueName.c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        value = 0;
    Close();
    return value;
}
