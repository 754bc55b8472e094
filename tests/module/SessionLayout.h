// SessionLayout.h - where every public member of CDRMLogin sits, as numbers. Included by the
// GCC-built tests and by the Microsoft-ABI caller, so both compilers check the same table: a caller
// of either ABI reads the records at the same offsets.
#pragma once

#include <stddef.h>

#include "VLAgtClient.h"

// offsetof on a class with a virtual table is conditionally supported; both compilers support it.
#if defined(__GNUC__) || defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif

#define VLAGT_SESSION_AT(member, offset) \
    static_assert(offsetof(CDRMLogin, member) == (offset), "CDRMLogin::" #member " sits at " #offset)

// The records inside are byte-identical on both architectures; the pointers and the handle (and the
// virtual table pointer in front) are 8 bytes on x64, so the offsets move from m_nTakeOutStatus on.
#if defined(_WIN64)
static_assert(sizeof(CDRMLogin) == 2256, "CDRMLogin is 2256 bytes");
VLAGT_SESSION_AT(m_nTakeOutStatus, 8); // after the virtual table pointer
VLAGT_SESSION_AT(m_CCFInfo, 9);
VLAGT_SESSION_AT(m_LoginInfo, 327);
VLAGT_SESSION_AT(m_AclInfo, 631);
VLAGT_SESSION_AT(m_DocLevelList, 673);
VLAGT_SESSION_AT(m_TakeOutReply, 914);
VLAGT_SESSION_AT(m_TakeOutRefInfo, 999);
VLAGT_SESSION_AT(m_nDocLevel, 1372);
VLAGT_SESSION_AT(m_pSharedInfo, 1376);
VLAGT_SESSION_AT(m_hSharedLoginInfo, 1384);
VLAGT_SESSION_AT(m_LoginReq, 1392);
VLAGT_SESSION_AT(m_TakeOutInfo, 1453);
VLAGT_SESSION_AT(m_TakeOutMsg, 1826);
VLAGT_SESSION_AT(m_pAppInfo, 1912);
VLAGT_SESSION_AT(m_szUserID, 1920);
VLAGT_SESSION_AT(m_szUserPW, 1971);
VLAGT_SESSION_AT(m_szServerURL, 1991);
#else
static_assert(sizeof(CDRMLogin) == 2236, "CDRMLogin is 2236 bytes");
VLAGT_SESSION_AT(m_nTakeOutStatus, 4); // after the virtual table pointer
VLAGT_SESSION_AT(m_CCFInfo, 5);
VLAGT_SESSION_AT(m_LoginInfo, 323);
VLAGT_SESSION_AT(m_AclInfo, 627);
VLAGT_SESSION_AT(m_DocLevelList, 669);
VLAGT_SESSION_AT(m_TakeOutReply, 910);
VLAGT_SESSION_AT(m_TakeOutRefInfo, 995);
VLAGT_SESSION_AT(m_nDocLevel, 1368);
VLAGT_SESSION_AT(m_pSharedInfo, 1372);
VLAGT_SESSION_AT(m_hSharedLoginInfo, 1376);
VLAGT_SESSION_AT(m_LoginReq, 1380);
VLAGT_SESSION_AT(m_TakeOutInfo, 1441);
VLAGT_SESSION_AT(m_TakeOutMsg, 1814);
VLAGT_SESSION_AT(m_pAppInfo, 1900);
VLAGT_SESSION_AT(m_szUserID, 1904);
VLAGT_SESSION_AT(m_szUserPW, 1955);
VLAGT_SESSION_AT(m_szServerURL, 1975);
#endif

#undef VLAGT_SESSION_AT

#if defined(__GNUC__) || defined(__clang__)
#pragma GCC diagnostic pop
#endif
