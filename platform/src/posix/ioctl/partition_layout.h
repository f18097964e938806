// A disk's partitions as Windows lists them in its drive layout: for an MBR disk the four primary
// slots, then the four slots of each extended boot record down the chain (unused slots included,
// type 0); for a GPT disk the used entries in table order; for a disk without a partition table
// the single whole-disk partition Windows reports for an unpartitioned ("superfloppy") disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <win32/winioctl.h>

#include "storage/disk_access.h"

namespace kestro::posix {

using namespace win32;

inline constexpr BYTE kPartitionTypeUnused = 0x00;
inline constexpr BYTE kPartitionTypeFat16 = 0x04;  // what Windows reports for a superfloppy

struct LayoutEntry {
  uint64_t start = 0;   // bytes from the start of the disk
  uint64_t length = 0;  // bytes
  DWORD number = 0;     // Windows' partition number: 1, 2... over used, non-container entries
  // MBR
  BYTE mbrType = kPartitionTypeUnused;
  bool bootable = false;
  DWORD hiddenSectors = 0;
  uint64_t slotOffset = 0;  // disk byte offset of the 16-byte slot holding the entry, 0 if none
  // GPT
  GUID gptType{};
  GUID gptId{};
  DWORD64 gptAttributes = 0;
  std::u16string gptName;
};

struct DiskLayout {
  PARTITION_STYLE style = PARTITION_STYLE_MBR;
  DWORD mbrSignature = 0;
  DWORD mbrCheckSum = 0;
  GUID gptDiskId{};
  uint64_t gptUsableStart = 0;
  uint64_t gptUsableLength = 0;
  DWORD gptMaxPartitions = 0;
  std::vector<LayoutEntry> entries;
};

// Reads the layout of `disk`; nullopt with the last error set when it cannot be read.
std::optional<DiskLayout> ReadDiskLayout(const DiskAccess& disk);

// Windows' IsRecognizedPartition for MBR partition types.
bool IsRecognizedType(BYTE type);

// Numbers the used, non-container entries 1, 2... in layout order, as Windows numbers partitions.
void NumberPartitions(DiskLayout& layout);

}  // namespace kestro::posix
