#include "storage/partition_table.h"

#include <blkid/blkid.h>

#include <cstring>
#include <memory>

#include <win32/sector.h>

namespace kestro::posix {
namespace {

struct ProbeDeleter {
  void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};
using Probe = std::unique_ptr<std::remove_pointer_t<blkid_probe>, ProbeDeleter>;

std::string Text(const char* value) {
  return value ? std::string(value) : std::string();
}

TableStyle StyleOf(blkid_parttable table) {
  const char* type = blkid_parttable_get_type(table);
  if (type && std::strcmp(type, "gpt") == 0) return TableStyle::kGpt;
  if (type && std::strcmp(type, "dos") == 0) return TableStyle::kMbr;
  return TableStyle::kNone;
}

PartitionEntry EntryOf(blkid_partition partition, TableStyle style) {
  PartitionEntry entry;
  entry.number = static_cast<unsigned>(blkid_partition_get_partno(partition));
  entry.start = static_cast<uint64_t>(blkid_partition_get_start(partition)) * platform::kSectorSize;
  entry.size = static_cast<uint64_t>(blkid_partition_get_size(partition)) * platform::kSectorSize;
  entry.extended = blkid_partition_is_extended(partition) != 0;
  entry.logical = blkid_partition_is_logical(partition) != 0;
  if (style == TableStyle::kMbr) {
    entry.mbrType = static_cast<uint8_t>(blkid_partition_get_type(partition));
    entry.bootable = (blkid_partition_get_flags(partition) & 0x80) != 0;
  } else {
    entry.typeGuid = Text(blkid_partition_get_type_string(partition));
    entry.uuid = Text(blkid_partition_get_uuid(partition));
    entry.name = Text(blkid_partition_get_name(partition));
    entry.attributes = blkid_partition_get_flags(partition);
  }
  return entry;
}

}  // namespace

std::optional<PartitionTable> ReadPartitionTable(int fd, uint64_t size) {
  Probe probe(blkid_new_probe());
  if (!probe || blkid_probe_set_device(probe.get(), fd, 0, static_cast<blkid_loff_t>(size)) != 0) {
    return std::nullopt;
  }
  blkid_probe_enable_superblocks(probe.get(), 0);
  blkid_probe_enable_partitions(probe.get(), 1);
  blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
  PartitionTable result;
  blkid_partlist list = blkid_probe_get_partitions(probe.get());
  if (list == nullptr) return result;
  blkid_parttable table = blkid_partlist_get_table(list);
  if (table == nullptr) return result;
  result.style = StyleOf(table);
  result.id = Text(blkid_parttable_get_id(table));
  const int count = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < count; ++i) {
    result.entries.push_back(EntryOf(blkid_partlist_get_partition(list, i), result.style));
  }
  return result;
}

const PartitionEntry* FindPartition(const PartitionTable& table, unsigned number) {
  for (const PartitionEntry& entry : table.entries) {
    if (entry.number == number) return &entry;
  }
  return nullptr;
}

}  // namespace kestro::posix
