// Self-registration: the four entry points of an in-process component. The module offers no
// creatable classes; registering it registers its type library and nothing else. Nothing here logs.
#include "common/WinApi.h"

#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "common/UniqueHandle.h"
#include "module/CComponentModule.h"

namespace {

// Room for a module path of up to 260 characters with its extension replaced by ".tlb".
constexpr size_t kPathSize = MAX_PATH + 8;

using UnRegisterTypeLibFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

HRESULT LoadTypeLibFromAnsiPath(const char* path, BSTR* loadedPath, ITypeLib** library)
{
    wchar_t wide[kPathSize] = {};
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, static_cast<int>(kPathSize)) == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    const HRESULT hr = LoadTypeLib(wide, library);
    if (FAILED(hr))
        return hr;
    *loadedPath = SysAllocString(wide);
    if (*loadedPath == nullptr) {
        (*library)->Release();
        *library = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// The module's type library and the path it was loaded from; both released when this goes away.
class ModuleTypeLib
{
public:
    ModuleTypeLib() = default;
    ~ModuleTypeLib()
    {
        if (m_library != nullptr)
            m_library->Release();
        SysFreeString(m_path);
    }
    ModuleTypeLib(const ModuleTypeLib&) = delete;
    ModuleTypeLib& operator=(const ModuleTypeLib&) = delete;

    // The library embedded in the module's own file, else the ".tlb" of the same base name: the
    // extension begins at the path's last "." (".tlb" is appended when there is none). Returns the
    // HRESULT of the last LoadTypeLib tried.
    HRESULT Load(HINSTANCE module)
    {
        char path[kPathSize] = {};
        const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
        if (length == 0)
            return HRESULT_FROM_WIN32(GetLastError());
        if (length >= MAX_PATH)
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        if (SUCCEEDED(LoadTypeLibFromAnsiPath(path, &m_path, &m_library)))
            return S_OK;

        const char* dot = nullptr;
        for (const char* p = path; *p != '\0'; p = CharNextA(p)) {
            if (*p == '.')
                dot = p;
        }
        const int baseLength = static_cast<int>(dot != nullptr ? dot - path : strlen(path));
        char tlbPath[kPathSize] = {};
        snprintf(tlbPath, sizeof(tlbPath), "%.*s.tlb", baseLength, path);
        return LoadTypeLibFromAnsiPath(tlbPath, &m_path, &m_library);
    }

    ITypeLib* Library() const { return m_library; }
    BSTR Path() const { return m_path; }

private:
    ITypeLib* m_library = nullptr;
    BSTR m_path = nullptr;
};

} // namespace

STDAPI DllCanUnloadNow()
{
    return g_Module.GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID, REFIID, LPVOID* ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllRegisterServer()
{
    ModuleTypeLib typeLib;
    const HRESULT hr = typeLib.Load(g_Module.GetModuleInstance());
    if (FAILED(hr))
        return hr;

    // The help directory: the path up to and including its last backslash, slash or colon.
    const BSTR path = typeLib.Path();
    size_t helpLength = 0;
    for (size_t i = 0; path[i] != L'\0'; ++i) {
        if (path[i] == L'\\' || path[i] == L'/' || path[i] == L':')
            helpLength = i + 1;
    }
    wchar_t helpDir[kPathSize] = {};
    wmemcpy(helpDir, path, helpLength < kPathSize ? helpLength : kPathSize - 1);
    return RegisterTypeLib(typeLib.Library(), path, helpDir);
}

STDAPI DllUnregisterServer()
{
    ModuleTypeLib typeLib;
    if (FAILED(typeLib.Load(g_Module.GetModuleInstance())))
        return S_OK;
    TLIBATTR* attributes = nullptr;
    if (FAILED(typeLib.Library()->GetLibAttr(&attributes)) || attributes == nullptr)
        return S_OK;
    {
        vlagt::UniqueModule oleaut(LoadLibraryA("oleaut32.dll"));
        if (oleaut) {
            const auto unregister = reinterpret_cast<UnRegisterTypeLibFn>(
                reinterpret_cast<void*>(GetProcAddress(oleaut.Get(), "UnRegisterTypeLib")));
            if (unregister != nullptr)
                unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                           attributes->lcid, attributes->syskind);
        }
    }
    typeLib.Library()->ReleaseTLibAttr(attributes);
    return S_OK;
}
