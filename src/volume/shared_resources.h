// Device handles and staging buffers that copies of a volume object share (the model is set out
// at the top of shared_resources.cpp).
#pragma once

#include <Kestro32.h>

namespace kestro {

// Lists `joiner` as a further holder of the handle and buffer that `source` holds. All or
// nothing: on std::bad_alloc no holder list has changed.
void JoinHolders(const CKestro32& source, CKestro32& joiner);

// Takes back one JoinHolders(source, joiner) when the copy or assignment it began failed.
void UndoJoin(const CKestro32& source, const CKestro32& joiner);

// `holder` is listed only with `handle` and `buffer` from now on (an assignment's target with its
// new values, an object given a new staging buffer). Closes and frees nothing.
void KeepOnlyHolding(const CKestro32& holder, win32::HANDLE handle, const void* buffer);

// What a destroyed object must release itself: the values it holds that no other object holds.
struct LastHolds {
  bool handle = false;
  bool buffer = false;
};

// Takes `holder`, which is being destroyed, off every holder list, whatever its members hold by
// now, and says which of its values it was the last to hold.
LastHolds LeaveAllHolders(const CKestro32& holder);

// Clears the windows of the other holders of `volume`'s staging buffer, which is about to change.
void DropWindowsSharingBuffer(const CKestro32& volume);
// Clears the windows of the other holders of `volume`'s handle and buffer, whose volume is about
// to change.
void DropWindowsSharingVolume(const CKestro32& volume);

}  // namespace kestro
