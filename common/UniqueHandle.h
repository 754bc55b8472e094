// UniqueHandle.h - one owner for every Win32 handle kind: a close policy and an invalid value.
// Moves, no copies. Reset and destruction keep GetLastError intact, so an owner going out of
// scope never hides the error of the call that failed.
#pragma once

#include "common/WinApi.h"

namespace vlagt {

template <typename T, typename Traits>
class UniqueHandle
{
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(T value) noexcept : m_value(value) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    T Get() const noexcept { return m_value; }
    bool IsValid() const noexcept { return m_value != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    T Release() noexcept
    {
        T value = m_value;
        m_value = Traits::Invalid();
        return value;
    }

    void Reset(T value = Traits::Invalid()) noexcept
    {
        if (IsValid()) {
            const DWORD error = GetLastError();
            Traits::Close(m_value);
            SetLastError(error);
        }
        m_value = value;
    }

    // For APIs that return the handle through an out-parameter.
    T* Put() noexcept
    {
        Reset();
        return &m_value;
    }

private:
    T m_value = Traits::Invalid();
};

struct KernelHandleTraits
{
    static HANDLE Invalid() noexcept { return nullptr; }
    static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits
{
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct InternetHandleTraits
{
    static HINTERNET Invalid() noexcept { return nullptr; }
    static void Close(HINTERNET h) noexcept { ::InternetCloseHandle(h); }
};
struct RegKeyTraits
{
    static HKEY Invalid() noexcept { return nullptr; }
    static void Close(HKEY h) noexcept { ::RegCloseKey(h); }
};
struct MappedViewTraits
{
    static void* Invalid() noexcept { return nullptr; }
    static void Close(void* p) noexcept { ::UnmapViewOfFile(p); }
};
struct ModuleTraits
{
    static HMODULE Invalid() noexcept { return nullptr; }
    static void Close(HMODULE h) noexcept { ::FreeLibrary(h); }
};

using UniqueKernelHandle = UniqueHandle<HANDLE, KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<HANDLE, FileHandleTraits>;
using UniqueInternetHandle = UniqueHandle<HINTERNET, InternetHandleTraits>;
using UniqueRegKey = UniqueHandle<HKEY, RegKeyTraits>;
using UniqueMappedView = UniqueHandle<void*, MappedViewTraits>;
using UniqueModule = UniqueHandle<HMODULE, ModuleTraits>;

} // namespace vlagt
