// vltypelibcheck.exe: loads the module's type library through its registration (LoadRegTypeLib, as a
// client that knows only the LIBID does) and prints the path the registration names.
// Exit code: 0 loaded, 1 not loaded (the HRESULT is printed).
#include <windows.h>
#include <oleauto.h>
#include <stdio.h>

namespace {
// {3F6B2C1D-7A4E-4C9B-9D21-5E8A0B7C6F14}, from src/module/VLAgtClient.idl.
const GUID kLibId = {0x3F6B2C1D, 0x7A4E, 0x4C9B, {0x9D, 0x21, 0x5E, 0x8A, 0x0B, 0x7C, 0x6F, 0x14}};
constexpr LCID kLcid = 0x0409;
} // namespace

int main()
{
    ITypeLib* library = nullptr;
    const HRESULT hr = LoadRegTypeLib(kLibId, 1, 0, kLcid, &library);
    if (FAILED(hr) || library == nullptr) {
        printf("LoadRegTypeLib failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    BSTR path = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(kLibId, 1, 0, kLcid, &path)) && path != nullptr) {
        printf("loaded %ls\n", path);
        SysFreeString(path);
    } else {
        printf("loaded\n");
    }
    library->Release();
    return 0;
}
