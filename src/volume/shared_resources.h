// Device handles and staging buffers that copies of a volume object share.
//
// Copies show the same m_hDisk and m_pBuffer values as their source. Every object holding a
// shared value is listed with it; the last one to let go closes the handle or frees the buffer.
// A value never copied is not listed at all: its one holder owns it. A change through one holder
// clears the read-back windows of the others, so a window hit never has to consult anything
// shared.
#pragma once

#include <Kestro32.h>

namespace kestro {

// Lists `joiner` as a further holder of the handle and buffer that `source` holds. All or
// nothing: on std::bad_alloc no holder list has changed.
void JoinHolders(const CKestro32& source, CKestro32& joiner);

// Ends `holder`'s hold on `handle` or `buffer`; true when it was the last holder and must close
// or free it.
bool LetGoOfHandle(win32::HANDLE handle, const CKestro32& holder);
bool LetGoOfBuffer(const void* buffer, const CKestro32& holder);

// Clears the windows of the other holders of `volume`'s staging buffer, which is about to change.
void DropWindowsSharingBuffer(const CKestro32& volume);
// Clears the windows of the other holders of `volume`'s handle and buffer, whose volume is about
// to change.
void DropWindowsSharingVolume(const CKestro32& volume);

}  // namespace kestro
