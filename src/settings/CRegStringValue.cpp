#include "settings/CRegStringValue.h"

#include <vector>

#include "common/TextUtil.h"

std::string CRegStringValue::Read()
{
    std::string result;
    if (!Open(false))
        return result;
    DWORD size = 0;
    if (RegQueryValueExA(m_hKey, m_strValueName.c_str(), nullptr, nullptr, nullptr, &size) ==
            ERROR_SUCCESS &&
        size > 0) {
        std::vector<char> buffer(size);
        DWORD read = size;
        if (RegQueryValueExA(m_hKey, m_strValueName.c_str(), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer.data()), &read) == ERROR_SUCCESS) {
            // The stored bytes need not end in a terminator: never look past what was read.
            const size_t valid = read < size ? read : size;
            result.assign(buffer.data(), vlagt::FieldLength(buffer.data(), valid));
        }
    }
    Close();
    return result;
}

void CRegStringValue::Write(const std::string& text)
{
    if (!Open(true))
        return;
    RegSetValueExA(m_hKey, m_strValueName.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
    Close();
}
