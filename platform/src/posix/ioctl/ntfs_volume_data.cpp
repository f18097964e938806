#include "ioctl/ntfs_volume_data.h"

#include <algorithm>
#include <array>
#include <vector>

#include <ondisk/ntfs.h>
#include <win32/errors.h>
#include <win32/winioctl.h>

#include "storage/byte_readers.h"
#include "storage/volume_window.h"

namespace kestro::posix {
namespace {

namespace ondisk = kestro::ondisk;

constexpr uint64_t kMftZoneFraction = 8;

// A volume whose NTFS structures do not hold together is one Windows would not mount as NTFS.
BOOL FailFor(const ondisk::Error& error) {
  return Fail(error.fault == ondisk::Fault::kReadFailed ? ERROR_IO_DEVICE : ERROR_INVALID_FUNCTION);
}

// The $DATA attribute of the MFT's own record, which always sits at the MFT's first cluster.
ondisk::Result<ondisk::AttributeData> ReadMftData(const ondisk::ByteReader& volume,
                                                  const ondisk::NtfsBootSector& boot) {
  std::vector<uint8_t> record(boot.recordBytes);
  if (auto read = volume.Read(boot.mftCluster * boot.clusterBytes, record.size(), record.data());
      !read.ok()) {
    return read.error();
  }
  if (auto fixed = ondisk::ApplyFixups(record); !fixed.ok()) return fixed.error();
  return ondisk::FindUnnamedAttribute(record, ondisk::kDataAttribute, boot.clusterCount);
}

uint64_t MftEndCluster(const ondisk::AttributeData& mft) {
  uint64_t end = 0;
  for (const ondisk::DataRun& run : mft.runs) {
    if (!run.sparse) end = std::max(end, run.lcn + run.length);
  }
  return end;
}

NTFS_VOLUME_DATA_BUFFER RecordOf(const ondisk::NtfsBootSector& boot,
                                 const ondisk::AttributeData& mft, uint64_t freeClusters) {
  NTFS_VOLUME_DATA_BUFFER data{};
  data.VolumeSerialNumber.QuadPart = static_cast<LONGLONG>(boot.serialNumber);
  data.NumberSectors.QuadPart = static_cast<LONGLONG>(boot.sectorCount);
  data.TotalClusters.QuadPart = static_cast<LONGLONG>(boot.clusterCount);
  data.FreeClusters.QuadPart = static_cast<LONGLONG>(freeClusters);
  data.BytesPerSector = boot.bytesPerSector;
  data.BytesPerCluster = boot.clusterBytes;
  data.BytesPerFileRecordSegment = boot.recordBytes;
  data.ClustersPerFileRecordSegment = boot.recordBytes / boot.clusterBytes;
  data.MftValidDataLength.QuadPart = static_cast<LONGLONG>(mft.initializedSize);
  data.MftStartLcn.QuadPart = static_cast<LONGLONG>(boot.mftCluster);
  data.Mft2StartLcn.QuadPart = static_cast<LONGLONG>(boot.mftMirrorCluster);
  const uint64_t zoneStart = std::min(MftEndCluster(mft), boot.clusterCount);
  const uint64_t zoneEnd =
      std::min(zoneStart + boot.clusterCount / kMftZoneFraction, boot.clusterCount);
  data.MftZoneStart.QuadPart = static_cast<LONGLONG>(zoneStart);
  data.MftZoneEnd.QuadPart = static_cast<LONGLONG>(zoneEnd);
  return data;
}

}  // namespace

BOOL AnswerNtfsVolumeData(const OpenObject& object, ControlBuffer& output) {
  if (object.kind != ObjectKind::kVolume || !object.volume) return Fail(ERROR_INVALID_FUNCTION);
  if (!output.Require(sizeof(NTFS_VOLUME_DATA_BUFFER))) return FALSE;
  auto window = VolumeWindow::Open(*object.volume);
  if (!window) return FailFromErrno();
  const VolumeWindowReader volume(*window);
  std::array<uint8_t, ondisk::kNtfsBootSectorSize> sector{};
  if (window->length() < sector.size()) return Fail(ERROR_INVALID_FUNCTION);
  if (auto read = volume.Read(0, sector.size(), sector.data()); !read.ok()) {
    return FailFor(read.error());
  }
  const auto boot = ondisk::ParseNtfsBootSector(sector, window->length());
  if (!boot) return Fail(ERROR_INVALID_FUNCTION);
  const auto mft = ReadMftData(volume, *boot);
  if (!mft) return FailFor(mft.error());
  const auto allocation = ondisk::ReadNtfsAllocation(volume, ondisk::RunDetail::kCountOnly);
  if (!allocation) return FailFor(allocation.error());
  return output.Put(RecordOf(*boot, *mft, allocation->freeClusters));
}

}  // namespace kestro::posix
