// The built module as a process loads it: the proxy line at load, the self-registration entry
// points, the embedded type library, the version block, and regsvr32.
#include <gtest/gtest.h>

#include "common/WinApi.h"

#include <ole2.h>
#include <oleauto.h>

#include <fstream>
#include <iterator>
#include <string>

#include "DebugCapture.h"
#include "HelperProcess.h"
#include "RegistrySandbox.h"
#include "VLAgtVersion.h"
#include "common/UniqueHandle.h"

using namespace vlagt::test;

namespace {

const char kTypeLibKey[] = "TypeLib\\{3F6B2C1D-7A4E-4C9B-9D21-5E8A0B7C6F14}";
const GUID kLibId = {0x3F6B2C1D, 0x7A4E, 0x4C9B, {0x9D, 0x21, 0x5E, 0x8A, 0x0B, 0x7C, 0x6F, 0x14}};
// The type library of the x64 build describes and registers a 64-bit module.
#if defined(_WIN64)
const char kPlatformKey[] = "1.0\\409\\win64";
const SYSKIND kSysKind = SYS_WIN64;
#else
const char kPlatformKey[] = "1.0\\409\\win32";
const SYSKIND kSysKind = SYS_WIN32;
#endif
const WORD kKorean = MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN);

using EntryFn = HRESULT(WINAPI*)();
using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

template <typename Fn>
Fn Entry(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::string ModulePath()
{
    return ProgramFolder() + "VLAgtClient.dll";
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a program of the system folder and returns its exit code, -1 when it did not finish.
int RunSystemProgram(const std::string& commandLine)
{
    std::string buffer = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    vlagt::UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    DWORD code = 0;
    if (WaitForSingleObject(process.Get(), 30000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.Get(), &code))
        return -1;
    return static_cast<int>(code);
}

class ModuleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_module.Reset(LoadLibraryA(ModulePath().c_str()));
        ASSERT_TRUE(m_module);
    }
    HRESULT Call(const char* name) const { return Entry<EntryFn>(m_module.Get(), name)(); }
    std::string Registered(const std::string& subKey) const
    {
        DWORD type = 0;
        std::string data;
        if (!m_typeLibs.GetRaw("", &type, &data, subKey))
            return "<absent>";
        return data.substr(0, data.find('\0'));
    }

    RegistrySandbox m_typeLibs{HKEY_CLASSES_ROOT, kTypeLibKey};
    vlagt::UniqueModule m_module;
};

TEST(ModuleLoadTest, ProxySetting_IsReportedOnceWhileLoading)
{
    RegistrySandbox settings(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");
    const struct { int value; const char* line; } cases[] = {
        {1, "CheckUseProxy TRUE. \n"}, {2, "CheckUseProxy FALSE. \n"}, {0, "CheckUseProxy FALSE. \n"},
        {-1, "CheckUseProxy FALSE. \n"}}; // -1: no value
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        if (c.value < 0)
            settings.DeleteValue("ProxyEnable");
        else
            settings.SetDword("ProxyEnable", static_cast<DWORD>(c.value));
        std::vector<std::string> lines;
        {
            DebugCapture capture;
            vlagt::UniqueModule module(LoadLibraryA(ModulePath().c_str()));
            ASSERT_TRUE(module);
            for (const std::string& line : capture.Lines())
                if (line.find("CheckUseProxy") != std::string::npos)
                    lines.push_back(line);
        }
        ASSERT_EQ(GetModuleHandleA("VLAgtClient.dll"), nullptr) << "the module must unload between rows";
        EXPECT_EQ(lines, std::vector<std::string>{c.line});
    }
}

TEST_F(ModuleTest, ClassObjects_NoneAreOffered_AndTheModuleMayAlwaysUnload)
{
    const auto getClassObject = Entry<GetClassObjectFn>(m_module.Get(), "DllGetClassObject");
    ASSERT_NE(getClassObject, nullptr);
    EXPECT_EQ(getClassObject(GUID_NULL, IID_IClassFactory, nullptr), E_POINTER);
    for (const GUID& clsid : {GUID_NULL, kLibId, IID_IUnknown}) {
        void* object = reinterpret_cast<void*>(0xdeadbeef);
        EXPECT_EQ(getClassObject(clsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

TEST_F(ModuleTest, RegisterAndUnregister_AddAndRemoveTheTypeLibrary)
{
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK) << "nothing registered yet";
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(Registered("1.0"), "VLAgtClient 1.0 Type Library");
    EXPECT_EQ(Registered(kPlatformKey), ModulePath());
    EXPECT_EQ(Registered("1.0\\HELPDIR"), ProgramFolder());
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(m_typeLibs.KeyExists("1.0"));
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

TEST_F(ModuleTest, EmbeddedTypeLibrary_IsTheBuiltOne_AndDescribesNothing)
{
    HRSRC resource = FindResourceExA(m_module.Get(), "TYPELIB", MAKEINTRESOURCEA(1), kKorean);
    ASSERT_NE(resource, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(m_module.Get(), resource)));
    EXPECT_EQ(std::string(bytes, SizeofResource(m_module.Get(), resource)),
              ReadFile(ProgramFolder() + "VLAgtClient.tlb"));

    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLib(Wide(ModulePath()).c_str(), &library), S_OK);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::wstring(name), L"VLAGTCLIENTLib");
    EXPECT_EQ(std::wstring(doc), L"VLAgtClient 1.0 Type Library");
    SysFreeString(name);
    SysFreeString(doc);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, kLibId));
    EXPECT_EQ(attributes->wMajorVerNum * 100 + attributes->wMinorVerNum, 100);
    EXPECT_EQ(attributes->lcid, 0x0409u);
    EXPECT_EQ(attributes->syskind, kSysKind);
    library->ReleaseTLibAttr(attributes);
    EXPECT_EQ(library->GetTypeInfoCount(), 0u);
    library->Release();
}

// A copy of the module stripped of its resources, the type library with them: with no ".tlb"
// beside it registering gives LoadTypeLib's error; a ".tlb" of the same base name is used instead.
TEST_F(ModuleTest, CopyWithoutTypeLibrary_FallsBackToTheTlbBesideIt)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string base = std::string(temp) + UniqueName("VLAgtNoTlb");
    const std::string copy = base + ".dll", tlb = base + ".tlb";
    ASSERT_TRUE(CopyFileA(ModulePath().c_str(), copy.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceA(copy.c_str(), TRUE); // drops every resource
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    {
        vlagt::UniqueModule stripped(LoadLibraryA(copy.c_str()));
        ASSERT_TRUE(stripped);
        ASSERT_EQ(FindResourceA(stripped.Get(), MAKEINTRESOURCEA(1), "TYPELIB"), nullptr);
        ITypeLib* none = nullptr;
        const HRESULT expected = LoadTypeLib(Wide(tlb).c_str(), &none);
        ASSERT_TRUE(FAILED(expected));
        EXPECT_EQ(Entry<EntryFn>(stripped.Get(), "DllRegisterServer")(), expected);
        EXPECT_EQ(Entry<EntryFn>(stripped.Get(), "DllUnregisterServer")(), S_OK);

        ASSERT_TRUE(CopyFileA((ProgramFolder() + "VLAgtClient.tlb").c_str(), tlb.c_str(), FALSE));
        EXPECT_EQ(Entry<EntryFn>(stripped.Get(), "DllRegisterServer")(), S_OK);
        EXPECT_EQ(Registered(kPlatformKey), tlb);
        EXPECT_EQ(Entry<EntryFn>(stripped.Get(), "DllUnregisterServer")(), S_OK);
        EXPECT_FALSE(m_typeLibs.KeyExists("1.0"));
    }
    DeleteFileA(copy.c_str());
    DeleteFileA(tlb.c_str());
}

TEST_F(ModuleTest, Regsvr32_RegistersAndUnregistersSilently)
{
    EXPECT_EQ(RunSystemProgram("regsvr32.exe /s \"" + ModulePath() + "\""), 0);
    EXPECT_EQ(Registered(kPlatformKey), ModulePath());
    EXPECT_EQ(RunSystemProgram("regsvr32.exe /u /s \"" + ModulePath() + "\""), 0);
    EXPECT_FALSE(m_typeLibs.KeyExists("1.0"));
}

TEST_F(ModuleTest, VersionBlock_CarriesOleSelfRegisterAndTheProjectVersion)
{
    EXPECT_NE(FindResourceExA(m_module.Get(), MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), kKorean), nullptr);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(ModulePath().c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(ModulePath().c_str(), 0, size, &block[0]));
    auto query = [&](const char* path, UINT* length) {
        void* value = nullptr;
        return VerQueryValueA(&block[0], path, &value, length) ? value : nullptr;
    };
    UINT length = 0;
    EXPECT_NE(query("\\StringFileInfo\\040904b0\\OLESelfRegister", &length), nullptr);
    const char* fileVersion = static_cast<const char*>(query("\\StringFileInfo\\040904b0\\FileVersion", &length));
    ASSERT_NE(fileVersion, nullptr);
    EXPECT_STREQ(fileVersion, VLAGT_VERSION_STRING);
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query("\\", &length));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(VLAGT_VERSION_MAJOR << 16 | VLAGT_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(VLAGT_VERSION_PATCH << 16));
    const auto* translation = static_cast<const WORD*>(query("\\VarFileInfo\\Translation", &length));
    ASSERT_NE(translation, nullptr);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);
}

} // namespace
