// RegistrySandbox.h - keeps a test's registry changes to itself: saves the tree under a key, clears
// it, and puts the saved tree back when the test ends. Default key: HKLM "Software\Velmora\Tessaline".
#pragma once

#include <memory>
#include <string>

#include "common/WinApi.h"

namespace vlagt::test {

class RegistrySandbox
{
public:
    explicit RegistrySandbox(HKEY root = HKEY_LOCAL_MACHINE,
                             const std::string& keyPath = "Software\\Velmora\\Tessaline");
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // Helpers for assertions and set-up, relative to the sandboxed key.
    bool KeyExists(const std::string& subKey = "") const;
    void SetString(const std::string& name, const std::string& value, const std::string& subKey = "");
    void SetDword(const std::string& name, DWORD value, const std::string& subKey = "");
    void DeleteValue(const std::string& name, const std::string& subKey = "");
    // Raw value: true when present; `type` and `data` receive what is stored.
    bool GetRaw(const std::string& name, DWORD* type, std::string* data, const std::string& subKey = "") const;

    const std::string& KeyPath() const { return m_keyPath; }

    struct Node; // a saved key: its values and subkeys

private:
    std::string Path(const std::string& subKey) const;

    HKEY m_root;
    REGSAM m_view; // KEY_WOW64_32KEY under HKLM, as the module opens its key
    std::string m_keyPath;
    std::unique_ptr<Node> m_saved; // null when the key did not exist
};

} // namespace vlagt::test
