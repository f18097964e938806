// The on-disk parsers over fuzzed bytes: whole images (boot sectors, the FAT walk, the NTFS
// $Bitmap through the MFT, MBR and EBR chains, GPT), single MFT records and data-run arrays.
// Whatever they accept must add up: allocation maps cover the volume exactly, runs stay inside it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <ondisk/fat.h>
#include <ondisk/gpt.h>
#include <ondisk/mbr.h>
#include <ondisk/ntfs.h>

#include "require.h"
#include "sparse_image.h"

using namespace kestro::ondisk;
using kestro::fuzz::Require;
using kestro::fuzz::SparseImage;

namespace {

constexpr uint64_t kRecordClusters = 1u << 20;
constexpr uint32_t kBitmapAttribute = 0xB0;

// Allocated runs in order, apart, inside clusters [first, first + count), adding up with the
// free ones to the whole volume.
void CheckAllocation(const Result<AllocationMap>& map, uint64_t first) {
  if (!map.ok()) return;
  uint64_t allocated = 0;
  uint64_t end = first;
  for (const ClusterRun& run : map->allocated) {
    Require(run.count > 0 && run.first >= end && (allocated == 0 || run.first > end));
    end = run.first + run.count;
    allocated += run.count;
  }
  Require(end <= first + map->clusterCount);
  Require(allocated + map->freeClusters == map->clusterCount);
}

void ParseImage(std::span<const uint8_t> input) {
  const SparseImage image(input);
  uint8_t sector[kBootSectorSize];
  Require(image.Read(0, sizeof sector, sector).ok());
  const std::span<const uint8_t, kBootSectorSize> boot(sector);
  (void)ParseFatBootSector(boot);
  (void)ParseNtfsBootSector(boot, image.Size());
  CheckAllocation(ReadFatAllocation(image, RunDetail::kAllocatedRuns), 2);
  CheckAllocation(ReadNtfsAllocation(image, RunDetail::kAllocatedRuns), 0);
  for (const uint32_t sectorSize : {512u, 4096u}) {
    (void)ReadMbr(image, sectorSize);
    if (const auto gpt = ReadGpt(image, sectorSize); gpt.ok()) {
      for (const GptEntry& entry : gpt->entries) Require(entry.firstLba <= entry.lastLba);
    }
  }
}

void CheckRuns(const Result<std::vector<DataRun>>& runs, uint64_t clusterCount) {
  if (!runs.ok()) return;
  for (const DataRun& run : *runs) {
    Require(run.sparse || (run.lcn <= clusterCount && run.length <= clusterCount - run.lcn));
  }
}

void ParseRecord(std::span<const uint8_t> input) {
  std::vector<uint8_t> record(input.begin(), input.end());
  if (!ApplyFixups(record).ok()) return;
  for (const uint32_t type : {kDataAttribute, kBitmapAttribute}) {
    const auto attribute = FindUnnamedAttribute(record, type, kRecordClusters);
    if (attribute.ok()) CheckRuns(attribute->runs, kRecordClusters);
  }
}

// The volume's cluster count in the first four bytes, the mapping pairs after them.
void DecodeRunArray(std::span<const uint8_t> input) {
  if (input.size() < 4) return;
  uint64_t clusterCount = 0;
  for (size_t i = 0; i < 4; ++i) clusterCount = clusterCount << 8 | input[i];
  CheckRuns(DecodeRuns(input.subspan(4), clusterCount), clusterCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> rest(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      ParseImage(rest);
      break;
    case 1:
      ParseRecord(rest);
      break;
    default:
      DecodeRunArray(rest);
  }
  return 0;
}
