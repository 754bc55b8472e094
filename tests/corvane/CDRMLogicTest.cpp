// The policy library's login state, read from the shared login record.
#include <gtest/gtest.h>

#include <string.h>

#include "Corvane.h"
#include "VLAgtClient.h"

namespace {

TEST(CDRMLogicTest, NoSharedRecord_NoAgent)
{
    CDRMLogic logic;
    EXPECT_EQ(logic.CheckAgent(nullptr), 0);
    EXPECT_NE(logic.GetLogInStatus(nullptr), 3000);
    EXPECT_EQ(logic.GetLogInStatus(nullptr), DRM_LOGIC_NO_AGENT);
}

TEST(CDRMLogicTest, LoginStateFollowsTheSharedRecord)
{
    CDRMLogin session;
    ASSERT_EQ(session.CreateSharedMemForLoginInfo(), 1);
    CDRMLogic logic;
    EXPECT_EQ(logic.CheckAgent(nullptr), 1);
    EXPECT_EQ(logic.GetLogInStatus(nullptr), DRM_LOGIC_NOT_LOGGED_IN) << "a record that names nobody";

    // A 20-character ID fills the field with no terminator.
    memcpy(session.m_pSharedInfo->szUserID, "abcdefghijklmnopqrst", 20);
    session.m_pSharedInfo->nOnline = 1;
    EXPECT_EQ(logic.GetLogInStatus(nullptr), 3000);

    session.CrearSharedMemForLoginInfo();
    EXPECT_EQ(logic.CheckAgent(nullptr), 1) << "the section is still held";
    EXPECT_EQ(logic.GetLogInStatus(nullptr), DRM_LOGIC_NOT_LOGGED_IN);

    session.DeleteSharedMemForLoginInfo();
    EXPECT_EQ(logic.CheckAgent(nullptr), 0);
    EXPECT_EQ(logic.GetLogInStatus(nullptr), DRM_LOGIC_NO_AGENT);
}

} // namespace
