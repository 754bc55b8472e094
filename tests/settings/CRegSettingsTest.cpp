#include <gtest/gtest.h>

#include <string>

#include "RegistrySandbox.h"
#include "settings/CRegDwordValue.h"
#include "settings/CRegSettings.h"
#include "settings/CRegStringValue.h"

using vlagt::test::RegistrySandbox;

namespace {

constexpr const char kBase[] = "Software\\Velmora\\Tessaline";

class CRegSettingsTest : public ::testing::Test
{
protected:
    RegistrySandbox m_sandbox;
    CRegSettings m_settings{kBase, nullptr};

    std::string ReadString(const char* name)
    {
        char out[260];
        memset(out, 0x5A, sizeof(out));
        m_settings.GetString(name, out);
        return out;
    }
};

TEST(CRegValueBaseTest, SplitsFullPathAtLastBackslash)
{
    CRegValueBase value("A\\B\\C\\Name", HKEY_LOCAL_MACHINE);
    EXPECT_EQ(value.m_strKeyPath, "A\\B\\C");
    EXPECT_EQ(value.m_strValueName, "Name");
    EXPECT_EQ(value.m_hKey, nullptr);

    CRegValueBase bare("NoSlash", HKEY_CURRENT_USER);
    EXPECT_EQ(bare.m_strKeyPath, "NoSlash");
    EXPECT_EQ(bare.m_strValueName, "NoSlash");
    EXPECT_EQ(bare.m_hRootKey, HKEY_CURRENT_USER);
}

TEST(CRegSettingsCtorTest, RootZeroMeansLocalMachine)
{
    CRegSettings settings(kBase, nullptr);
    EXPECT_EQ(settings.m_hRootKey, HKEY_LOCAL_MACHINE);
    EXPECT_STREQ(settings.m_szBaseKey, kBase);
    CRegSettings user(kBase, HKEY_CURRENT_USER);
    EXPECT_EQ(user.m_hRootKey, HKEY_CURRENT_USER);
}

TEST_F(CRegSettingsTest, ReadOfAbsentKey_GivesEmptyAndDoesNotCreateKey)
{
    ASSERT_FALSE(m_sandbox.KeyExists());
    EXPECT_EQ(ReadString("VLDrmAgtSvr"), "");
    DWORD value = 0xDEADBEEF;
    m_settings.GetDWORD("Anything", &value);
    EXPECT_EQ(value, 0u);
    EXPECT_FALSE(m_sandbox.KeyExists());
}

TEST_F(CRegSettingsTest, WriteCreatesKeyAndStoresTerminatedString)
{
    m_settings.SetString("TakeOutKey", "KEY-0001");
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(m_sandbox.GetRaw("TakeOutKey", &type, &data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data, std::string("KEY-0001\0", 9));
    EXPECT_EQ(ReadString("TakeOutKey"), "KEY-0001");
}

TEST_F(CRegSettingsTest, EmptyStringIsStoredAsOneByte)
{
    m_settings.SetString("TakeOutKey", "");
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(m_sandbox.GetRaw("TakeOutKey", &type, &data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data, std::string(1, '\0'));
    EXPECT_EQ(ReadString("TakeOutKey"), "");
}

TEST_F(CRegSettingsTest, LongValueIsCutTo259Characters)
{
    const std::string stored(300, 'u');
    m_sandbox.SetString("VLDrmAgtSvr", stored);
    char out[261];
    memset(out, 0x5A, sizeof(out));
    m_settings.GetString("VLDrmAgtSvr", out);
    EXPECT_EQ(std::string(out), stored.substr(0, 259));
    EXPECT_EQ(out[260], 0x5A) << "GetString wrote past its 260-byte buffer";
}

TEST_F(CRegSettingsTest, ValueNameWithSubkeyReadsValueInSubkey)
{
    m_sandbox.SetString("Inner", "from-subkey", "Sub");
    m_sandbox.SetString("Inner", "from-base");
    EXPECT_EQ(ReadString("Sub\\Inner"), "from-subkey");
    m_settings.SetString("Sub2\\Made", "x");
    EXPECT_TRUE(m_sandbox.KeyExists("Sub2"));
}

TEST_F(CRegSettingsTest, UnterminatedStoredBytesAreNotOverread)
{
    // A REG_BINARY value with no terminator, read as a string: only its bytes.
    m_sandbox.SetString("Seed", "");
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBase, 0, KEY_WRITE | KEY_WOW64_32KEY, &key), ERROR_SUCCESS);
        RegSetValueExA(key, "Raw", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 3);
        RegCloseKey(key);
    }
    EXPECT_EQ(ReadString("Raw"), "abc");
}

TEST_F(CRegSettingsTest, DwordReadAndAbsentValue)
{
    m_sandbox.SetDword("ProxyEnable", 1);
    DWORD value = 0;
    m_settings.GetDWORD("ProxyEnable", &value);
    EXPECT_EQ(value, 1u);
    value = 0xDEADBEEF;
    m_settings.GetDWORD("Missing", &value);
    EXPECT_EQ(value, 0u);
}

TEST_F(CRegSettingsTest, OverlongPathsAreRefused)
{
    const std::string longName(300, 'n');
    m_settings.SetString(longName.c_str(), "x");
    EXPECT_FALSE(m_sandbox.KeyExists());
    EXPECT_EQ(ReadString(longName.c_str()), "");

    // A joined path of exactly 259 characters fits; 260 does not.
    const size_t room = 259 - strlen(kBase) - 1;
    const std::string fits(room, 'f');
    const std::string tooLong(room + 1, 't');
    m_settings.SetString(fits.c_str(), "ok");
    m_settings.SetString(tooLong.c_str(), "no");
    EXPECT_EQ(ReadString(fits.c_str()), "ok");
    EXPECT_FALSE(m_sandbox.GetRaw(tooLong, nullptr, nullptr));

    const std::string longBase = std::string(kBase) + "\\" + std::string(260, 'b');
    CRegSettings refused(longBase.c_str(), nullptr);
    EXPECT_EQ(strlen(refused.m_szBaseKey), 259u);
    refused.SetString("V", "x");
    char out[260];
    refused.GetString("V", out);
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(m_sandbox.KeyExists(std::string(232, 'b')));
}

} // namespace
