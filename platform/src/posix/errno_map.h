// The Win32 error code that stands for a POSIX errno value.
#pragma once

#include <win32/types.h>

namespace kestro::posix {

using namespace win32;

DWORD Win32ErrorFromErrno(int error);

// Sets the thread's last error from errno and returns FALSE, for the common failure return.
BOOL FailFromErrno();

// Sets the thread's last error and returns FALSE.
BOOL Fail(DWORD error);

}  // namespace kestro::posix
