// GetACLInfo and its worker: the level list, then the ACL for the level the name selects.
#include <new>

#include <string.h>

#include "api/LevelSearch.h"
#include "api/WorkerQueries.h"
#include "common/DebugLog.h"
#include "common/TextUtil.h"
#include "session/SessionConstants.h"

volatile LONG g_bACLInfoOK = 0;

namespace {

int CompareLevelNames(const char* left, const char* right)
{
    return lstrcmpiA(left, right);
}

// The worker's exchanges on a private session; true when the ACL is in the block.
bool QueryAcl(ACLINFO_PARAM& param)
{
    vlagt::UniqueKernelHandle mutex(CreateMutexA(nullptr, FALSE, vlagt::kAclWorkerMutex));
    CDRMLogin session;
    session.SetUserID(param.szUserID);
    session.GetServerIP(); // without a URL the exchanges below fail

    unsigned long status = session.Communicate(SIG_REQ_LEVEL);
    DebugLog("[GetACLInfo] DocLevel : %d", static_cast<int>(status));
    if (status != vlagt::kStatusSuccess)
        return false;

    // No matching level: the request carries level 0.
    session.m_nDocLevel = vlagt::FindDocLevel(session.m_DocLevelList, param.szLevelName, CompareLevelNames, 0);
    status = session.Communicate(SIG_REQ_ACL);
    DebugLog("[GetACLInfo] Get ACL : %d", static_cast<int>(status));
    if (status != vlagt::kStatusSuccess)
        return false;

    memcpy(&param.AclResult, &session.m_AclInfo, sizeof(param.AclResult));
    mutex.Reset();
    param.ReportSuccess();
    return true;
}

} // namespace

unsigned __stdcall ACLInfoThread(void* argument)
{
    ACLINFO_PARAM* param = static_cast<ACLINFO_PARAM*>(argument);
    const bool ok = QueryAcl(*param);
    InterlockedExchange(&g_bACLInfoOK, ok ? 1 : 0);
    vlagt::CWorkerCall::EndWorker(param);
}

extern "C" int __cdecl GetACLInfo(char* userID, char* levelName, ACL_INFO* aclOut)
{
    int result = 0;
    ACLINFO_PARAM* param = new (std::nothrow) ACLINFO_PARAM;
    if (param != nullptr) {
        vlagt::CopyTerminated(param->szUserID, sizeof(param->szUserID), userID);
        vlagt::CopyTerminated(param->szLevelName, sizeof(param->szLevelName), levelName);
        param->pAclOut = aclOut;
        memset(&param->AclResult, 0, sizeof(param->AclResult));

        const DWORD start = GetTickCount();
        param->Start(ACLInfoThread); // a worker that did not start is waited for like a silent one
        if (param->WaitForSuccess(start, vlagt::kQueryBoundMs)) {
            if (param->pAclOut != nullptr)
                memcpy(param->pAclOut, &param->AclResult, sizeof(ACL_INFO));
            result = 1;
        }
        param->Release();
    }
    DebugLog(result == 1 ? "[GetACLInfo] TRUE" : "[GetACLInfo] FALSE : Time Out");
    return result;
}
