// WorkerQueries.h - the server queries that answer within a fixed bound whatever the network does.
//
// GetACLInfo (exported) and CheckPing (exported; the user check calls it) each start one worker
// thread with a private CDRMLogin that reads the server URL from the registry and talks to the
// server, and wait at most kQueryBoundMs for that very worker to report success. A call that gets no
// success in time returns 0; its worker runs on to the end of its exchanges and then discards its
// result. The process-wide session of the plain exports is never touched.
#pragma once

#include "VLAgtClient.h"
#include "api/CWorkerCall.h"
#include "common/WinApi.h"

namespace vlagt {

// How long a query call waits for its worker.
constexpr DWORD kQueryBoundMs = 3000;

// Named mutexes that exist while a worker of that kind runs (nothing acquires them).
constexpr char kAclWorkerMutex[] = "VLAclInfo";
constexpr char kPingWorkerMutex[] = "VLPing";

} // namespace vlagt

// The block GetACLInfo shares with its worker.
struct ACLINFO_PARAM : vlagt::CWorkerCall
{
    char szUserID[21];    // at most 20 characters and the terminator
    char szLevelName[21]; // at most 20 characters and the terminator
    ACL_INFO* pAclOut;    // the caller's output: written by the caller alone, after its wait succeeded
    ACL_INFO AclResult;   // the worker's result, valid once it reported success
};

// The block CheckPing shares with its worker: completion only.
struct PING_PARAM : vlagt::CWorkerCall
{
};

// The result of the last worker of each kind to finish: 1 success, 0 failure (0 until one finished).
// Kept for what they report; no call's result depends on them.
extern volatile LONG g_bACLInfoOK;
extern volatile LONG g_bPingOK;

// The worker procedures: the argument is an ACLINFO_PARAM or a PING_PARAM. They end their thread
// themselves (see CWorkerCall::EndWorker).
unsigned __stdcall ACLInfoThread(void* param);
unsigned __stdcall PingThread(void* param);
