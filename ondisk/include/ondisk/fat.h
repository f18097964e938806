// FAT12, FAT16 and FAT32: the boot sector's parameter block and the allocation table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ondisk/allocation.h"
#include "ondisk/byte_reader.h"
#include "ondisk/errors.h"

namespace kestro::ondisk {

inline constexpr size_t kBootSectorSize = 512;

// The BIOS parameter block as it lies on disk: the boot sector's bytes 11 to 63, which is the
// whole FAT32 block and the part of it that FAT12 and FAT16 share (bytes 11 to 35).
inline constexpr size_t kBpbOffset = 11;
inline constexpr size_t kCommonBpbSize = 25;
inline constexpr size_t kFat32BpbSize = 53;

struct FatBootSector {
  unsigned fatBits = 0;  // 12, 16 or 32
  uint16_t bytesPerSector = 0;
  uint8_t sectorsPerCluster = 0;
  uint16_t sectorsPerTrack = 0;
  uint16_t heads = 0;
  uint64_t totalSectors = 0;     // of bytesPerSector bytes
  uint64_t reservedSectors = 0;  // in front of the first FAT
  uint64_t fatSectors = 0;       // of one FAT
  uint64_t firstDataSector = 0;  // where cluster 2 begins, after the FATs and root directory
  uint64_t clusterCount = 0;     // data clusters, numbered from 2
  // The volume ID that the extended boot record holds when its signature (29h) is present.
  bool hasVolumeId = false;
  uint32_t serialNumber = 0;
  std::array<uint8_t, 11> label{};
  std::array<uint8_t, 8> fileSystemType{};
};

// Reads the parameter block of a boot sector; an error when its fields do not describe a FAT
// volume that adds up. The signature at offset 510 is not looked at.
Result<FatBootSector> ParseFatBootSector(std::span<const uint8_t, kBootSectorSize> sector);

// Whether the sector ends in the boot signature 55h AAh.
bool HasBootSignature(std::span<const uint8_t, kBootSectorSize> sector);

// Walks the first FAT of the volume `volume` reads: clusters whose entry is 0 are free, every
// other data cluster (bad ones included) is allocated. Runs count clusters from 2. An entry that
// points outside the data clusters makes the FAT corrupt.
Result<AllocationMap> ReadFatAllocation(const ByteReader& volume, RunDetail detail);

}  // namespace kestro::ondisk
