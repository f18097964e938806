// Opening a volume whose image is the fuzzer's input, mapped as a drive (whole, and as its first
// partition), then the device queries and a few transfers. Whatever the bytes say, the object
// must stay inside the image and report what it moved.
#include <Kestro32.h>

#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include <win32/drive_map.h>

#include "require.h"
#include "scratch_file.h"
#include "sparse_image.h"

using namespace win32;
using kestro::fuzz::Require;
using kestro::fuzz::ScratchFile;
using kestro::fuzz::SparseImage;

namespace {

constexpr DWORD kBufferSize = 64 * 1024;
constexpr DWORD kLongRead = 3 * 4096 + 17;

ScratchFile& Image() {
  static ScratchFile* file = new ScratchFile();
  return *file;
}

void Query(CKestro32& volume, const WCHAR* root) {
  DISK_GEOMETRY geometry;
  PARTITION_INFORMATION_EX partition;
  volume.GetGeometry(&geometry);
  volume.GetPartitionInfoEx(&partition);
  int disk = -1;
  ULONGLONG start = 0, length = 0;
  if (volume.GetDiskNumber(disk, start, length)) {
    DRIVE_LAYOUT_INFORMATION_EX* layout = nullptr;
    if (volume.GetDriveLayout(disk, &layout)) ::operator delete(layout);
  }
  ULONGLONG total = 0, free = 0;
  if (volume.MyGetDiskFreeSpaceEx(root, &total, &free)) Require(free <= total);
}

// A read delivers no more than asked and what is left; a write of what was read puts it back.
void Transfer(CKestro32& volume, uint64_t imageSize) {
  Require(volume.m_llVolumeSize <= imageSize);
  std::vector<uint8_t> bytes(kLongRead);
  for (const ULONGLONG at :
       {ULONGLONG{0}, volume.m_llVolumeSize / 2 + 3,
        volume.m_llVolumeSize - std::min<ULONGLONG>(volume.m_llVolumeSize, 700)}) {
    if (!volume.SeekNT(static_cast<LONGLONG>(at), FILE_BEGIN)) continue;
    DWORD count = 0;
    const DWORD status = volume.ReadNT(bytes.data(), kLongRead, &count);
    Require(count <= kLongRead && count <= volume.m_llVolumeSize - at);
    if (status != 0 || count == 0 || !volume.SeekNT(static_cast<LONGLONG>(at), FILE_BEGIN))
      continue;
    const DWORD written = volume.WriteNT(bytes.data(), count);
    Require(written == count || written == KESTRO_WRITE_FAILED);
  }
}

void Open(unsigned drive, const WCHAR* root, uint64_t imageSize) {
  CKestro32 volume(drive, 0);
  if (!volume.m_bReady) return;
  volume.Initial(kBufferSize);
  Query(volume, root);
  Transfer(volume, imageSize);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The library's diagnostic lines would only slow the run down.
  Require(std::freopen("/dev/null", "w", stdout) != nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const SparseImage image(std::span<const uint8_t>(data, size));
  Require(image.WriteTo(Image().fd()));
  if (kestro::MapDrive('F', Image().path())) {
    Open(6, WTEXT("F:\\"), image.Size());
    kestro::UnmapDrive('F');
  }
  if (kestro::MapDrive('G', Image().path(), 1)) {
    Open(7, WTEXT("G:\\"), image.Size());
    kestro::UnmapDrive('G');
  }
  return 0;
}
