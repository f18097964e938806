// IOCTL_DISK_GET_DRIVE_LAYOUT_EX: the layout record of the disk under a volume or disk handle.
#include <cstddef>

#include "ioctl/drive_layout.h"
#include "ioctl/partition_layout.h"
#include "ioctl/partition_records.h"

namespace kestro::posix {
namespace {

constexpr size_t kHeaderBytes = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);

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

}  // namespace

BOOL AnswerDriveLayout(const OpenObject& object, ControlBuffer& output) {
  auto disk = DiskAccess::Open(object);
  if (!disk) return FALSE;
  auto layout = ReadDiskLayout(*disk);
  if (!layout) return FALSE;
  const size_t bytes = kHeaderBytes + layout->entries.size() * sizeof(PARTITION_INFORMATION_EX);
  if (!output.Require(bytes)) return FALSE;
  // The caller's buffer need not be aligned for the records, so they are copied in bytewise.
  auto* out = static_cast<unsigned char*>(output.data);
  const DRIVE_LAYOUT_INFORMATION_EX header = HeaderOf(*layout);
  std::memcpy(out, &header, kHeaderBytes);
  for (size_t i = 0; i < layout->entries.size(); ++i) {
    const PARTITION_INFORMATION_EX record = PartitionRecordOf(layout->style, layout->entries[i]);
    std::memcpy(out + kHeaderBytes + i * sizeof record, &record, sizeof record);
  }
  output.written = static_cast<DWORD>(bytes);
  return TRUE;
}

}  // namespace kestro::posix
