// Where the volume lies: its disk extent, the layout of that disk, and the two combined.
#include <Kestro32.h>

#include <new>

using namespace win32;

namespace {

constexpr DWORD kFirstQuerySize = 512;
// The growing-buffer queries stop doubling here: no real disk needs more, and a device that
// keeps answering "too small" must not exhaust memory.
constexpr DWORD kQuerySizeCeiling = 16u << 20;

// Closes a disk handle on every way out, an allocation failure included.
class DiskHandle {
 public:
  explicit DiskHandle(HANDLE handle) : handle_(handle) {}
  ~DiskHandle() { CloseHandle(handle_); }
  DiskHandle(const DiskHandle&) = delete;
  DiskHandle& operator=(const DiskHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Sends `code` into a buffer of `size` bytes; the same buffer and size go to every request.
BOOL Query(HANDLE device, DWORD code, void* buffer, DWORD size, DWORD* error) {
  DWORD bytes = 0;
  const BOOL result = DeviceIoControl(device, code, nullptr, 0, buffer, size, &bytes, nullptr);
  *error = result ? ERROR_SUCCESS : GetLastError();
  return result;
}

// Sends `code` into a buffer that doubles while the device answers `tooSmall`, up to the
// ceiling. `buffer` names the current buffer at every moment, so that whoever owns it can
// release it whatever happens, even when an allocation throws.
template <typename Record>
BOOL QueryGrowing(HANDLE device, DWORD code, DWORD tooSmall, Record*& buffer, DWORD* error) {
  DWORD size = kFirstQuerySize;
  buffer = static_cast<Record*>(::operator new(size));
  BOOL result = Query(device, code, buffer, size, error);
  while (!result && *error == tooSmall && size < kQuerySizeCeiling) {
    ::operator delete(buffer);
    buffer = nullptr;
    size *= 2;
    buffer = static_cast<Record*>(::operator new(size));
    result = Query(device, code, buffer, size, error);
  }
  return result;
}

}  // namespace

int CKestro32::GetDiskNumber(int& diskNumber, ULONGLONG& startingOffset, ULONGLONG& extentLength) {
  if (m_hDisk == INVALID_HANDLE_VALUE) {
    wprintf(WTEXT("GetDiskNumber m_hDisk == INVALID_HANDLE_VALUE!\r\n"));
    return 0;
  }
  VOLUME_DISK_EXTENTS* extents = nullptr;
  DWORD error = ERROR_SUCCESS;
  const BOOL result =
      QueryGrowing(m_hDisk, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, ERROR_MORE_DATA, extents, &error);
  if (!result) {
    wprintf(WTEXT("GetDiskNumber IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS error(%d)!\r\n"), error);
  }
  if (result && extents->NumberOfDiskExtents == 1) {
    diskNumber = static_cast<int>(extents->Extents[0].DiskNumber);
    startingOffset = static_cast<ULONGLONG>(extents->Extents[0].StartingOffset.QuadPart);
    extentLength = static_cast<ULONGLONG>(extents->Extents[0].ExtentLength.QuadPart);
  } else {
    diskNumber = -1;
    startingOffset = 0;
  }
  ::operator delete(extents);
  return result;
}

// The layout buffer comes from operator new and belongs to the caller on every return, success
// or failure; the caller releases a non-null one with ::operator delete.
int CKestro32::GetDriveLayout(int diskNumber, DRIVE_LAYOUT_INFORMATION_EX** layout) {
  WCHAR name[32];
  swprintf(name, 32, WTEXT("\\\\.\\PHYSICALDRIVE%d"), diskNumber);
  const HANDLE opened =
      CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    wprintf(WTEXT("GetDriveLayout hDrive error(%d)!\r\n"), GetLastError());
    return 0;
  }
  DiskHandle disk(opened);
  DWORD error = ERROR_SUCCESS;
  const BOOL result = QueryGrowing(disk.get(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX,
                                   ERROR_INSUFFICIENT_BUFFER, *layout, &error);
  if (!result) {
    wprintf(WTEXT("GetDriveLayout IOCTL_DISK_GET_DRIVE_LAYOUT_EX error(%d)!\r\n"), error);
    return 0;
  }
  return result;
}

int CKestro32::GetPartitionInfo3() {
  int diskNumber = -1;
  ULONGLONG startingOffset = 0;
  ULONGLONG extentLength = 0;
  if (!GetDiskNumber(diskNumber, startingOffset, extentLength)) {
    wprintf(WTEXT("GetDiskNumber error!\r\n"));
    return 0;
  }
  DRIVE_LAYOUT_INFORMATION_EX* layout = nullptr;
  if (!GetDriveLayout(diskNumber, &layout)) {
    wprintf(WTEXT("GetDriveLayout error!\r\n"));
    ::operator delete(layout);
    return 0;
  }
  m_PartInfoEx.PartitionStyle = static_cast<PARTITION_STYLE>(layout->PartitionStyle);
  m_PartInfoEx.StartingOffset.QuadPart = static_cast<LONGLONG>(startingOffset);
  m_PartInfoEx.PartitionLength.QuadPart = static_cast<LONGLONG>(extentLength);
  ::operator delete(layout);
  return 1;
}
