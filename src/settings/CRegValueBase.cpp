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

bool CRegValueBase::Open(bool bCreate)
{
    Close();
    if (bCreate) {
        DWORD disposition = 0;
        char emptyClass[] = "";
        if (RegCreateKeyExA(m_hRootKey, m_strKeyPath.c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE, nullptr, &m_hKey, &disposition) == ERROR_SUCCESS)
            return true;
        m_hKey = nullptr;
    }
    if (RegOpenKeyExA(m_hRootKey, m_strKeyPath.c_str(), 0, KEY_READ, &m_hKey) == ERROR_SUCCESS)
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
