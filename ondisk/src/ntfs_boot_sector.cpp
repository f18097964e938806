#include <algorithm>
#include <bit>
#include <cstring>

#include "ondisk/little_endian.h"
#include "ondisk/ntfs.h"

namespace kestro::ondisk {
namespace {

constexpr char kOemId[8] = {'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
constexpr uint64_t kMaxClusterBytes = 2u << 20;
constexpr uint64_t kMinRecordBytes = 512;
constexpr uint64_t kMaxRecordBytes = uint64_t{64} * 1024;

// Sectors per cluster above 0x80 are a negative power of two.
uint64_t SectorsPerCluster(uint8_t code) {
  return code <= 0x80 ? code : uint64_t{1} << std::min(256 - code, 31);
}

}  // namespace

uint64_t NtfsRecordBytes(int8_t code, uint64_t clusterBytes) {
  if (code >= 0) return static_cast<uint64_t>(code) * clusterBytes;
  return code > -32 ? uint64_t{1} << -code : 0;
}

Result<NtfsBootSector> ParseNtfsBootSector(std::span<const uint8_t, kNtfsBootSectorSize> bytes,
                                           uint64_t volumeLength) {
  const uint8_t* boot = bytes.data();
  if (std::memcmp(boot + 3, kOemId, sizeof kOemId) != 0) {
    return Error{Fault::kBadSignature, "no NTFS OEM identifier"};
  }
  const uint64_t bytesPerSector = LittleEndian16(boot + 11);
  const uint64_t sectorsPerCluster = SectorsPerCluster(boot[13]);
  if (bytesPerSector < 256 || bytesPerSector > 4096 || !std::has_single_bit(bytesPerSector) ||
      !std::has_single_bit(sectorsPerCluster) ||
      bytesPerSector * sectorsPerCluster > kMaxClusterBytes) {
    return Error{Fault::kBadValue, "sector or cluster size out of range"};
  }
  NtfsBootSector parsed;
  parsed.bytesPerSector = static_cast<uint32_t>(bytesPerSector);
  parsed.clusterBytes = static_cast<uint32_t>(bytesPerSector * sectorsPerCluster);
  parsed.sectorCount = LittleEndian64(boot + 40);
  parsed.clusterCount = parsed.sectorCount / sectorsPerCluster;
  parsed.mftCluster = LittleEndian64(boot + 48);
  parsed.mftMirrorCluster = LittleEndian64(boot + 56);
  parsed.serialNumber = LittleEndian64(boot + 72);
  const uint64_t recordBytes = NtfsRecordBytes(static_cast<int8_t>(boot[64]), parsed.clusterBytes);
  if (recordBytes < kMinRecordBytes || recordBytes > kMaxRecordBytes ||
      !std::has_single_bit(recordBytes)) {
    return Error{Fault::kBadValue, "MFT record size out of range"};
  }
  if (parsed.clusterCount == 0 || parsed.clusterCount > volumeLength / parsed.clusterBytes ||
      parsed.mftCluster >= parsed.clusterCount) {
    return Error{Fault::kOutOfRange, "clusters or MFT beyond the volume"};
  }
  parsed.recordBytes = static_cast<uint32_t>(recordBytes);
  return parsed;
}

}  // namespace kestro::ondisk
