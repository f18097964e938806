#include "fat_boot_sector.h"

#include <algorithm>

#include "little_endian.h"

namespace kestro::posix {
namespace {

// Where the extended boot record lies: after the FAT32 block, or after the shorter one.
constexpr size_t kFat32ExtendedRecord = 64;
constexpr size_t kFat16ExtendedRecord = 36;
constexpr uint8_t kExtendedBootSignature = 0x29;

// Cluster counts that separate the FAT widths.
constexpr uint64_t kFat12Clusters = 4085;

bool IsPowerOfTwo(uint32_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

void ReadVolumeId(const uint8_t* record, FatBootSector& boot) {
  // Drive number, reserved byte, signature, then the serial number, label and type text.
  boot.hasVolumeId = record[2] == kExtendedBootSignature;
  if (!boot.hasVolumeId) return;
  boot.serialNumber = LittleEndian32(record + 3);
  std::copy_n(record + 7, boot.label.size(), boot.label.begin());
  std::copy_n(record + 18, boot.fileSystemType.size(), boot.fileSystemType.begin());
}

}  // namespace

std::optional<FatBootSector> ParseFatBootSector(const uint8_t* sector) {
  FatBootSector boot;
  boot.bytesPerSector = static_cast<uint16_t>(LittleEndian(sector + 11, 2));
  boot.sectorsPerCluster = sector[13];
  boot.reservedSectors = LittleEndian(sector + 14, 2);
  const uint64_t fats = sector[16];
  const uint64_t rootEntries = LittleEndian(sector + 17, 2);
  const uint64_t smallTotal = LittleEndian(sector + 19, 2);
  const uint64_t smallFatSize = LittleEndian(sector + 22, 2);
  boot.sectorsPerTrack = static_cast<uint16_t>(LittleEndian(sector + 24, 2));
  boot.heads = static_cast<uint16_t>(LittleEndian(sector + 26, 2));
  boot.fatSectors = smallFatSize != 0 ? smallFatSize : LittleEndian(sector + 36, 4);
  boot.totalSectors = smallTotal != 0 ? smallTotal : LittleEndian(sector + 32, 4);

  if (boot.bytesPerSector < 512 || boot.bytesPerSector > 4096 ||
      !IsPowerOfTwo(boot.bytesPerSector) || !IsPowerOfTwo(boot.sectorsPerCluster) ||
      boot.reservedSectors == 0 || fats == 0 || boot.fatSectors == 0) {
    return std::nullopt;
  }
  const uint64_t rootSectors = (rootEntries * 32 + boot.bytesPerSector - 1) / boot.bytesPerSector;
  const uint64_t metadata = boot.reservedSectors + fats * boot.fatSectors + rootSectors;
  if (boot.totalSectors <= metadata) return std::nullopt;
  boot.clusterCount = (boot.totalSectors - metadata) / boot.sectorsPerCluster;

  // A FAT32 block keeps its FAT size in the 32-bit field; the other two are told apart by
  // their count of clusters.
  boot.fatBits = smallFatSize == 0 ? 32 : boot.clusterCount < kFat12Clusters ? 12 : 16;
  ReadVolumeId(sector + (boot.fatBits == 32 ? kFat32ExtendedRecord : kFat16ExtendedRecord), boot);
  return boot;
}

bool HasBootSignature(const uint8_t* sector) {
  return sector[510] == 0x55 && sector[511] == 0xAA;
}

}  // namespace kestro::posix
