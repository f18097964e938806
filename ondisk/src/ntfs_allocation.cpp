// The MFT maps itself in record 0; record 6 ($Bitmap) holds the cluster bitmap.
#include <algorithm>
#include <cstring>

#include "ondisk/ntfs.h"

namespace kestro::ondisk {
namespace {

constexpr uint64_t kMftRecord = 0;
constexpr uint64_t kBitmapRecord = 6;
constexpr size_t kChunkBytes = 1 << 20;

// Reads `length` bytes at byte `offset` of a non-resident attribute; sparse runs, and bytes past
// the initialized size (they hold whatever the clusters held before), read as zeros.
Status ReadRuns(const ByteReader& volume, uint64_t clusterBytes, const AttributeData& data,
                uint64_t offset, uint8_t* out, size_t length) {
  while (length > 0) {
    const uint64_t vcn = offset / clusterBytes;
    auto run = std::find_if(data.runs.begin(), data.runs.end(), [&](const DataRun& r) {
      return vcn >= r.vcn && vcn - r.vcn < r.length;
    });
    if (run == data.runs.end()) return Error{Fault::kOutOfRange, "read past the attribute's runs"};
    const uint64_t runEnd = (run->vcn + run->length) * clusterBytes;
    const uint64_t pieceEnd =
        offset < data.initializedSize ? std::min(runEnd, data.initializedSize) : runEnd;
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(length, pieceEnd - offset));
    if (run->sparse || offset >= data.initializedSize) {
      std::memset(out, 0, piece);
    } else if (Status read = volume.Read(
                   run->lcn * clusterBytes + (offset - run->vcn * clusterBytes), piece, out);
               !read.ok()) {
      return read;
    }
    offset += piece;
    out += piece;
    length -= piece;
  }
  return {};
}

// Reads MFT record `number` with its fixups applied, through the MFT's own runs once known.
Result<std::vector<uint8_t>> ReadRecord(const ByteReader& volume, const NtfsBootSector& boot,
                                        const AttributeData* mft, uint64_t number) {
  std::vector<uint8_t> record(boot.recordBytes);
  const uint64_t offset = number * boot.recordBytes;
  if (mft && offset + record.size() > mft->dataSize) {
    return Error{Fault::kOutOfRange, "MFT record beyond the MFT"};
  }
  Status read =
      mft ? ReadRuns(volume, boot.clusterBytes, *mft, offset, record.data(), record.size())
          : volume.Read(boot.mftCluster * boot.clusterBytes + offset, record.size(), record.data());
  if (!read.ok()) return read.error();
  if (Status fixed = ApplyFixups(record); !fixed.ok()) return fixed.error();
  return record;
}

Result<AttributeData> ReadData(const ByteReader& volume, const NtfsBootSector& boot,
                               const AttributeData* mft, uint64_t number) {
  const auto record = ReadRecord(volume, boot, mft, number);
  if (!record) return record.error();
  return FindUnnamedAttribute(*record, kDataAttribute, boot.clusterCount);
}

// Reports the bits of one bitmap byte, whole bytes of one value as a single stretch.
void AddByte(uint8_t bits, uint64_t first, uint64_t count, AllocationTally& tally) {
  if (count == 8 && (bits == 0 || bits == 0xFF)) {
    tally.Add(first, 8, bits != 0);
    return;
  }
  for (unsigned bit = 0; bit < count; ++bit) tally.Add(first + bit, 1, (bits >> bit) & 1);
}

Status WalkBitmap(const ByteReader& volume, const NtfsBootSector& boot, const AttributeData& bitmap,
                  AllocationTally& tally) {
  const uint64_t bytes = (boot.clusterCount + 7) / 8;
  if (bitmap.dataSize < bytes) return Error{Fault::kBadValue, "bitmap shorter than the volume"};
  std::vector<uint8_t> chunk(kChunkBytes);
  for (uint64_t at = 0; at < bytes; at += kChunkBytes) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kChunkBytes, bytes - at));
    if (bitmap.isResident) {
      std::memcpy(chunk.data(), bitmap.resident.data() + at, length);
    } else if (Status read = ReadRuns(volume, boot.clusterBytes, bitmap, at, chunk.data(), length);
               !read.ok()) {
      return read;
    }
    for (size_t i = 0; i < length; ++i) {
      const uint64_t first = (at + i) * 8;
      AddByte(chunk[i], first, std::min<uint64_t>(8, boot.clusterCount - first), tally);
    }
  }
  return {};
}

}  // namespace

Result<AllocationMap> ReadNtfsAllocation(const ByteReader& volume, RunDetail detail) {
  uint8_t sector[kNtfsBootSectorSize];
  if (Status read = volume.Read(0, sizeof sector, sector); !read.ok()) return read.error();
  const auto boot = ParseNtfsBootSector(sector, volume.Size());
  if (!boot) return boot.error();
  const auto mft = ReadData(volume, *boot, nullptr, kMftRecord);
  if (!mft) return mft.error();
  if (mft->isResident) return Error{Fault::kBadValue, "resident MFT data"};
  const auto bitmap = ReadData(volume, *boot, &*mft, kBitmapRecord);
  if (!bitmap) return bitmap.error();
  AllocationTally tally(detail);
  if (Status walked = WalkBitmap(volume, *boot, *bitmap, tally); !walked.ok()) {
    return walked.error();
  }
  return tally.Finish(boot->clusterBytes, boot->clusterCount);
}

}  // namespace kestro::ondisk
