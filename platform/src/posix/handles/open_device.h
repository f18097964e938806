// CreateFileW: opens drive volumes, disks, the legacy device and plain files.
#pragma once

#include <memory>

#include <win32/types.h>

#include "open_object.h"

namespace kestro::posix {

using namespace win32;

// Opens what `name` denotes, or returns nullptr with the thread's last error set.
std::shared_ptr<OpenObject> OpenNamedObject(LPCWSTR name, DWORD access, DWORD disposition,
                                            DWORD flags);

}  // namespace kestro::posix
