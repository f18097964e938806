#include "ondisk/little_endian.h"
#include "ondisk/ntfs.h"

namespace kestro::ondisk {

// Each run gives its length, and its start as a signed distance from the previous run's start,
// with sizes given by the header byte's two nibbles.
Result<std::vector<DataRun>> DecodeRuns(std::span<const uint8_t> pairs, uint64_t clusterCount) {
  std::vector<DataRun> runs;
  uint64_t vcn = 0;
  int64_t lcn = 0;
  size_t at = 0;
  while (at < pairs.size() && pairs[at] != 0) {
    const size_t lengthSize = pairs[at] & 0x0F;
    const size_t offsetSize = pairs[at] >> 4;
    if (lengthSize == 0 || lengthSize > 8 || offsetSize > 8 ||
        pairs.size() - at - 1 < lengthSize + offsetSize) {
      return Error{Fault::kBadValue, "mapping pair header out of range"};
    }
    DataRun run{vcn, 0, LittleEndian(&pairs[at + 1], lengthSize), offsetSize == 0};
    if (run.length == 0 || run.length > clusterCount - vcn) {
      return Error{Fault::kOutOfRange, "runs longer than the volume"};
    }
    if (!run.sparse) {
      if (__builtin_add_overflow(lcn, SignedLittleEndian(&pairs[at + 1 + lengthSize], offsetSize),
                                 &lcn) ||
          lcn < 0 || static_cast<uint64_t>(lcn) > clusterCount - run.length) {
        return Error{Fault::kOutOfRange, "run beyond the volume"};
      }
      run.lcn = static_cast<uint64_t>(lcn);
    }
    runs.push_back(run);
    vcn += run.length;
    at += 1 + lengthSize + offsetSize;
  }
  return runs;
}

}  // namespace kestro::ondisk
