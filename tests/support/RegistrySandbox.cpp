#include "RegistrySandbox.h"

#include <vector>

#include "common/UniqueHandle.h"

namespace vlagt::test {

struct RegistrySandbox::Node
{
    struct Value
    {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    std::vector<Value> values;
    std::vector<std::pair<std::string, std::unique_ptr<Node>>> children;
};

static void Load(HKEY key, RegistrySandbox::Node& node, REGSAM view)
{
    char name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = sizeof(name);
        DWORD type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        RegistrySandbox::Node::Value value{std::string(name, nameLen), type, std::vector<BYTE>(size)};
        DWORD got = size;
        RegQueryValueExA(key, value.name.c_str(), nullptr, &type, value.data.data(), &got);
        value.data.resize(got);
        node.values.push_back(std::move(value));
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::string child(name, nameLen);
        UniqueRegKey sub;
        if (RegOpenKeyExA(key, child.c_str(), 0, KEY_READ | view, sub.Put()) != ERROR_SUCCESS)
            continue;
        auto childNode = std::make_unique<RegistrySandbox::Node>();
        Load(sub.Get(), *childNode, view);
        node.children.emplace_back(child, std::move(childNode));
    }
}

static std::unique_ptr<RegistrySandbox::Node> SaveTree(HKEY root, const std::string& path, REGSAM view)
{
    UniqueRegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS)
        return nullptr;
    auto node = std::make_unique<RegistrySandbox::Node>();
    Load(key.Get(), *node, view);
    return node;
}

static void Restore(HKEY parent, const std::string& path, const RegistrySandbox::Node& node, REGSAM view)
{
    UniqueRegKey key;
    if (RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    for (const auto& value : node.values)
        RegSetValueExA(key.Get(), value.name.c_str(), 0, value.type, value.data.data(),
                       static_cast<DWORD>(value.data.size()));
    for (const auto& child : node.children)
        Restore(key.Get(), child.first, *child.second, view);
}

// HKLM "Software\..." is seen in the 32-bit view, as the module and the tool of both architectures
// open it; the other roots are the same in both views.
static REGSAM ViewOf(HKEY root) { return root == HKEY_LOCAL_MACHINE ? KEY_WOW64_32KEY : 0; }

static void DeleteTree(HKEY root, const std::string& path, REGSAM view)
{
    {
        UniqueRegKey key;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.Put()) == ERROR_SUCCESS)
            RegDeleteTreeA(key.Get(), nullptr);
    }
    RegDeleteKeyExA(root, path.c_str(), view, 0);
}

RegistrySandbox::RegistrySandbox(HKEY root, const std::string& keyPath)
    : m_root(root), m_view(ViewOf(root)), m_keyPath(keyPath), m_saved(SaveTree(root, keyPath, m_view))
{
    DeleteTree(m_root, m_keyPath, m_view);
}

RegistrySandbox::~RegistrySandbox()
{
    DeleteTree(m_root, m_keyPath, m_view);
    if (m_saved)
        Restore(m_root, m_keyPath, *m_saved, m_view);
}

std::string RegistrySandbox::Path(const std::string& subKey) const
{
    return subKey.empty() ? m_keyPath : m_keyPath + "\\" + subKey;
}

bool RegistrySandbox::KeyExists(const std::string& subKey) const
{
    UniqueRegKey key;
    return RegOpenKeyExA(m_root, Path(subKey).c_str(), 0, KEY_READ | m_view, key.Put()) == ERROR_SUCCESS;
}

void RegistrySandbox::SetString(const std::string& name, const std::string& value, const std::string& subKey)
{
    UniqueRegKey key;
    if (RegCreateKeyExA(m_root, Path(subKey).c_str(), 0, nullptr, 0, KEY_WRITE | m_view, nullptr, key.Put(),
                        nullptr) ==
        ERROR_SUCCESS)
        RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
}

void RegistrySandbox::SetDword(const std::string& name, DWORD value, const std::string& subKey)
{
    UniqueRegKey key;
    if (RegCreateKeyExA(m_root, Path(subKey).c_str(), 0, nullptr, 0, KEY_WRITE | m_view, nullptr, key.Put(),
                        nullptr) ==
        ERROR_SUCCESS)
        RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void RegistrySandbox::DeleteValue(const std::string& name, const std::string& subKey)
{
    UniqueRegKey key;
    if (RegOpenKeyExA(m_root, Path(subKey).c_str(), 0, KEY_WRITE | m_view, key.Put()) == ERROR_SUCCESS)
        RegDeleteValueA(key.Get(), name.c_str());
}

bool RegistrySandbox::GetRaw(const std::string& name, DWORD* type, std::string* data, const std::string& subKey) const
{
    UniqueRegKey key;
    if (RegOpenKeyExA(m_root, Path(subKey).c_str(), 0, KEY_READ | m_view, key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD size = 0, t = 0;
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &t, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::string buffer(size, '\0');
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &t, reinterpret_cast<BYTE*>(&buffer[0]), &size) !=
        ERROR_SUCCESS)
        return false;
    buffer.resize(size);
    if (type)
        *type = t;
    if (data)
        *data = buffer;
    return true;
}

} // namespace vlagt::test
