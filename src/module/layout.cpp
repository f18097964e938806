// Hosts read CKestro32's members directly, so their offsets are part of the interface. They are
// pinned here for every target the library is built for: 32-bit Windows and 32-bit Linux lay the
// class out identically (the platform layer gives 64-bit integers Windows' 8-byte alignment), and
// x86-64 differs only where the pointers widen.
#include <Kestro32.h>

#include <cstddef>

namespace {

struct Offsets {
  size_t nDrive, reserved, partInfoEx, partInfo, bootParams, ready, fsType, partOffset,
      totalSectors, freeBytes, volumeSize, usedBytes, useVss, vssActive, pos, sector, win9x,
      windowValid, windowStart, windowLength, bufferSize, disk, buffer, snapshotPath, requester,
      size;
};

#if defined(__i386__) || defined(_M_IX86)
constexpr Offsets kExpected = {4,   8,   40,  184, 216, 292, 296, 304, 312, 320, 328, 336, 344,
                               348, 352, 360, 368, 372, 376, 384, 392, 400, 404, 408, 928, 936};
#elif defined(__x86_64__)
constexpr Offsets kExpected = {8,   12,  40,  184, 216, 292, 296, 304, 312, 320, 328, 336, 344,
                               348, 352, 360, 368, 372, 376, 384, 392, 400, 408, 416, 936, 952};
#else
#error "the member offsets of CKestro32 are not pinned for this target"
#endif

// offsetof on a polymorphic class is conditionally supported; GCC gives the real offsets.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(CKestro32, m_nDrive) == kExpected.nDrive);
static_assert(offsetof(CKestro32, m_Reserved) == kExpected.reserved);
static_assert(offsetof(CKestro32, m_PartInfoEx) == kExpected.partInfoEx);
static_assert(offsetof(CKestro32, m_PartInfo) == kExpected.partInfo);
static_assert(offsetof(CKestro32, m_BootParams) == kExpected.bootParams);
static_assert(offsetof(CKestro32, m_bReady) == kExpected.ready);
static_assert(offsetof(CKestro32, m_nFsType) == kExpected.fsType);
static_assert(offsetof(CKestro32, m_llPartOffset) == kExpected.partOffset);
static_assert(offsetof(CKestro32, m_llTotalSectors) == kExpected.totalSectors);
static_assert(offsetof(CKestro32, m_llFreeBytes) == kExpected.freeBytes);
static_assert(offsetof(CKestro32, m_llVolumeSize) == kExpected.volumeSize);
static_assert(offsetof(CKestro32, m_llUsedBytes) == kExpected.usedBytes);
static_assert(offsetof(CKestro32, m_bUseVss) == kExpected.useVss);
static_assert(offsetof(CKestro32, m_bVssActive) == kExpected.vssActive);
static_assert(offsetof(CKestro32, m_llPos) == kExpected.pos);
static_assert(offsetof(CKestro32, m_llSector) == kExpected.sector);
static_assert(offsetof(CKestro32, m_bWin9x) == kExpected.win9x);
static_assert(offsetof(CKestro32, m_bWindowValid) == kExpected.windowValid);
static_assert(offsetof(CKestro32, m_llWindowStart) == kExpected.windowStart);
static_assert(offsetof(CKestro32, m_llWindowLength) == kExpected.windowLength);
static_assert(offsetof(CKestro32, m_llBufferSize) == kExpected.bufferSize);
static_assert(offsetof(CKestro32, m_hDisk) == kExpected.disk);
static_assert(offsetof(CKestro32, m_pBuffer) == kExpected.buffer);
static_assert(offsetof(CKestro32, m_szSnapshotPath) == kExpected.snapshotPath);
static_assert(offsetof(CKestro32, m_Requester) == kExpected.requester);
#pragma GCC diagnostic pop
static_assert(sizeof(CKestro32) == kExpected.size);
// The vftable pointer comes first.
static_assert(kExpected.nDrive == sizeof(void*));

}  // namespace
