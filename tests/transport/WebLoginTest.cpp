// The web login exchange and the tagged-reply reader.
#include <gtest/gtest.h>

#include <limits.h>
#include <mbctype.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ChannelTestUtil.h"
#include "DebugCapture.h"
#include "ScriptedHttpServer.h"

using vlagt::test::AllClosed;
using vlagt::test::CloseLines;
using vlagt::test::CountLinesStartingWith;
using vlagt::test::DebugCapture;
using vlagt::test::HasRun;
using vlagt::test::Lines;
using vlagt::test::OpenChannel;
using vlagt::test::RecordedRequest;
using vlagt::test::ScriptedHttpServer;
using vlagt::test::ScriptedReply;

namespace {

const char kSeparator[] = "===============================";
const char kBadPage[] = "[GetReturnCode] 잘못된 페이지..";

std::string Repeat(const std::string& text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

LOGIN_REQ WebLogin(const std::string& id, const std::string& password)
{
    LOGIN_REQ login{};
    memcpy(login.szUserID, id.data(), std::min<size_t>(id.size(), 20));
    memcpy(login.szUserPW, password.data(), std::min<size_t>(password.size(), 20));
    return login;
}

// ---- Web login exchange -------------------------------------------------------------------------

TEST(CWinInetAppWebTest, PostsTheFormAndReadsTheResult)
{
    ScriptedHttpServer server;
    const std::string page = "<html><body><Result>40000</Result><DKMS>kms</DKMS></body></html>\r\n";
    server.Enqueue(ScriptedReply::WithBody(page));
    DebugCapture capture;
    CWinInetApp app;
    ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll?x=1")));
    capture.Clear();
    const LOGIN_REQ login = WebLogin("alice", "s3cret");
    EXPECT_EQ(app.UseHttpSendReqExWEB(&login), 40000);

    const std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/vl/agent.dll");
    EXPECT_EQ(requests[0].body, "USER_ID=alice&USER_PWD=s3cret");
    EXPECT_EQ(requests[0].Header("Content-Length"), "29");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].Header("User-Agent"), "HTTP_VL_CONTENT");

    const std::string trimmed = page.substr(0, page.size() - 2);
    EXPECT_STREQ(app.m_pBuffer.get(), trimmed.c_str()) << "the reply text is trimmed in place";
    EXPECT_EQ(app.m_dwBufferLen, page.size());
    EXPECT_TRUE(AllClosed(app));

    Lines expected{kSeparator,
                   "Web frmdata = [USER_ID=alice&USER_PWD=****]",
                   kSeparator,
                   "m_hRequest true1",
                   "[UseHttpSendReqExWEB] size [" + std::to_string(page.size()) + "]",
                   "total = " + std::to_string(page.size()),
                   "[UseHttpSendReqExWEB] size [0]",
                   "GetReturnCode start",
                   "buffer [" + page + "]",
                   "[GetReturnCode] [Result] =[40000]",
                   "[UseHttpSendReqExWEB] WinInetAppCloseHandle"};
    expected.insert(expected.end(), CloseLines().begin(), CloseLines().end());
    expected.push_back("[UseHttpSendReqExWEB] dwBytesRead [0], g_retVal [40000]");
    EXPECT_EQ(capture.Lines(), expected);
    EXPECT_FALSE(capture.Contains("s3cret")) << "the password never reaches the debug channel";

    // The dispatcher's later look-ups work on the same block.
    char dkms[50] = {};
    EXPECT_EQ(app.GetReturnCode(app.m_pBuffer.get(), "DKMS", dkms, sizeof(dkms)), 1);
    EXPECT_STREQ(dkms, "kms");
}

TEST(CWinInetAppWebTest, FormValuesArePercentEncoded)
{
    struct Row
    {
        std::string id;
        std::string password;
        std::string body;
        std::string shown;
    };
    const Row rows[] = {
        {"bob", "x&USER_ID=other", "USER_ID=bob&USER_PWD=x%26USER_ID%3Dother", "USER_ID=bob&USER_PWD=****"},
        {"kim.s-j_~1", "a+b%c d", "USER_ID=kim.s-j_~1&USER_PWD=a%2Bb%25c%20d", "USER_ID=kim.s-j_~1&USER_PWD=****"},
        {"\xB1\xE8", "\xE9\x01/", "USER_ID=%B1%E8&USER_PWD=%E9%01%2F", "USER_ID=%B1%E8&USER_PWD=****"},
        // Both fields full: 20 bytes each, no terminator between them.
        {"abcdefghijklmnopqrst", "ABCDEFGHIJKLMNOPQRST", "USER_ID=abcdefghijklmnopqrst&USER_PWD=ABCDEFGHIJKLMNOPQRST",
         "USER_ID=abcdefghijklmnopqrst&USER_PWD=****"},
        // The worst case: every byte of both full fields encoded.
        {std::string(20, '&'), std::string(20, '\xFF'), "USER_ID=" + Repeat("%26", 20) + "&USER_PWD=" + Repeat("%FF", 20),
         "USER_ID=" + Repeat("%26", 20) + "&USER_PWD=****"},
        {"", "", "USER_ID=&USER_PWD=", "USER_ID=&USER_PWD=****"},
    };
    ScriptedHttpServer server;
    for (size_t i = 0; i < std::size(rows); ++i)
        server.Enqueue(ScriptedReply::WithBody("<Result>40000</Result>"));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.body);
        DebugCapture capture;
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
        const LOGIN_REQ login = WebLogin(row.id, row.password);
        EXPECT_EQ(app.UseHttpSendReqExWEB(&login), 40000);
        ASSERT_EQ(server.RequestCount(), i + 1);
        EXPECT_EQ(server.Requests()[i].body, row.body);
        EXPECT_TRUE(capture.Contains("Web frmdata = [" + row.shown + "]"));
    }
}

TEST(CWinInetAppWebTest, ResultElementCases)
{
    struct Row
    {
        std::string page;
        int result;
        bool badPageLines;
    };
    const Row rows[] = {
        {"<Result> 40000 </Result>", 40000, false},
        {"<result>40000</result>", 46000, true},
        {"<Result>45001</Result><Result>40000</Result>", 45001, false},
        {"</Result><Result>40000</Result>", 46000, false},
        {"<Result a=\"1\">40000</Result>", 46000, true},
        {"<Result>OK</Result>", 0, false},
        {"<Result></Result>", 0, false},
        {"x</Result><Result>40000", 46000, true},
        {"", 46000, true},
        {"<Result>99999999999999</Result>", INT_MAX, false},
    };
    ScriptedHttpServer server;
    for (const Row& row : rows)
        server.Enqueue(ScriptedReply::WithBody(row.page));
    for (const Row& row : rows) {
        SCOPED_TRACE("page [" + row.page + "]");
        DebugCapture capture;
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
        const LOGIN_REQ login = WebLogin("alice", "pw");
        EXPECT_EQ(app.UseHttpSendReqExWEB(&login), row.result);
        const Lines lines = capture.Lines();
        EXPECT_EQ(HasRun(lines, {"[GetReturnCode] tag [<Result>] [</Result>]", kBadPage}), row.badPageLines);
        EXPECT_EQ(lines.back(), "[UseHttpSendReqExWEB] dwBytesRead [0], g_retVal [" + std::to_string(row.result) + "]");
        EXPECT_TRUE(AllClosed(app));
    }
}

TEST(CWinInetAppWebTest, ReplyInPiecesAndOverlongReply)
{
    ScriptedHttpServer server;
    const std::string page = "<html><Result>40000</Result>" + std::string(200, 'x') + "</html>";
    server.Enqueue(ScriptedReply::Chunked(page, {10, 20, 100}).PauseBetweenPieces(30));
    // 12,000 bytes: the element inside the first 9,999 is found, the one beyond them is dropped.
    std::string longPage = "<Result>40000</Result>" + std::string(9999 - 22, 'y') + "<DLS>s</DLS>";
    longPage += std::string(12000 - longPage.size(), 'z');
    server.Enqueue(ScriptedReply::WithBody(longPage).InPieces({4000, 4000}, 20));

    {
        DebugCapture capture;
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
        const LOGIN_REQ login = WebLogin("alice", "pw");
        EXPECT_EQ(app.UseHttpSendReqExWEB(&login), 40000);
        EXPECT_STREQ(app.m_pBuffer.get(), page.c_str());
        EXPECT_GE(CountLinesStartingWith(capture.Lines(), "total = "), 2u);
        EXPECT_TRUE(capture.Contains("total = " + std::to_string(page.size())));
    }
    {
        DebugCapture capture;
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
        const LOGIN_REQ login = WebLogin("alice", "pw");
        EXPECT_EQ(app.UseHttpSendReqExWEB(&login), 40000);
        EXPECT_EQ(app.m_dwBufferLen, 9999u);
        EXPECT_EQ(std::string(app.m_pBuffer.get()), longPage.substr(0, 9999));
        const Lines lines = capture.Lines();
        std::vector<std::string> totals;
        for (const std::string& line : lines)
            if (line.rfind("total = ", 0) == 0)
                totals.push_back(line);
        ASSERT_FALSE(totals.empty());
        EXPECT_EQ(totals.back(), "total = 9999") << "the rest is read and dropped";
        char dls[50] = {};
        EXPECT_EQ(app.GetReturnCode(app.m_pBuffer.get(), "DLS", dls, sizeof(dls)), 46000);
    }
    EXPECT_EQ(server.RequestCount(), 2u);
}

TEST(CWinInetAppWebTest, UnreachableServerReturnsZeroAndClosesTheChannel)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(ScriptedHttpServer::UnusedPort()) + "/vl/agent.dll";
    DebugCapture capture;
    CWinInetApp app;
    ASSERT_NO_FATAL_FAILURE(OpenChannel(app, url));
    capture.Clear();
    const LOGIN_REQ login = WebLogin("alice", "pw");
    EXPECT_EQ(app.UseHttpSendReqExWEB(&login), 0);
    Lines expected{kSeparator, "Web frmdata = [USER_ID=alice&USER_PWD=****]", kSeparator,
                   "[UseHttpSendReqEx] ERROR_HTTPSENDREQUEST"};
    expected.insert(expected.end(), CloseLines().begin(), CloseLines().end());
    EXPECT_EQ(capture.Lines(), expected);
    EXPECT_FALSE(app.m_pBuffer);
    EXPECT_TRUE(AllClosed(app));
}

// ---- Tag reader ---------------------------------------------------------------------------------

TEST(CWinInetAppTagTest, CopiesTheValueWithinTheDestination)
{
    CWinInetApp app;
    DebugCapture capture;
    std::string text = "<A>first</A><B>ABCDEFGHIJ</B><E></E><A>second</A>";

    char dest[8];
    memset(dest, '#', sizeof(dest));
    EXPECT_EQ(app.GetReturnCode(&text[0], "B", dest, 4), 1);
    EXPECT_EQ(std::string(dest, 8), "ABCD####") << "a longer value is cut to the destination";
    EXPECT_EQ(capture.Lines().back(), "[GetReturnCode] [B] =[ABCD]");

    memset(dest, '#', sizeof(dest));
    EXPECT_EQ(app.GetReturnCode(&text[0], "A", dest, 7), 1);
    EXPECT_EQ(std::string(dest, 8), "first###") << "first opening and first closing tag";

    memset(dest, '#', sizeof(dest));
    EXPECT_EQ(app.GetReturnCode(&text[0], "E", dest, 7), 1);
    EXPECT_EQ(std::string(dest, 8), std::string(8, '#')) << "an empty element copies nothing";
    EXPECT_EQ(capture.Lines().back(), "[GetReturnCode] [E] =[]");

    // Failures leave the destination alone.
    struct Row
    {
        std::string text;
        std::string tag;
        bool badPageLines;
    };
    const Row rows[] = {
        {"<a>1</a>", "A", true},
        {"x</A><A>1", "A", true},
        {"</A><A>1</A>", "A", false},
        {"<A>1</A>", std::string(47, 'A'), false},
        {"<" + std::string(47, 'A') + ">1</" + std::string(47, 'A') + ">", std::string(47, 'A'), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::string copy = row.text;
        memset(dest, '#', sizeof(dest));
        capture.Clear();
        EXPECT_EQ(app.GetReturnCode(&copy[0], row.tag.c_str(), dest, sizeof(dest)), 46000);
        EXPECT_EQ(std::string(dest, 8), std::string(8, '#'));
        EXPECT_EQ(capture.Lines().size(), row.badPageLines ? 2u : 0u);
        if (row.badPageLines) {
            EXPECT_EQ(capture.Lines()[1], kBadPage);
        }
    }

    // A tag name of exactly 46 characters still fits.
    const std::string tag46(46, 'T');
    std::string text46 = "<" + tag46 + ">ok</" + tag46 + ">";
    memset(dest, 0, sizeof(dest));
    EXPECT_EQ(app.GetReturnCode(&text46[0], tag46.c_str(), dest, 7), 1);
    EXPECT_STREQ(dest, "ok");
}

TEST(CWinInetAppTagTest, IntegerValues)
{
    CWinInetApp app;
    DebugCapture capture;
    std::string text = "<N>-5</N><P> 12x</P><Big>" + std::string(300, '7') + "</Big>";
    EXPECT_EQ(app.GetReturnCodeInt(&text[0], "N"), -5);
    EXPECT_EQ(app.GetReturnCodeInt(&text[0], "P"), 12);
    EXPECT_EQ(app.GetReturnCodeInt(&text[0], "Big"), INT_MAX) << "an over-long value is cut, never overflows";
    capture.Clear();
    EXPECT_EQ(app.GetReturnCodeInt(&text[0], "Missing"), 0);
    EXPECT_EQ(capture.Lines(), (Lines{"[GetReturnCode] tag [<Missing>] [</Missing>]", kBadPage}));
}

TEST(CWinInetAppTagTest, TrimsTrailingWhiteSpaceInPlace)
{
    CWinInetApp app;
    const std::pair<std::string, std::string> rows[] = {
        {"<A>1</A>  \r\n", "<A>1</A>"},
        {"abc \t\n\v\f\r", "abc"},
        {"a b c", "a b c"},
        {" \r\n ", ""},
        {"", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        std::string text = row.first;
        app.TrimTrailingSpace(&text[0]);
        EXPECT_STREQ(text.c_str(), row.second.c_str());
    }
}

// Double-byte characters of the process's multibyte code page count as one character, and a tag
// only matches on a character boundary.
TEST(CWinInetAppTagTest, DoubleByteCharacters)
{
    const int previous = _getmbcp();
    if (_setmbcp(949) != 0)
        GTEST_SKIP() << "code page 949 is not available on this machine";
    struct Restore
    {
        int codePage;
        ~Restore() { _setmbcp(codePage); }
    } restore{previous};

    CWinInetApp app;
    // "\xB0\xA1" and "\xC7\xD1\xB1\xDB" are Korean text; 0x81 starts a double-byte character.
    std::string value = "<DKMS>\xC7\xD1\xB1\xDB srv</DKMS>\xB0\xA1 \r\n";
    char dest[50] = {};
    EXPECT_EQ(app.GetReturnCode(&value[0], "DKMS", dest, sizeof(dest)), 1);
    EXPECT_STREQ(dest, "\xC7\xD1\xB1\xDB srv");
    EXPECT_STREQ(value.c_str(), "<DKMS>\xC7\xD1\xB1\xDB srv</DKMS>\xB0\xA1");

    std::string swallowed = "ab\x81 ";
    app.TrimTrailingSpace(&swallowed[0]);
    EXPECT_STREQ(swallowed.c_str(), "ab\x81 ") << "the blank is the second byte of a character";

    std::string offBoundary = "\x81<A>1</A>";
    EXPECT_EQ(app.GetReturnCodeInt(&offBoundary[0], "A"), 0) << "'<' is the second byte of a character";

    std::string leadAtEnd = "x \x81";
    app.TrimTrailingSpace(&leadAtEnd[0]);
    EXPECT_STREQ(leadAtEnd.c_str(), "x \x81") << "a lead byte before the terminator is one byte";

    _setmbcp(1252);
    std::string singleByte = "ab\x81 ";
    app.TrimTrailingSpace(&singleByte[0]);
    EXPECT_STREQ(singleByte.c_str(), "ab\x81");
    std::string onBoundary = "\x81<A>1</A>";
    EXPECT_EQ(app.GetReturnCodeInt(&onBoundary[0], "A"), 1);
}

} // namespace
