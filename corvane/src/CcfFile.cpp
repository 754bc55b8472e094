#include "CcfFile.h"

#include "common/UniqueHandle.h"

#include <shlobj.h>

#include <vector>

namespace corvane {

namespace {

constexpr wchar_t kProfileTail[] = L"\\Velmora\\Tessaline\\Client.ccf";
constexpr wchar_t kMutexPrefix[] = L"Corvane.CCF.";
constexpr char kHexDigits[] = "0123456789ABCDEF";
// How long a write waits for another writer; past it the write goes ahead unlocked (the replace is
// still atomic, so the file stays whole).
constexpr DWORD kLockWaitMs = 10000;
// How often, and how far apart, the final move is tried.
constexpr int kMoveAttempts = 5;
constexpr DWORD kMoveRetryMs = 20;

// Creates every missing folder above the file at `path`.
void EnsureFolder(const std::wstring& path)
{
    for (size_t i = 1; i < path.size(); ++i) {
        if ((path[i] == L'\\' || path[i] == L'/') && path[i - 1] != L':' && path[i - 1] != L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

bool WriteWhole(HANDLE file, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        if (!WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

// Writes `text` to a temporary file beside `path` and moves it over `path`.
bool WriteReplacing(const std::wstring& path, const std::string& text)
{
    EnsureFolder(path);
    const std::wstring temp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
                              std::to_wstring(GetCurrentThreadId()) + L".tmp";
    {
        vlagt::UniqueFileHandle file(
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        if (!WriteWhole(file.Get(), text) || !FlushFileBuffers(file.Get())) {
            file.Reset();
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    // A reader outside this library (a virus scanner, say) may hold the file for a moment.
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        if (attempt == kMoveAttempts)
            break;
        Sleep(kMoveRetryMs);
    }
    DeleteFileW(temp.c_str());
    return false;
}

// Holds the file's mutex for its lifetime, when it could be had.
class FileLock
{
public:
    explicit FileLock(const std::wstring& path) : m_mutex(CreateMutexW(nullptr, FALSE, MutexName(path).c_str()))
    {
        if (!m_mutex)
            return;
        const DWORD wait = WaitForSingleObject(m_mutex.Get(), kLockWaitMs);
        // An abandoned mutex is ours now; the file it guarded is whole, since every write replaces it.
        m_owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
    ~FileLock()
    {
        if (m_owned)
            ReleaseMutex(m_mutex.Get());
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    vlagt::UniqueKernelHandle m_mutex;
    bool m_owned = false;
};

} // namespace

std::wstring CcfPath()
{
    const DWORD needed = GetEnvironmentVariableW(kPathVariable, nullptr, 0);
    if (needed > 1) {
        std::vector<wchar_t> buffer(needed);
        const DWORD length = GetEnvironmentVariableW(kPathVariable, buffer.data(), needed);
        if (length > 0 && length < needed)
            return std::wstring(buffer.data(), length);
    }
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) ||
        folder[0] == L'\0')
        return std::wstring();
    return std::wstring(folder) + kProfileTail;
}

std::wstring MutexName(const std::wstring& path)
{
    // One file, one mutex: the name comes from the path, case folded as the file system folds it.
    std::wstring folded = path;
    if (!folded.empty())
        CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    const uint32_t crc = Crc32(folded.data(), folded.size() * sizeof(wchar_t));
    std::wstring name = kMutexPrefix;
    for (int shift = 28; shift >= 0; shift -= 4)
        name += static_cast<wchar_t>(kHexDigits[(crc >> shift) & 0x0F]);
    return name;
}

CcfState Read(const std::wstring& path, CcfValues& values)
{
    values.clear();
    if (path.empty())
        return CcfState::Unreadable;
    vlagt::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? CcfState::Missing
                                                                               : CcfState::Unreadable;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size))
        return CcfState::Unreadable;
    if (size.QuadPart > static_cast<LONGLONG>(kMaxFileSize))
        return CcfState::Damaged;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < text.size()) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), &text[done], static_cast<DWORD>(text.size() - done), &got, nullptr))
            return CcfState::Unreadable;
        if (got == 0)
            break;
        done += got;
    }
    text.resize(done);
    return Parse(text, values) ? CcfState::Valid : CcfState::Damaged;
}

CcfState ReadLocked(const std::wstring& path, CcfValues& values)
{
    if (path.empty())
        return Read(path, values);
    FileLock lock(path);
    return Read(path, values);
}

bool Merge(const std::wstring& path, const CcfValues& changes)
{
    if (path.empty())
        return false;
    FileLock lock(path);
    CcfValues current;
    if (Read(path, current) == CcfState::Unreadable)
        return false;
    for (const auto& change : changes)
        current[change.first] = change.second;
    return WriteReplacing(path, Serialize(current));
}

} // namespace corvane
