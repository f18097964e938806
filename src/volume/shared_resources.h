// Device handles and staging buffers that copies of a volume object share.
//
// Copies show the same m_hDisk and m_pBuffer values as their source. Each holder counts once;
// the last one to let go closes the handle or frees the buffer. A value never copied is not
// registered at all and counts as held once. For staging buffers the registry also remembers
// which object last wrote into a shared buffer, so that no copy serves a read from bytes
// another copy has since replaced.
#pragma once

#include <win32/windows.h>

namespace kestro {

// One more holder of `handle` (ignored for INVALID_HANDLE_VALUE).
void RetainHandle(win32::HANDLE handle);
// One holder fewer; true when the caller was the last one and must close the handle.
bool ReleaseHandle(win32::HANDLE handle);

void RetainBuffer(const void* buffer);
bool ReleaseBuffer(const void* buffer);

// Records that `owner` has just written into the shared `buffer`.
void ClaimBuffer(const void* buffer, const void* owner);
// True unless `buffer` is shared and another holder wrote into it after `owner` did.
bool BufferClaimedBy(const void* buffer, const void* owner);

}  // namespace kestro
