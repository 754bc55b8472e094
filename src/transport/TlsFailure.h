// TlsFailure.h - what a WinINet error number means when an exchange over https fails.
#pragma once

#include "common/WinApi.h"

namespace vlagt {

// The words for a WinINet error that the secure channel reports (certificate checks, the
// handshake, a peer that does not speak TLS); nullptr for any other number.
const char* TlsFailureText(DWORD error);

} // namespace vlagt
