// vlonline.exe - a caller of the exported class CDRMLogin that runs its online check twice, for the
// network-namespace tests. Built against the public header and the import library like any caller.
//
// 1. "unshared": a session without the shared record checks, while a second session of this
//    process holds the record with a poisoned nOnline; the record must stay untouched.
// 2. "shared": the session maps the record (nOnline poisoned first) and checks again.
// Output, one line per check: "<kind> <result> <nOnline: a number, or untouched>", and for a
// result of 0 the last-error value: "<kind> <result> <nOnline> error=<n>".
// Exit code: 0 when both checks ran, 101 when the shared record cannot be mapped.
#include <windows.h>

#include <stdio.h>

#include "VLAgtClient.h"

namespace {

constexpr int32_t kPoison = 0x5A5A5A5A;
constexpr int kFailed = 101;

void Report(const char* kind, int result, int32_t online)
{
    const DWORD error = GetLastError();
    char record[32];
    if (online == kPoison)
        snprintf(record, sizeof(record), "untouched");
    else
        snprintf(record, sizeof(record), "%ld", static_cast<long>(online));
    if (result == 0)
        printf("%s %d %s error=%lu\n", kind, result, record, static_cast<unsigned long>(error));
    else
        printf("%s %d %s\n", kind, result, record);
}

} // namespace

int main()
{
    CDRMLogin observer;
    if (!observer.CreateSharedMemForLoginInfo())
        return kFailed;
    observer.m_pSharedInfo->nOnline = kPoison;
    {
        CDRMLogin unmapped;
        const int result = unmapped.CheckOnline();
        Report("unshared", result, observer.m_pSharedInfo->nOnline);
    }
    CDRMLogin mapped;
    if (!mapped.CreateSharedMemForLoginInfo())
        return kFailed;
    mapped.m_pSharedInfo->nOnline = kPoison;
    const int result = mapped.CheckOnline();
    Report("shared", result, observer.m_pSharedInfo->nOnline);
    fflush(stdout);
    return 0;
}
