// The echo check with ICMP.DLL's entry points replaced by fakes that play crafted replies, and the
// real load and release of ICMP.DLL (which sends nothing). The real echo runs in the
// network-namespace tests (online_netns.sh).
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "netstatus/CEchoCheck.h"

namespace {

// What the fake ICMP.DLL plays and what it saw.
struct FakeIcmp
{
    bool createFails = false;
    DWORD replies = 1;
    DWORD errorWhenNoReply = 0;
    ULONG status = 0;
    int dataSize = -1;    // -1: the size of the request
    int alterAt = -1;     // payload byte to change, -1 none
    bool dataOutside = false;
    int creates = 0, closes = 0, sends = 0;
    IPAddr destination = 0;
    std::vector<BYTE> request;
    IP_OPTION_INFORMATION options = {};
    DWORD replySize = 0, timeoutMs = 0;
};
FakeIcmp g_fake;
BYTE g_elsewhere[64];
HANDLE const kFakeHandle = reinterpret_cast<HANDLE>(0x1234);

HANDLE WINAPI FakeCreateFile()
{
    ++g_fake.creates;
    return g_fake.createFails ? INVALID_HANDLE_VALUE : kFakeHandle;
}

BOOL WINAPI FakeCloseHandle(HANDLE h)
{
    g_fake.closes += h == kFakeHandle;
    return TRUE;
}

DWORD WINAPI FakeSendEcho(HANDLE, IPAddr destination, LPVOID data, WORD size, PIP_OPTION_INFORMATION options,
                          LPVOID replyBuffer, DWORD replySize, DWORD timeoutMs)
{
    ++g_fake.sends;
    g_fake.destination = destination;
    g_fake.request.assign(static_cast<BYTE*>(data), static_cast<BYTE*>(data) + size);
    g_fake.options = *options;
    g_fake.replySize = replySize;
    g_fake.timeoutMs = timeoutMs;
    if (g_fake.replies == 0) {
        SetLastError(g_fake.errorWhenNoReply);
        return 0;
    }
    auto* reply = static_cast<ICMP_ECHO_REPLY*>(replyBuffer);
    BYTE* payload = g_fake.dataOutside ? g_elsewhere : reinterpret_cast<BYTE*>(reply + 1);
    memset(payload, 0x45, size);
    if (g_fake.alterAt >= 0)
        payload[g_fake.alterAt] ^= 0x01;
    reply->Address = destination;
    reply->Status = g_fake.status;
    reply->DataSize = static_cast<USHORT>(g_fake.dataSize < 0 ? size : g_fake.dataSize);
    reply->Data = payload;
    return g_fake.replies;
}

// The reply record in front of the echoed bytes: its Data and OptionsData members are pointers.
#if defined(_WIN64)
constexpr DWORD kReplyRecord = 40;
#else
constexpr DWORD kReplyRecord = 28;
#endif
static_assert(sizeof(ICMP_ECHO_REPLY) == kReplyRecord, "the echo reply record's size on this architecture");

class CEchoCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_fake = FakeIcmp();
        memset(g_elsewhere, 0x45, sizeof(g_elsewhere));
    }
    // Stands in for ICMP.DLL in the class state; the next release clears it again.
    static void UseFakeIcmp()
    {
        CEchoCheck::s_bLoaded = 1;
        CEchoCheck::s_pfnIcmpCreateFile = FakeCreateFile;
        CEchoCheck::s_pfnIcmpSendEcho = FakeSendEcho;
        CEchoCheck::s_pfnIcmpCloseHandle = FakeCloseHandle;
    }
    static int EchoOnce(const char* host = "127.0.0.1", BYTE size = 32)
    {
        CEchoCheck echo;
        UseFakeIcmp();
        SetLastError(0xdeadbeef);
        return echo.Echo(host, 3, 1000, size);
    }
};

TEST_F(CEchoCheckTest, GoodEcho_SendsOneRequestOfTheGivenShape)
{
    EXPECT_EQ(EchoOnce(), 1);
    EXPECT_EQ(g_fake.sends, 1);
    EXPECT_EQ(g_fake.destination, inet_addr("127.0.0.1"));
    EXPECT_EQ(g_fake.request, std::vector<BYTE>(32, 0x45));
    EXPECT_EQ(g_fake.options.Ttl, 3);
    EXPECT_EQ(g_fake.options.Tos | g_fake.options.Flags | g_fake.options.OptionsSize, 0);
    EXPECT_EQ(g_fake.options.OptionsData, nullptr);
    EXPECT_EQ(g_fake.replySize, kReplyRecord + 32);
    EXPECT_EQ(g_fake.timeoutMs, 1000u);
    EXPECT_EQ(g_fake.closes, g_fake.creates);
}

TEST_F(CEchoCheckTest, ReplyBuffer_HoldsTheRecordAndAtLeastEightBytes)
{
    const struct { BYTE size; DWORD replyData; } cases[] = {{0, 8}, {1, 8}, {8, 8}, {9, 9}, {255, 255}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        g_fake = FakeIcmp();
        EXPECT_EQ(EchoOnce("127.0.0.1", c.size), 1);
        EXPECT_EQ(g_fake.replySize, kReplyRecord + c.replyData);
        EXPECT_EQ(g_fake.request.size(), c.size);
    }
}

TEST_F(CEchoCheckTest, BadReplies_AnswerZeroWithTheReasonInTheLastError)
{
    const DWORD kUntouched = 0xdeadbeef;
    const struct
    {
        const char* name;
        DWORD replies;
        ULONG status;
        int dataSize;
        int alterAt;
        bool dataOutside;
        DWORD error;
    } cases[] = {
        {"no reply in time", 0, 0, -1, -1, false, 11010},
        {"two replies", 2, 0, -1, -1, false, kUntouched},
        {"unreachable status", 1, 11003, -1, -1, false, 11003},
        {"status before size", 1, 11010, 0, -1, false, 11010},
        {"short reply", 1, 0, 31, -1, false, ERROR_UNEXP_NET_ERR},
        {"empty reply", 1, 0, 0, -1, false, ERROR_UNEXP_NET_ERR},
        {"first byte altered", 1, 0, -1, 0, false, ERROR_UNEXP_NET_ERR},
        {"last byte altered", 1, 0, -1, 31, false, ERROR_UNEXP_NET_ERR},
        {"payload outside the buffer", 1, 0, -1, -1, true, ERROR_UNEXP_NET_ERR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_fake = FakeIcmp();
        g_fake.replies = c.replies;
        g_fake.errorWhenNoReply = 11010;
        g_fake.status = c.status;
        g_fake.dataSize = c.dataSize;
        g_fake.alterAt = c.alterAt;
        g_fake.dataOutside = c.dataOutside;
        EXPECT_EQ(EchoOnce(), 0);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(g_fake.sends, 1);
        EXPECT_EQ(g_fake.closes, 1);
    }
}

TEST_F(CEchoCheckTest, NoIcmpHandle_SendsNothing)
{
    g_fake.createFails = true;
    EXPECT_EQ(EchoOnce(), 0);
    EXPECT_EQ(g_fake.sends + g_fake.closes, 0);
}

TEST_F(CEchoCheckTest, FailedLoad_IsNotRepeatedUntilTheRelease)
{
    CEchoCheck echo;
    CEchoCheck::s_bLoaded = 1; // a load attempt that found nothing
    EXPECT_EQ(CEchoCheck::LoadIcmp(), 0);
    EXPECT_EQ(echo.Echo("127.0.0.1", 3, 1000, 32), 0);
    EXPECT_EQ(CEchoCheck::s_hIcmpDll, nullptr);
}

// ICMP.DLL is loaded by the first check and released with the last object, load state and
// Winsock start-ups included, so that the next check loads it again.
TEST_F(CEchoCheckTest, Release_UnloadsIcmpAndCleansUpEveryWinsockStart)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        {
            CEchoCheck echo;
            ASSERT_EQ(echo.StartWinsock(), 1);
            ASSERT_EQ(CEchoCheck::LoadIcmp(), 1);
            EXPECT_NE(GetModuleHandleA("icmp.dll"), nullptr);
            EXPECT_EQ(CEchoCheck::s_nWinsockStarts, 2);
            {
                CEchoCheck inner; // not the last one: releases nothing
            }
            EXPECT_NE(CEchoCheck::s_pfnIcmpSendEcho, nullptr);
        }
        EXPECT_EQ(CEchoCheck::s_bLoaded, 0);
        EXPECT_EQ(CEchoCheck::s_hIcmpDll, nullptr);
        EXPECT_EQ(CEchoCheck::s_pfnIcmpSendEcho, nullptr);
        EXPECT_EQ(GetModuleHandleA("icmp.dll"), nullptr);
        EXPECT_EQ(CEchoCheck::s_nWinsockStarts, 0);
        EXPECT_EQ(socket(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
        EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    }
}

} // namespace
