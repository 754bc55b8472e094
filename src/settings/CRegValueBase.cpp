#include "settings/CRegValueBase.h"

CRegValueBase::CRegValueBase(const char* fullPath, HKEY hRootKey)
    : m_hKey(nullptr), m_hRootKey(hRootKey)
{
    const std::string path = fullPath ? fullPath : "";
    const std::string::size_type slash = path.rfind('\\');
    if (slash == std::string::npos) {
        m_strKeyPath = path;
        m_strValueName = path;
    } else {
        m_strKeyPath = path.substr(0, slash);
        m_strValueName = path.substr(slash + 1);
    }
}

CRegValueBase::~CRegValueBase()
{
    Close();
}

// Every key is opened in the 32-bit view of the registry, so that the 32- and the 64-bit module (and
// tool) of one machine read and write the same values: on 64-bit Windows a 64-bit process would
// otherwise see HKLM\Software apart from what 32-bit processes see (their Wow6432Node). Keys that
// both views share, such as the user's Internet settings, and 32-bit Windows ignore the flag.
bool CRegValueBase::Open(bool bCreate)
{
    Close();
    if (bCreate) {
        DWORD disposition = 0;
        char emptyClass[] = "";
        if (RegCreateKeyExA(m_hRootKey, m_strKeyPath.c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE | KEY_WOW64_32KEY, nullptr, &m_hKey, &disposition) == ERROR_SUCCESS)
            return true;
        m_hKey = nullptr;
    }
    if (RegOpenKeyExA(m_hRootKey, m_strKeyPath.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &m_hKey) == ERROR_SUCCESS)
        return true;
    m_hKey = nullptr;
    return false;
}

void CRegValueBase::Close()
{
    if (m_hKey != nullptr) {
        RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
}
