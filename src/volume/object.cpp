// Lifetime of the volume object: construction, copying, destruction and the staging buffer.
#include <Kestro32.h>

#include <cstring>

#include "volume/shared_resources.h"
#include "volume/version.h"
#include "volume/window_flag.h"

using namespace win32;

CKestro32::CKestro32() {
  kestro::RefillVersionRecord();
  m_bReady = 0;
  m_bWindowValid = 0;
  m_bWin9x = Is9XOSVersion();
  m_llBufferSize = 0;
  m_hDisk = INVALID_HANDLE_VALUE;
  m_pBuffer = nullptr;
  m_bUseVss = 1;
  m_bVssActive = 0;
  std::memset(m_szSnapshotPath, 0, sizeof m_szSnapshotPath);
}

namespace {

// Copies every member but the requester, in declaration order.
void CopyValues(CKestro32& to, const CKestro32& from) {
  to.m_nDrive = from.m_nDrive;
  std::memcpy(to.m_Reserved, from.m_Reserved, sizeof to.m_Reserved);
  to.m_PartInfoEx = from.m_PartInfoEx;
  to.m_PartInfo = from.m_PartInfo;
  std::memcpy(to.m_BootParams, from.m_BootParams, sizeof to.m_BootParams);
  to.m_bReady = from.m_bReady;
  to.m_nFsType = from.m_nFsType;
  to.m_llPartOffset = from.m_llPartOffset;
  to.m_llTotalSectors = from.m_llTotalSectors;
  to.m_llFreeBytes = from.m_llFreeBytes;
  to.m_llVolumeSize = from.m_llVolumeSize;
  to.m_llUsedBytes = from.m_llUsedBytes;
  to.m_bUseVss = from.m_bUseVss;
  to.m_bVssActive = from.m_bVssActive;
  to.m_llPos = from.m_llPos;
  to.m_llSector = from.m_llSector;
  to.m_bWin9x = from.m_bWin9x;
  kestro::WindowFlag(to).store(kestro::WindowIsValid(from) ? 1 : 0, std::memory_order_release);
  to.m_llWindowStart = from.m_llWindowStart;
  to.m_llWindowLength = from.m_llWindowLength;
  to.m_llBufferSize = from.m_llBufferSize;
  to.m_hDisk = from.m_hDisk;
  to.m_pBuffer = from.m_pBuffer;
  std::memcpy(to.m_szSnapshotPath, from.m_szSnapshotPath, sizeof to.m_szSnapshotPath);
}

}  // namespace

// A copy holds the source's handle and staging buffer too.
CKestro32::CKestro32(const CKestro32& other) : m_Requester(other.m_Requester) {
  kestro::JoinHolders(other, *this);
  CopyValues(*this, other);
}

// The source's handle and buffer are joined before anything changes, so an assignment that
// throws leaves both objects as they were. What this object held before is neither closed nor
// released: its previous handle and buffer are simply overwritten, as copies of them remain
// with whoever holds them.
CKestro32& CKestro32::operator=(const CKestro32& other) {
  if (this == &other) return *this;
  kestro::JoinHolders(other, *this);
  try {
    m_Requester = other.m_Requester;
  } catch (...) {
    kestro::UndoJoin(other, *this);
    throw;
  }
  kestro::KeepOnlyHolding(*this, other.m_hDisk, other.m_pBuffer);
  CopyValues(*this, other);
  return *this;
}

// The device closes before the snapshot behind it is released; m_Requester is destroyed last.
// Of a handle or buffer that copies share, only the last object holding it closes or frees it.
CKestro32::~CKestro32() {
  m_bReady = 0;
  m_llPos = 0;
  m_llSector = 0;
  const kestro::LastHolds last = kestro::LeaveAllHolders(*this);
  if (last.handle) CloseHandle(m_hDisk);
  m_hDisk = INVALID_HANDLE_VALUE;
  if (last.buffer) VirtualFree(m_pBuffer, 0, MEM_RELEASE);
  m_pBuffer = nullptr;
  EndVss();
}

// An earlier buffer is not released: the host calls this once per object, and a copy may still
// hold the old one.
void CKestro32::Initial(DWORD dwBufferSize) {
  if (dwBufferSize == 0) return;
  kestro::KeepOnlyHolding(*this, m_hDisk, nullptr);
  m_pBuffer = static_cast<BYTE*>(VirtualAlloc(nullptr, dwBufferSize, MEM_COMMIT, PAGE_READWRITE));
  kestro::WindowFlag(*this).store(0, std::memory_order_release);
  m_llBufferSize = dwBufferSize;
  if (m_pBuffer == nullptr) m_bReady = 0;
}
