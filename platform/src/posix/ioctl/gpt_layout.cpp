// The GPT side of the drive layout: the disk-wide fields from the GPT header, and its entries in
// use in table order.
#include <algorithm>

#include <ondisk/gpt.h>

#include "ioctl/gpt_layout.h"
#include "storage/byte_readers.h"

namespace kestro::posix {
namespace {

namespace ondisk = kestro::ondisk;

GUID GuidOf(const ondisk::Guid& guid) {
  GUID out{};
  out.Data1 = guid.data1;
  out.Data2 = guid.data2;
  out.Data3 = guid.data3;
  std::copy(guid.data4.begin(), guid.data4.end(), out.Data4);
  return out;
}

LayoutEntry EntryOf(const ondisk::GptEntry& partition, uint32_t sectorSize) {
  LayoutEntry entry;
  entry.start = partition.firstLba * sectorSize;
  entry.length = (partition.lastLba - partition.firstLba + 1) * sectorSize;
  entry.gptType = GuidOf(partition.type);
  entry.gptId = GuidOf(partition.id);
  entry.gptAttributes = partition.attributes;
  entry.gptName = partition.name;
  return entry;
}

}  // namespace

std::optional<DiskLayout> ReadGptLayout(const DiskAccess& disk) {
  const auto table = ondisk::ReadGpt(DiskReader(disk), disk.sectorSize());
  if (!table) {
    FailDiskStructure(table.error());
    return std::nullopt;
  }
  const ondisk::GptHeader& header = table->header;
  DiskLayout layout;
  layout.style = PARTITION_STYLE_GPT;
  layout.gptDiskId = GuidOf(header.diskId);
  layout.gptUsableStart = header.firstUsableLba * disk.sectorSize();
  layout.gptUsableLength =
      header.lastUsableLba >= header.firstUsableLba
          ? (header.lastUsableLba - header.firstUsableLba + 1) * disk.sectorSize()
          : 0;
  layout.gptMaxPartitions = header.entryCount;
  for (const ondisk::GptEntry& partition : table->entries) {
    layout.entries.push_back(EntryOf(partition, disk.sectorSize()));
  }
  NumberPartitions(layout);
  return layout;
}

}  // namespace kestro::posix
