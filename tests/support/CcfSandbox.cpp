#include "CcfSandbox.h"

#include <vector>

#include "HelperProcess.h"
#include "common/UniqueHandle.h"

namespace vlagt::test {

namespace {

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = folder + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

} // namespace

CcfSandbox::CcfSandbox()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    m_root = std::wstring(temp) + Widen(UniqueName("ccftest"));
    CreateDirectoryW(m_root.c_str(), nullptr);
    m_folder = m_root + L"\\Velmora\\Tessaline";
    m_path = m_folder + L"\\Client.ccf";

    const DWORD needed = GetEnvironmentVariableW(corvane::kPathVariable, nullptr, 0);
    if (needed > 0) {
        std::vector<wchar_t> previous(needed);
        GetEnvironmentVariableW(corvane::kPathVariable, previous.data(), needed);
        m_previous = previous.data();
        m_hadPrevious = true;
    }
    SetEnvironmentVariableW(corvane::kPathVariable, m_path.c_str());
}

CcfSandbox::~CcfSandbox()
{
    SetEnvironmentVariableW(corvane::kPathVariable, m_hadPrevious ? m_previous.c_str() : nullptr);
    RemoveTree(m_root);
}

corvane::CcfValues CcfSandbox::Values() const
{
    corvane::CcfValues values;
    corvane::Read(m_path, values);
    return values;
}

corvane::CcfState CcfSandbox::State() const
{
    corvane::CcfValues values;
    return corvane::Read(m_path, values);
}

std::string CcfSandbox::Value(const std::string& key, const std::string& missing) const
{
    const corvane::CcfValues values = Values();
    const auto found = values.find(key);
    return found == values.end() ? missing : found->second;
}

void CcfSandbox::Store(const corvane::CcfValues& values) const
{
    corvane::Merge(m_path, values);
}

std::string CcfSandbox::RawBytes() const
{
    UniqueFileHandle file(CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    if (!file)
        return std::string();
    std::string bytes(GetFileSize(file.Get(), nullptr), '\0');
    DWORD got = 0;
    if (!bytes.empty())
        ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

void CcfSandbox::WriteRaw(const std::string& bytes) const
{
    CreateDirectoryW((m_root + L"\\Velmora").c_str(), nullptr);
    CreateDirectoryW(m_folder.c_str(), nullptr);
    UniqueFileHandle file(CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file && !bytes.empty())
        WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string CcfSandbox::FolderListing() const
{
    std::string names;
    WIN32_FIND_DATAA entry;
    std::string pattern(m_folder.begin(), m_folder.end());
    HANDLE find = FindFirstFileA((pattern + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names += (names.empty() ? "" : " ") + name;
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

} // namespace vlagt::test
