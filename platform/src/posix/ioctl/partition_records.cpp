#include "ioctl/partition_records.h"

#include <algorithm>

namespace kestro::posix {
namespace {

constexpr uint64_t kTypeOffsetInSlot = 4;

// A disk handle, like Windows' partition 0, stands for the whole disk.
LayoutEntry WholeDisk(uint64_t length) {
  LayoutEntry entry;
  entry.length = length;
  return entry;
}

// The layout entry a volume handle stands for: the partition at the volume's place on its disk,
// or, for a volume that no entry describes, an anonymous one with the volume's extent.
LayoutEntry VolumeEntry(const VolumeTarget& volume, const DiskLayout& layout) {
  auto found = std::find_if(layout.entries.begin(), layout.entries.end(), [&](const auto& entry) {
    return entry.number != 0 && entry.start == volume.diskOffset && entry.length == volume.length;
  });
  if (found != layout.entries.end()) return *found;
  LayoutEntry entry = WholeDisk(volume.length);
  entry.start = volume.diskOffset;
  return entry;
}

}  // namespace

std::optional<PartitionView> ViewPartition(const OpenObject& object) {
  auto disk = DiskAccess::Open(object);
  if (!disk) return std::nullopt;
  auto layout = ReadDiskLayout(*disk);
  if (!layout) return std::nullopt;
  if (object.kind == ObjectKind::kVolume && object.volume) {
    return PartitionView{layout->style, VolumeEntry(*object.volume, *layout)};
  }
  return PartitionView{layout->style, WholeDisk(disk->size())};
}

PARTITION_INFORMATION_EX PartitionRecordOf(PARTITION_STYLE style, const LayoutEntry& entry) {
  PARTITION_INFORMATION_EX record{};
  record.PartitionStyle = style;
  record.StartingOffset.QuadPart = static_cast<LONGLONG>(entry.start);
  record.PartitionLength.QuadPart = static_cast<LONGLONG>(entry.length);
  record.PartitionNumber = entry.number;
  if (style == PARTITION_STYLE_GPT) {
    record.Gpt.PartitionType = entry.gptType;
    record.Gpt.PartitionId = entry.gptId;
    record.Gpt.Attributes = entry.gptAttributes;
    std::copy(entry.gptName.begin(), entry.gptName.end(), record.Gpt.Name);
  } else {
    record.Mbr.PartitionType = entry.mbrType;
    record.Mbr.BootIndicator = entry.bootable;
    record.Mbr.RecognizedPartition = IsRecognizedType(entry.mbrType);
    record.Mbr.HiddenSectors = entry.hiddenSectors;
  }
  return record;
}

PARTITION_INFORMATION LegacyPartitionRecordOf(const LayoutEntry& entry) {
  PARTITION_INFORMATION record{};
  record.StartingOffset.QuadPart = static_cast<LONGLONG>(entry.start);
  record.PartitionLength.QuadPart = static_cast<LONGLONG>(entry.length);
  record.HiddenSectors = entry.hiddenSectors;
  record.PartitionNumber = entry.number;
  record.PartitionType = entry.mbrType;
  record.BootIndicator = entry.bootable;
  record.RecognizedPartition = IsRecognizedType(entry.mbrType);
  return record;
}

BOOL AnswerPartitionInfo(const OpenObject& object, ControlBuffer& output) {
  if (!output.Require(sizeof(PARTITION_INFORMATION))) return FALSE;
  auto view = ViewPartition(object);
  if (!view) return FALSE;
  // The older record has no room for a GPT entry; Windows refuses it on GPT disks.
  if (view->style != PARTITION_STYLE_MBR) return Fail(ERROR_INVALID_FUNCTION);
  return output.Put(LegacyPartitionRecordOf(view->entry));
}

BOOL AnswerPartitionInfoEx(const OpenObject& object, ControlBuffer& output) {
  if (!output.Require(sizeof(PARTITION_INFORMATION_EX))) return FALSE;
  auto view = ViewPartition(object);
  if (!view) return FALSE;
  return output.Put(PartitionRecordOf(view->style, view->entry));
}

BOOL SetPartitionType(const OpenObject& object, const void* input, DWORD inputSize) {
  if (object.kind != ObjectKind::kVolume || !object.volume) return Fail(ERROR_INVALID_FUNCTION);
  if (inputSize < sizeof(SET_PARTITION_INFORMATION)) return Fail(ERROR_BAD_LENGTH);
  auto disk = DiskAccess::Open(object, true);
  if (!disk) return FALSE;
  auto layout = ReadDiskLayout(*disk);
  if (!layout) return FALSE;
  // GPT entries have no type byte, and an unpartitioned disk has no table to hold one.
  const LayoutEntry entry = VolumeEntry(*object.volume, *layout);
  if (layout->style != PARTITION_STYLE_MBR || entry.slotOffset == 0) {
    return Fail(ERROR_INVALID_FUNCTION);
  }
  const BYTE type = static_cast<const SET_PARTITION_INFORMATION*>(input)->PartitionType;
  return disk->WriteAt(&type, 1, entry.slotOffset + kTypeOffsetInSlot) ? TRUE : FALSE;
}

}  // namespace kestro::posix
