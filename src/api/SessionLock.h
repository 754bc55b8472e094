// SessionLock.h - the lock of the process-wide session. The exports that change g_DRMLogin hold it
// for their whole call, so two threads cannot log in at once or interleave a login and a take-out.
#pragma once

#include "common/WinApi.h"

namespace vlagt {

class SessionLock
{
public:
    SessionLock() { AcquireSRWLockExclusive(&s_lock); }
    ~SessionLock() { ReleaseSRWLockExclusive(&s_lock); }
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;

private:
    static SRWLOCK s_lock; // statically initialised: usable before and after the module's constructors
};

} // namespace vlagt
