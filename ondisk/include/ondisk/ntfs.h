// NTFS: the boot sector, MFT records (fixups and attributes), data runs and the cluster bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ondisk/allocation.h"
#include "ondisk/byte_reader.h"
#include "ondisk/errors.h"

namespace kestro::ondisk {

inline constexpr size_t kNtfsBootSectorSize = 512;

struct NtfsBootSector {
  uint32_t bytesPerSector = 0;
  uint32_t clusterBytes = 0;
  uint64_t clusterCount = 0;
  uint64_t mftCluster = 0;
  uint32_t recordBytes = 0;  // of one MFT record
  uint64_t sectorCount = 0;
  uint64_t mftMirrorCluster = 0;
  uint64_t serialNumber = 0;
};

// Reads the boot sector of a volume `volumeLength` bytes long; an error unless its sizes are in
// range and its clusters and MFT lie inside the volume.
Result<NtfsBootSector> ParseNtfsBootSector(std::span<const uint8_t, kNtfsBootSectorSize> sector,
                                           uint64_t volumeLength);

// The size in bytes of an MFT record or index block as the boot sector codes it: clusters when
// positive, a power of two in bytes when negative; 0 for a code that gives no size.
uint64_t NtfsRecordBytes(int8_t code, uint64_t clusterBytes);

// Checks a "FILE" record's update sequence and puts back the bytes it stood in for at the end
// of each 512-byte block; a torn write fails the check.
Status ApplyFixups(std::span<uint8_t> record);

// `length` clusters of an attribute from virtual cluster `vcn`, at logical cluster `lcn` unless
// sparse.
struct DataRun {
  uint64_t vcn = 0;
  uint64_t lcn = 0;
  uint64_t length = 0;
  bool sparse = false;
};

// Decodes a mapping-pairs array; every run must lie inside `clusterCount` clusters and the
// runs together may not be longer than the volume.
Result<std::vector<DataRun>> DecodeRuns(std::span<const uint8_t> pairs, uint64_t clusterCount);

// An attribute's value: its bytes when resident, its runs otherwise.
struct AttributeData {
  bool isResident = false;
  std::vector<uint8_t> resident;
  std::vector<DataRun> runs;
  uint64_t dataSize = 0;
  uint64_t initializedSize = 0;
};

inline constexpr uint32_t kDataAttribute = 0x80;

// Walks the attributes of a record whose fixups have been applied and decodes the first
// unnamed one of `type`.
Result<AttributeData> FindUnnamedAttribute(std::span<const uint8_t> record, uint32_t type,
                                           uint64_t clusterCount);

// Reads the cluster bitmap ($Bitmap) through the MFT: set bits are allocated clusters, counted
// from 0; bits past the last cluster are ignored.
Result<AllocationMap> ReadNtfsAllocation(const ByteReader& volume, RunDetail detail);

}  // namespace kestro::ondisk
