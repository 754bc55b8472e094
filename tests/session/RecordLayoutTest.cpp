#include <gtest/gtest.h>

#include <stddef.h>

#include "VLAgtClient.h"

namespace {

template <typename T>
ptrdiff_t OffsetIn(const CDRMLogin& session, const T& member)
{
    return reinterpret_cast<const char*>(&member) - reinterpret_cast<const char*>(&session);
}

} // namespace

// Callers compiled against the header read the members by offset: they must sit in declared order
// after the one virtual-table pointer, packed records intact.
TEST(RecordLayoutTest, SessionMembersFollowTheVirtualTableInDeclaredOrder)
{
    CDRMLogin session;
    const ptrdiff_t offsets[] = {
        OffsetIn(session, session.m_nTakeOutStatus), OffsetIn(session, session.m_CCFInfo),
        OffsetIn(session, session.m_LoginInfo),      OffsetIn(session, session.m_AclInfo),
        OffsetIn(session, session.m_DocLevelList),   OffsetIn(session, session.m_TakeOutReply),
        OffsetIn(session, session.m_TakeOutRefInfo), OffsetIn(session, session.m_nDocLevel),
        OffsetIn(session, session.m_pSharedInfo),    OffsetIn(session, session.m_hSharedLoginInfo),
        OffsetIn(session, session.m_LoginReq),       OffsetIn(session, session.m_TakeOutInfo),
        OffsetIn(session, session.m_TakeOutMsg),     OffsetIn(session, session.m_pAppInfo),
        OffsetIn(session, session.m_szUserID),       OffsetIn(session, session.m_szUserPW),
        OffsetIn(session, session.m_szServerURL),
    };
    EXPECT_EQ(offsets[0], static_cast<ptrdiff_t>(sizeof(void*)));
    for (size_t i = 1; i < sizeof(offsets) / sizeof(offsets[0]); ++i)
        EXPECT_LT(offsets[i - 1], offsets[i]) << "member " << i << " out of order";
    // Records are contiguous where no alignment applies.
    EXPECT_EQ(offsets[2] - offsets[1], static_cast<ptrdiff_t>(sizeof(CCF_INFO)));
    EXPECT_EQ(offsets[3] - offsets[2], static_cast<ptrdiff_t>(sizeof(LOGIN_INFO)));
    EXPECT_EQ(offsets[16] - offsets[15], 20);
}
