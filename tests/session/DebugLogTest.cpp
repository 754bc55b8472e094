#include <gtest/gtest.h>

#include <string>

#include "DebugCapture.h"
#include "DbwinListener.h"
#include "common/DebugLog.h"

using vlagt::test::DebugCapture;

TEST(DebugLogTest, OneLinePerCallNothingAdded)
{
    DebugCapture capture;
    DebugLog("[CDRMLogin] Failed Login : %d", 45005);
    DebugLog("Server PING Return Error[%s]\n", "x");
    DebugLog("plain");
    const std::vector<std::string> expected = {"[CDRMLogin] Failed Login : 45005", "Server PING Return Error[x]\n",
                                               "plain"};
    EXPECT_EQ(capture.Lines(), expected);
}

TEST(DebugLogTest, LineLongerThanBufferIsCutAt4095Bytes)
{
    DebugCapture capture;
    const std::string text(9999, 'r');
    DebugLog("buffer [%s]", text.c_str());
    const std::vector<std::string> lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 4095u);
    EXPECT_EQ(lines[0], ("buffer [" + text).substr(0, 4095));
}

TEST(DebugLogTest, LineOfExactly4095BytesIsWhole)
{
    DebugCapture capture;
    const std::string text(4095, 'e');
    DebugLog("%s", text.c_str());
    ASSERT_EQ(capture.Lines().size(), 1u);
    EXPECT_EQ(capture.Lines()[0], text);
}
