// IOCTL_DISK_GET_DRIVE_LAYOUT_EX and IOCTL_DISK_GET_DRIVE_LAYOUT: the layout record of the disk
// under a volume or disk handle.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>

#include "ioctl/drive_layout.h"
#include "ioctl/partition_layout.h"
#include "ioctl/partition_records.h"

namespace kestro::posix {
namespace {

constexpr size_t kHeaderBytes = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
constexpr size_t kLegacyHeaderBytes = offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry);

DRIVE_LAYOUT_INFORMATION_EX HeaderOf(const DiskLayout& layout) {
  DRIVE_LAYOUT_INFORMATION_EX header{};
  header.PartitionStyle = layout.style;
  header.PartitionCount = static_cast<DWORD>(layout.entries.size());
  if (layout.style == PARTITION_STYLE_GPT) {
    header.Gpt.DiskId = layout.gptDiskId;
    header.Gpt.StartingUsableOffset.QuadPart = static_cast<LONGLONG>(layout.gptUsableStart);
    header.Gpt.UsableLength.QuadPart = static_cast<LONGLONG>(layout.gptUsableLength);
    header.Gpt.MaxPartitionCount = layout.gptMaxPartitions;
  } else {
    header.Mbr.Signature = layout.mbrSignature;
    header.Mbr.CheckSum = layout.mbrCheckSum;
  }
  return header;
}

DRIVE_LAYOUT_INFORMATION LegacyHeaderOf(const DiskLayout& layout) {
  DRIVE_LAYOUT_INFORMATION header{};
  header.PartitionCount = static_cast<DWORD>(layout.entries.size());
  header.Signature = layout.mbrSignature;
  return header;
}

// Puts the first `headerBytes` of `header` and then one record per entry into the buffer, which
// need not be aligned for them, so they are copied in bytewise; ERROR_INSUFFICIENT_BUFFER when it
// is smaller than the whole answer or than `minimum`.
template <typename Header, typename RecordOf>
BOOL PutLayout(const Header& header, size_t headerBytes, size_t minimum, const DiskLayout& layout,
               RecordOf recordOf, ControlBuffer& output) {
  using Record = decltype(recordOf(layout.entries.front()));
  const size_t bytes = headerBytes + layout.entries.size() * sizeof(Record);
  if (!output.Require(std::max(bytes, minimum))) return FALSE;
  auto* out = static_cast<unsigned char*>(output.data);
  std::memcpy(out, &header, headerBytes);
  for (size_t i = 0; i < layout.entries.size(); ++i) {
    const Record record = recordOf(layout.entries[i]);
    std::memcpy(out + headerBytes + i * sizeof record, &record, sizeof record);
  }
  output.written = static_cast<DWORD>(bytes);
  return TRUE;
}

std::optional<DiskLayout> LayoutUnder(const OpenObject& object) {
  auto disk = DiskAccess::Open(object);
  if (!disk) return std::nullopt;
  return ReadDiskLayout(*disk);
}

}  // namespace

BOOL AnswerDriveLayout(const OpenObject& object, ControlBuffer& output) {
  auto layout = LayoutUnder(object);
  if (!layout) return FALSE;
  const auto recordOf = [&](const LayoutEntry& entry) {
    return PartitionRecordOf(layout->style, entry);
  };
  return PutLayout(HeaderOf(*layout), kHeaderBytes, 0, *layout, recordOf, output);
}

BOOL AnswerLegacyDriveLayout(const OpenObject& object, ControlBuffer& output) {
  auto layout = LayoutUnder(object);
  if (!layout) return FALSE;
  // The older record has no room for GPT entries; Windows refuses it on GPT disks.
  if (layout->style == PARTITION_STYLE_GPT) return Fail(ERROR_INVALID_FUNCTION);
  return PutLayout(LegacyHeaderOf(*layout), kLegacyHeaderBytes, sizeof(DRIVE_LAYOUT_INFORMATION),
                   *layout, LegacyPartitionRecordOf, output);
}

}  // namespace kestro::posix
