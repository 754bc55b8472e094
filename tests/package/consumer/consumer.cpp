// Uses the module as an integrator's program does: the class on the stack and on the heap, the
// records read by name, a plain export.
#include <stdio.h>
#include <string.h>

#include "VLAgtClient.h"

int main()
{
    CDRMLogin session;
    session.SetServerIP(const_cast<char*>("http://127.0.0.1:9/agent"));
    CDRMLogin* copy = new CDRMLogin(session);
    const bool ok = strcmp(copy->m_szServerURL, "http://127.0.0.1:9/agent") == 0 && copy->CheckLogin() == 0 &&
                    copy->m_nTakeOutStatus == STATUS_TAKEOUT_NONE && RecoveryCCF() == 1;
    delete copy;
    printf(ok ? "consumer ok\n" : "consumer failed\n");
    return ok ? 0 : 1;
}
