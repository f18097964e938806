// Partition tables (MBR and GPT) of a disk image or whole-disk device, read with libblkid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro::posix {

enum class TableStyle { kNone, kMbr, kGpt };

struct PartitionEntry {
  unsigned number = 0;  // as the table numbers it: MBR logical partitions from 5
  uint64_t start = 0;   // bytes from the start of the disk
  uint64_t size = 0;    // bytes
  uint8_t mbrType = 0;
  bool bootable = false;
  bool extended = false;  // an MBR extended-partition container
  bool logical = false;
  std::string typeGuid;  // GPT partition type, as text
  std::string uuid;      // GPT partition GUID, as text
  std::string name;      // GPT partition name, UTF-8
  uint64_t attributes = 0;
};

struct PartitionTable {
  TableStyle style = TableStyle::kNone;
  std::string id;  // MBR disk signature ("0x1234abcd") or GPT disk GUID
  std::vector<PartitionEntry> entries;
};

// Reads the table of the disk open on `fd` (`size` bytes). A disk without a table gives
// style kNone; nullopt means the probe itself failed.
std::optional<PartitionTable> ReadPartitionTable(int fd, uint64_t size);

// The entry with `number`, if the table has one.
const PartitionEntry* FindPartition(const PartitionTable& table, unsigned number);

}  // namespace kestro::posix
