#include <algorithm>
#include <bit>

#include "ondisk/fat.h"
#include "ondisk/little_endian.h"

namespace kestro::ondisk {
namespace {

// Where the extended boot record lies: after the FAT32 block, or after the shorter one.
constexpr size_t kFat32ExtendedRecord = 64;
constexpr size_t kFat16ExtendedRecord = 36;
constexpr uint8_t kExtendedBootSignature = 0x29;

// Cluster counts that separate the FAT widths.
constexpr uint64_t kFat12Clusters = 4085;

void ReadVolumeId(const uint8_t* record, FatBootSector& boot) {
  // Drive number, reserved byte, signature, then the serial number, label and type text.
  boot.hasVolumeId = record[2] == kExtendedBootSignature;
  if (!boot.hasVolumeId) return;
  boot.serialNumber = LittleEndian32(record + 3);
  std::copy_n(record + 7, boot.label.size(), boot.label.begin());
  std::copy_n(record + 18, boot.fileSystemType.size(), boot.fileSystemType.begin());
}

}  // namespace

Result<FatBootSector> ParseFatBootSector(std::span<const uint8_t, kBootSectorSize> bytes) {
  const uint8_t* sector = bytes.data();
  FatBootSector boot;
  boot.bytesPerSector = LittleEndian16(sector + 11);
  boot.sectorsPerCluster = sector[13];
  boot.reservedSectors = LittleEndian16(sector + 14);
  const uint64_t fats = sector[16];
  const uint64_t rootEntries = LittleEndian16(sector + 17);
  const uint64_t smallTotal = LittleEndian16(sector + 19);
  const uint64_t smallFatSize = LittleEndian16(sector + 22);
  boot.sectorsPerTrack = LittleEndian16(sector + 24);
  boot.heads = LittleEndian16(sector + 26);
  boot.fatSectors = smallFatSize != 0 ? smallFatSize : LittleEndian32(sector + 36);
  boot.totalSectors = smallTotal != 0 ? smallTotal : LittleEndian32(sector + 32);

  if (boot.bytesPerSector < 512 || boot.bytesPerSector > 4096 ||
      !std::has_single_bit(boot.bytesPerSector)) {
    return Error{Fault::kBadValue, "bytes per sector is not 512, 1024, 2048 or 4096"};
  }
  if (!std::has_single_bit(boot.sectorsPerCluster)) {
    return Error{Fault::kBadValue, "sectors per cluster is not a power of two"};
  }
  if (boot.reservedSectors == 0 || fats == 0 || boot.fatSectors == 0) {
    return Error{Fault::kBadValue, "no reserved sectors, no FAT or an empty FAT"};
  }
  const uint64_t rootSectors = (rootEntries * 32 + boot.bytesPerSector - 1) / boot.bytesPerSector;
  const uint64_t metadata = boot.reservedSectors + fats * boot.fatSectors + rootSectors;
  if (boot.totalSectors <= metadata) {
    return Error{Fault::kBadValue, "the FATs and root directory fill the volume"};
  }
  boot.firstDataSector = metadata;
  boot.clusterCount = (boot.totalSectors - metadata) / boot.sectorsPerCluster;

  // A FAT32 block keeps its FAT size in the 32-bit field; the other two are told apart by
  // their count of clusters.
  boot.fatBits = smallFatSize == 0 ? 32 : boot.clusterCount < kFat12Clusters ? 12 : 16;
  ReadVolumeId(sector + (boot.fatBits == 32 ? kFat32ExtendedRecord : kFat16ExtendedRecord), boot);
  return boot;
}

bool HasBootSignature(std::span<const uint8_t, kBootSectorSize> sector) {
  return sector[510] == 0x55 && sector[511] == 0xAA;
}

}  // namespace kestro::ondisk
