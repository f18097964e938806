// Running the built kestro program against the bundled sample disk, unpacked afresh for each test.
#pragma once

#include <cstdint>
#include <string>

#include <fixtures.h>
#include <gtest/gtest.h>

namespace kestro::testing {

// The sample disk's partitions, in bytes (scripts/make-samples.sh lays them out).
struct SamplePartition {
  unsigned number;
  uint64_t offset;
  uint64_t length;
};
inline constexpr SamplePartition kSampleFat{1, 2048ull * 512, 73728ull * 512};
inline constexpr SamplePartition kSampleNtfs{2, 75776ull * 512, 24576ull * 512};

class KestroTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // Runs `kestro <arguments>`; the output holds standard output and standard error.
  static CommandResult Kestro(const std::string& arguments);
  // The same, keeping standard output only.
  static CommandResult KestroOutput(const std::string& arguments);

  // "<disk> --partition N", quoted for the shell.
  std::string Partition(const SamplePartition& partition) const;

  TempDir dir;
  std::string disk;  // the unpacked sample
};

// The SHA-256 of `length` bytes of `path` from `offset`, computed by the coreutils.
std::string Sha256(const std::string& path, uint64_t offset, uint64_t length);
std::string Sha256(const std::string& path);

// Copies `length` bytes of `path` from `offset` into a new file `to` with dd; `sparse` leaves
// holes where 4 KiB blocks are zero, as `conv=sparse` does.
void CopyWithDd(const std::string& path, uint64_t offset, uint64_t length, const std::string& to,
                bool sparse = false);

// Bytes the file occupies on disk.
uint64_t AllocatedBytes(const std::string& path);
uint64_t FileSize(const std::string& path);

std::string ReadFileText(const std::string& path);

// The lines of `text`.
std::vector<std::string> Lines(const std::string& text);

}  // namespace kestro::testing
