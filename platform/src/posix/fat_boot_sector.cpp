#include "fat_boot_sector.h"

#include <algorithm>

namespace win32::posix {
namespace {

// Where the extended boot record lies: after the FAT32 block, or after the shorter one.
constexpr size_t kFat32ExtendedRecord = 64;
constexpr size_t kFat16ExtendedRecord = 36;
constexpr uint8_t kExtendedBootSignature = 0x29;

// Cluster counts that separate the FAT widths.
constexpr uint64_t kFat12Clusters = 4085;

uint32_t Little(const uint8_t* bytes, size_t width) {
  uint32_t value = 0;
  for (size_t i = width; i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

bool IsPowerOfTwo(uint32_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

void ReadVolumeId(const uint8_t* record, FatBootSector& boot) {
  // Drive number, reserved byte, signature, then the serial number, label and type text.
  boot.hasVolumeId = record[2] == kExtendedBootSignature;
  if (!boot.hasVolumeId) return;
  boot.serialNumber = Little(record + 3, 4);
  std::copy_n(record + 7, boot.label.size(), boot.label.begin());
  std::copy_n(record + 18, boot.fileSystemType.size(), boot.fileSystemType.begin());
}

}  // namespace

std::optional<FatBootSector> ParseFatBootSector(const uint8_t* sector) {
  if (sector[510] != 0x55 || sector[511] != 0xAA) return std::nullopt;
  FatBootSector boot;
  boot.bytesPerSector = static_cast<uint16_t>(Little(sector + 11, 2));
  boot.sectorsPerCluster = sector[13];
  const uint32_t reserved = Little(sector + 14, 2);
  const uint32_t fats = sector[16];
  const uint32_t rootEntries = Little(sector + 17, 2);
  const uint32_t smallTotal = Little(sector + 19, 2);
  const uint32_t smallFatSize = Little(sector + 22, 2);
  boot.sectorsPerTrack = static_cast<uint16_t>(Little(sector + 24, 2));
  boot.heads = static_cast<uint16_t>(Little(sector + 26, 2));
  const uint32_t largeTotal = Little(sector + 32, 4);
  const uint32_t fatSize = smallFatSize != 0 ? smallFatSize : Little(sector + 36, 4);
  boot.totalSectors = smallTotal != 0 ? smallTotal : largeTotal;

  if (boot.bytesPerSector < 512 || boot.bytesPerSector > 4096 ||
      !IsPowerOfTwo(boot.bytesPerSector) || !IsPowerOfTwo(boot.sectorsPerCluster) ||
      reserved == 0 || fats == 0 || fatSize == 0) {
    return std::nullopt;
  }
  const uint64_t rootSectors =
      (uint64_t{rootEntries} * 32 + boot.bytesPerSector - 1) / boot.bytesPerSector;
  const uint64_t metadata = reserved + uint64_t{fats} * fatSize + rootSectors;
  if (boot.totalSectors <= metadata) return std::nullopt;

  // A FAT32 block keeps its FAT size in the 32-bit field; the other two are told apart by
  // their count of clusters.
  if (smallFatSize == 0) {
    boot.fatBits = 32;
  } else {
    const uint64_t clusters = (boot.totalSectors - metadata) / boot.sectorsPerCluster;
    boot.fatBits = clusters < kFat12Clusters ? 12 : 16;
  }
  ReadVolumeId(sector + (boot.fatBits == 32 ? kFat32ExtendedRecord : kFat16ExtendedRecord), boot);
  return boot;
}

}  // namespace win32::posix
