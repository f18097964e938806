// Digests as the checksum tools print them.
#include <support/digest.h>
#include <transfer/hash_pipeline.h>

#include <cstring>
#include <string>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace kestro::cli;
using kestro::testing::Pattern;

namespace {

std::string OneShot(HashKind kind, const std::vector<uint8_t>& data) {
  auto digest = MakeDigest(kind);
  digest->Update(data.data(), data.size());
  return digest->HexFinal();
}

}  // namespace

TEST(Digest, Sha256AndXxh128MatchPublishedValues) {
  const std::string abc = "abc";
  auto sha = MakeDigest(HashKind::kSha256);
  sha->Update(abc.data(), abc.size());
  EXPECT_EQ(sha->HexFinal(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  auto xxh = MakeDigest(HashKind::kXxh128);
  EXPECT_EQ(xxh->HexFinal(), "99aa06d3014798d86001c324468d497f");  // of no bytes
  EXPECT_EQ(MakeDigest(HashKind::kNone)->HexFinal(), "");
}

TEST(Digest, NamesAreTakenInAnyCase) {
  EXPECT_EQ(HashKindNamed("SHA256"), HashKind::kSha256);
  EXPECT_EQ(HashKindNamed("xxh128"), HashKind::kXxh128);
  EXPECT_EQ(HashKindNamed("None"), HashKind::kNone);
  EXPECT_FALSE(HashKindNamed("md5").has_value());
  EXPECT_FALSE(HashKindNamed("sha2566").has_value());
}

// Blocks are refilled as soon as the pipeline hands them back; a block handed back before it was
// hashed, or hashed out of order, changes the digest.
TEST(HashPipeline, DigestsBlocksInOrderWhileTheyAreReused) {
  constexpr size_t kBlock = 64 * 1024;
  const std::vector<uint8_t> data = Pattern(0, 97 * kBlock / 3, 7);
  for (HashKind kind : {HashKind::kSha256, HashKind::kXxh128, HashKind::kNone}) {
    HashPipeline pipeline(kind, kBlock, 3);
    for (size_t offset = 0; offset < data.size(); offset += kBlock) {
      const size_t length = std::min(kBlock, data.size() - offset);
      uint8_t* block = pipeline.Acquire();
      std::memcpy(block, data.data() + offset, length);
      pipeline.Submit(block, length);
    }
    EXPECT_EQ(pipeline.Finish(), OneShot(kind, data));
  }
}

TEST(HashPipeline, StopsCleanlyWithBlocksStillQueued) {
  HashPipeline pipeline(HashKind::kSha256, 4096, 2);
  uint8_t* first = pipeline.Acquire();
  pipeline.Submit(first, 4096);
  pipeline.Acquire();  // taken and never submitted, as when a read fails mid-loop
}

// Zero runs are digested from no block at all, in their place between the blocks around them.
TEST(HashPipeline, DigestsZeroRunsInOrderBetweenBlocks) {
  constexpr size_t kBlock = 64 * 1024;
  const std::vector<uint8_t> block = Pattern(0, kBlock, 8);
  for (HashKind kind : {HashKind::kSha256, HashKind::kXxh128, HashKind::kNone}) {
    HashPipeline pipeline(kind, kBlock, 2);
    std::vector<uint8_t> data;
    for (size_t zeros : {size_t{0}, size_t{1}, kBlock + 5, size_t{3 * kBlock}, size_t{4096}}) {
      uint8_t* filled = pipeline.Acquire();
      std::memcpy(filled, block.data(), kBlock);
      pipeline.Submit(filled, kBlock);
      pipeline.SubmitZeros(zeros);
      data.insert(data.end(), block.begin(), block.end());
      data.resize(data.size() + zeros, 0);
    }
    EXPECT_EQ(pipeline.Finish(), OneShot(kind, data));
  }
}
