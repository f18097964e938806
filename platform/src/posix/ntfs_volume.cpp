#include "ntfs_volume.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>
#include <vector>

#include "little_endian.h"

namespace kestro::posix {
namespace {

constexpr size_t kBootSectorBytes = 512;
constexpr char kOemId[8] = {'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
constexpr uint32_t kMaxClusterBytes = 2u << 20;
constexpr uint32_t kFixupStride = 512;  // the update sequence guards every 512 bytes
constexpr uint32_t kMinRecordBytes = 512;
constexpr uint32_t kMaxRecordBytes = 64 * 1024;
constexpr uint64_t kMftRecord = 0;
constexpr uint64_t kBitmapRecord = 6;
constexpr uint32_t kDataAttribute = 0x80;
constexpr uint32_t kEndOfAttributes = 0xFFFFFFFF;
constexpr uint16_t kCompressedOrEncrypted = 0x0001 | 0x4000;
constexpr size_t kChunkBytes = 1 << 20;

struct NtfsBoot {
  uint32_t clusterBytes = 0;
  uint64_t clusterCount = 0;
  uint64_t mftCluster = 0;
  uint32_t recordBytes = 0;
};

struct Run {
  uint64_t vcn = 0;
  uint64_t lcn = 0;
  uint64_t length = 0;  // clusters
  bool sparse = false;
};

// The unnamed $DATA attribute of a record: its bytes when resident, its runs otherwise.
struct DataAttribute {
  std::vector<uint8_t> resident;
  std::vector<Run> runs;
  bool isResident = false;
  uint64_t dataSize = 0;
  uint64_t initializedSize = 0;
};

bool IsPowerOfTwo(uint64_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

std::optional<NtfsBoot> ParseBootSector(const uint8_t* boot, uint64_t volumeLength) {
  if (std::memcmp(boot + 3, kOemId, sizeof kOemId) != 0) return std::nullopt;
  const uint64_t bytesPerSector = LittleEndian(boot + 11, 2);
  // Sectors per cluster above 0x80 are a negative power of two.
  const uint8_t rawSectorsPerCluster = boot[13];
  const uint64_t sectorsPerCluster = rawSectorsPerCluster <= 0x80
                                         ? rawSectorsPerCluster
                                         : uint64_t{1} << std::min(256 - rawSectorsPerCluster, 31);
  const uint64_t totalSectors = LittleEndian(boot + 40, 8);
  if (bytesPerSector < 256 || bytesPerSector > 4096 || !IsPowerOfTwo(bytesPerSector) ||
      !IsPowerOfTwo(sectorsPerCluster) || bytesPerSector * sectorsPerCluster > kMaxClusterBytes) {
    return std::nullopt;
  }
  NtfsBoot parsed;
  parsed.clusterBytes = static_cast<uint32_t>(bytesPerSector * sectorsPerCluster);
  parsed.clusterCount = totalSectors / sectorsPerCluster;
  parsed.mftCluster = LittleEndian(boot + 48, 8);
  // A positive record size counts clusters, a negative one is a power of two in bytes.
  const auto rawRecordSize = static_cast<int8_t>(boot[64]);
  const uint64_t recordBytes = rawRecordSize > 0     ? uint64_t(rawRecordSize) * parsed.clusterBytes
                               : -rawRecordSize < 32 ? uint64_t{1} << -rawRecordSize
                                                     : 0;
  if (recordBytes < kMinRecordBytes || recordBytes > kMaxRecordBytes ||
      !IsPowerOfTwo(recordBytes) || parsed.clusterCount == 0 ||
      parsed.clusterCount > volumeLength / parsed.clusterBytes ||
      parsed.mftCluster >= parsed.clusterCount) {
    return std::nullopt;
  }
  parsed.recordBytes = static_cast<uint32_t>(recordBytes);
  return parsed;
}

// Puts back the bytes the update sequence array stood in for at the end of each 512-byte block,
// after checking that every block carries the sequence number (a torn write would not).
bool ApplyFixups(std::vector<uint8_t>& record) {
  if (std::memcmp(record.data(), "FILE", 4) != 0) return false;
  const size_t arrayOffset = LittleEndian(record.data() + 4, 2);
  const size_t arrayCount = LittleEndian(record.data() + 6, 2);
  const size_t blocks = record.size() / kFixupStride;
  if (arrayCount != blocks + 1 || arrayOffset + arrayCount * 2 > record.size()) return false;
  const uint8_t* array = record.data() + arrayOffset;
  for (size_t block = 0; block < blocks; ++block) {
    uint8_t* tail = record.data() + (block + 1) * kFixupStride - 2;
    if (std::memcmp(tail, array, 2) != 0) return false;
    std::memcpy(tail, array + 2 * (block + 1), 2);
  }
  return true;
}

int64_t SignedLittleEndian(const uint8_t* bytes, size_t width) {
  const uint64_t value = LittleEndian(bytes, width);
  const unsigned shift = static_cast<unsigned>(64 - 8 * width);
  return static_cast<int64_t>(value << shift) >> shift;
}

// Decodes a mapping-pairs array: each run's length, and its start as a signed distance from the
// previous run's start, with sizes given by the header byte's two nibbles. The attributes read
// here (the MFT's and the bitmap's data) are never longer than the volume, so neither is any
// run list accepted.
std::optional<std::vector<Run>> DecodeRuns(std::span<const uint8_t> pairs, uint64_t clusterCount) {
  std::vector<Run> runs;
  uint64_t vcn = 0;
  int64_t lcn = 0;
  size_t at = 0;
  while (at < pairs.size() && pairs[at] != 0) {
    const size_t lengthSize = pairs[at] & 0x0F;
    const size_t offsetSize = pairs[at] >> 4;
    if (lengthSize == 0 || lengthSize > 8 || offsetSize > 8 ||
        pairs.size() - at - 1 < lengthSize + offsetSize) {
      return std::nullopt;
    }
    Run run{vcn, 0, LittleEndian(&pairs[at + 1], lengthSize), offsetSize == 0};
    if (run.length == 0 || run.length > clusterCount - vcn) return std::nullopt;
    if (!run.sparse) {
      if (__builtin_add_overflow(lcn, SignedLittleEndian(&pairs[at + 1 + lengthSize], offsetSize),
                                 &lcn) ||
          lcn < 0 || static_cast<uint64_t>(lcn) > clusterCount - run.length) {
        return std::nullopt;
      }
      run.lcn = static_cast<uint64_t>(lcn);
    }
    runs.push_back(run);
    vcn += run.length;
    at += 1 + lengthSize + offsetSize;
  }
  return runs;
}

// Reads `length` bytes at byte `offset` of a non-resident attribute; sparse runs read as zeros.
bool ReadRuns(const VolumeWindow& volume, const NtfsBoot& boot, const DataAttribute& data,
              uint64_t offset, uint8_t* out, size_t length) {
  while (length > 0) {
    const uint64_t vcn = offset / boot.clusterBytes;
    auto run = std::find_if(data.runs.begin(), data.runs.end(),
                            [&](const Run& r) { return vcn >= r.vcn && vcn - r.vcn < r.length; });
    if (run == data.runs.end()) return false;
    const uint64_t runEnd = (run->vcn + run->length) * boot.clusterBytes;
    // Bytes past the initialized size hold whatever the clusters held before; they read as 0.
    const uint64_t pieceEnd =
        offset < data.initializedSize ? std::min(runEnd, data.initializedSize) : runEnd;
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(length, pieceEnd - offset));
    if (run->sparse || offset >= data.initializedSize) {
      std::memset(out, 0, piece);
    } else if (!volume.Read(run->lcn * boot.clusterBytes + (offset - run->vcn * boot.clusterBytes),
                            out, piece)) {
      return false;
    }
    offset += piece;
    out += piece;
    length -= piece;
  }
  return true;
}

std::optional<DataAttribute> ParseDataAttribute(const uint8_t* attribute, size_t length,
                                                uint64_t clusterCount) {
  DataAttribute data;
  data.isResident = attribute[8] == 0;
  if (data.isResident) {
    if (length < 24) return std::nullopt;
    const size_t valueLength = LittleEndian32(attribute + 16);
    const size_t valueOffset = LittleEndian(attribute + 20, 2);
    if (valueOffset > length || valueLength > length - valueOffset) return std::nullopt;
    data.resident.assign(attribute + valueOffset, attribute + valueOffset + valueLength);
    data.dataSize = data.initializedSize = valueLength;
    return data;
  }
  if (length < 64) return std::nullopt;
  const size_t pairsOffset = LittleEndian(attribute + 32, 2);
  const uint16_t flags = static_cast<uint16_t>(LittleEndian(attribute + 12, 2));
  // An attribute list spreads a huge $DATA over several records (its first VCN is then not 0);
  // a compressed or encrypted one cannot be read as plain runs. Neither happens to $Bitmap.
  if (LittleEndian(attribute + 16, 8) != 0 || pairsOffset > length ||
      (flags & kCompressedOrEncrypted)) {
    return std::nullopt;
  }
  data.dataSize = LittleEndian(attribute + 48, 8);
  data.initializedSize = LittleEndian(attribute + 56, 8);
  auto runs = DecodeRuns({attribute + pairsOffset, length - pairsOffset}, clusterCount);
  if (!runs) return std::nullopt;
  data.runs = std::move(*runs);
  return data;
}

// Finds the unnamed $DATA attribute of a record whose fixups have been applied.
std::optional<DataAttribute> FindData(const std::vector<uint8_t>& record, uint64_t clusterCount) {
  const size_t inUse = std::min<size_t>(LittleEndian32(record.data() + 24), record.size());
  size_t at = LittleEndian(record.data() + 20, 2);
  while (at <= inUse && inUse - at >= 16) {
    const uint32_t type = LittleEndian32(record.data() + at);
    if (type == kEndOfAttributes) break;
    const size_t length = LittleEndian32(record.data() + at + 4);
    if (length < 16 || length > inUse - at) return std::nullopt;
    const bool unnamed = record[at + 9] == 0;
    if (type == kDataAttribute && unnamed) {
      return ParseDataAttribute(record.data() + at, length, clusterCount);
    }
    at += length;
  }
  return std::nullopt;
}

// Reads MFT record `number`, through the MFT's own runs once they are known.
std::optional<std::vector<uint8_t>> ReadRecord(const VolumeWindow& volume, const NtfsBoot& boot,
                                               const DataAttribute* mft, uint64_t number) {
  std::vector<uint8_t> record(boot.recordBytes);
  const uint64_t offset = number * boot.recordBytes;
  const bool read =
      mft ? offset + record.size() <= mft->dataSize &&
                ReadRuns(volume, boot, *mft, offset, record.data(), record.size())
          : volume.Read(boot.mftCluster * boot.clusterBytes + offset, record.data(), record.size());
  if (!read || !ApplyFixups(record)) return std::nullopt;
  return record;
}

// Counts the clear bits among the first `clusterCount` bits of the bitmap.
std::optional<uint64_t> CountClearBits(const VolumeWindow& volume, const NtfsBoot& boot,
                                       const DataAttribute& bitmap) {
  const uint64_t bytes = (boot.clusterCount + 7) / 8;
  if (bitmap.dataSize < bytes) return std::nullopt;
  std::vector<uint8_t> chunk(kChunkBytes);
  uint64_t clear = 0;
  for (uint64_t at = 0; at < bytes; at += kChunkBytes) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kChunkBytes, bytes - at));
    if (bitmap.isResident) {
      std::memcpy(chunk.data(), bitmap.resident.data() + at, length);
    } else if (!ReadRuns(volume, boot, bitmap, at, chunk.data(), length)) {
      return std::nullopt;
    }
    for (size_t i = 0; i < length; ++i) clear += 8 - std::popcount(chunk[i]);
  }
  // Bits past the last cluster pad the final byte; they are not clusters.
  const unsigned padding = static_cast<unsigned>(bytes * 8 - boot.clusterCount);
  const uint8_t last = chunk[(bytes - 1) % kChunkBytes];
  clear -= padding - std::popcount(static_cast<uint8_t>(last >> (8 - padding)));
  return clear;
}

}  // namespace

std::optional<VolumeSpace> CountNtfsSpace(const VolumeWindow& volume) {
  uint8_t sector[kBootSectorBytes];
  if (!volume.Read(0, sector, sizeof sector)) return std::nullopt;
  const auto boot = ParseBootSector(sector, volume.length());
  if (!boot) return std::nullopt;
  const auto mftRecord = ReadRecord(volume, *boot, nullptr, kMftRecord);
  const auto mft = mftRecord ? FindData(*mftRecord, boot->clusterCount) : std::nullopt;
  if (!mft || mft->isResident) return std::nullopt;
  const auto bitmapRecord = ReadRecord(volume, *boot, &*mft, kBitmapRecord);
  const auto bitmap = bitmapRecord ? FindData(*bitmapRecord, boot->clusterCount) : std::nullopt;
  if (!bitmap) return std::nullopt;
  const auto clear = CountClearBits(volume, *boot, *bitmap);
  if (!clear) return std::nullopt;
  return VolumeSpace{boot->clusterCount * boot->clusterBytes, *clear * boot->clusterBytes,
                     boot->clusterBytes};
}

}  // namespace kestro::posix
