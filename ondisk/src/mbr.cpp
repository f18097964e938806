#include "ondisk/mbr.h"

#include <set>
#include <vector>

#include "ondisk/little_endian.h"

namespace kestro::ondisk {
namespace {

constexpr size_t kBootRecordBytes = 512;
constexpr size_t kDiskSignatureOffset = 440;
constexpr size_t kSlotTableOffset = 446;
constexpr size_t kSlotBytes = 16;
constexpr size_t kBootMarkOffset = 510;

MbrSlot SlotOf(const uint8_t* record, uint64_t recordOffset, unsigned index) {
  const size_t at = kSlotTableOffset + index * kSlotBytes;
  const uint8_t* raw = record + at;
  return MbrSlot{raw[0], raw[4], LittleEndian32(raw + 8), LittleEndian32(raw + 12),
                 recordOffset + at};
}

// Reads the signed boot record at logical sector `sector`, into `bytes` as well.
Result<BootRecord> ReadRecord(const ByteReader& disk, uint32_t sectorSize, uint64_t sector,
                              uint8_t (&bytes)[kBootRecordBytes]) {
  if (sector >= disk.Size() / sectorSize) {
    return Error{Fault::kOutOfRange, "boot record beyond the disk"};
  }
  if (Status read = disk.Read(sector * sectorSize, kBootRecordBytes, bytes); !read.ok()) {
    return read.error();
  }
  if (bytes[kBootMarkOffset] != 0x55 || bytes[kBootMarkOffset + 1] != 0xAA) {
    return Error{Fault::kBadSignature, "boot record without 55 AA"};
  }
  BootRecord record{sector, {}};
  for (unsigned i = 0; i < kSlotsPerRecord; ++i) {
    record.slots[i] = SlotOf(bytes, sector * sectorSize, i);
  }
  return record;
}

uint32_t CheckSumOf(const uint8_t (&record)[kBootRecordBytes]) {
  uint32_t sum = 0;
  for (size_t at = 0; at < kBootRecordBytes; at += 4) sum += LittleEndian32(record + at);
  return 0u - sum;
}

// Sectors that logical partitions already read cover; an extended record inside one would
// have its own data taken for a boot record.
class CoveredSectors {
 public:
  void AddLogicals(const BootRecord& record) {
    for (const MbrSlot& slot : record.slots) {
      if (slot.type != 0 && !IsExtendedType(slot.type) && slot.sectorCount != 0) {
        spans_.push_back({record.sector + slot.firstSector, slot.sectorCount});
      }
    }
  }
  bool Covers(uint64_t sector) const {
    for (const auto& [first, count] : spans_) {
      if (sector >= first && sector - first < count) return true;
    }
    return false;
  }

 private:
  std::vector<std::pair<uint64_t, uint64_t>> spans_;
};

// The next link of an extended record: its first container slot, counted from the chain's base.
std::optional<uint64_t> NextLink(const BootRecord& record, uint64_t base) {
  for (const MbrSlot& slot : record.slots) {
    if (IsExtendedType(slot.type)) return base + slot.firstSector;
  }
  return std::nullopt;
}

// Logical partitions count from their own record; chain links from the outermost container.
std::optional<Error> ReadChain(const ByteReader& disk, uint32_t sectorSize, uint64_t base,
                               std::vector<BootRecord>& chain) {
  std::set<uint64_t> visited;
  CoveredSectors covered;
  std::optional<uint64_t> next = base;
  uint8_t bytes[kBootRecordBytes];
  while (next) {
    if (visited.size() == kMaxExtendedRecords) {
      return Error{Fault::kChainLoop, "too many extended boot records"};
    }
    if (!visited.insert(*next).second) {
      return Error{Fault::kChainLoop, "extended boot record chain loops"};
    }
    if (covered.Covers(*next)) {
      return Error{Fault::kBadValue, "extended boot record inside a logical partition"};
    }
    auto record = ReadRecord(disk, sectorSize, *next, bytes);
    if (!record) return record.error();
    covered.AddLogicals(*record);
    chain.push_back(*record);
    next = NextLink(*record, base);
  }
  return std::nullopt;
}

}  // namespace

bool IsExtendedType(uint8_t type) {
  return type == 0x05 || type == 0x0F;
}

Result<MbrTable> ReadMbr(const ByteReader& disk, uint32_t sectorSize) {
  if (sectorSize < kBootRecordBytes) return Error{Fault::kBadValue, "sector smaller than 512"};
  uint8_t bytes[kBootRecordBytes];
  auto master = ReadRecord(disk, sectorSize, 0, bytes);
  if (!master) return master.error();
  MbrTable table;
  table.diskSignature = LittleEndian32(bytes + kDiskSignatureOffset);
  table.checkSum = CheckSumOf(bytes);
  table.master = *master;
  for (const MbrSlot& slot : master->slots) {
    if (IsExtendedType(slot.type)) {
      table.extendedBase = slot.firstSector;
      break;
    }
  }
  if (table.extendedBase) {
    table.chainError = ReadChain(disk, sectorSize, *table.extendedBase, table.chain);
  }
  return table;
}

}  // namespace kestro::ondisk
