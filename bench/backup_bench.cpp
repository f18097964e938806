// The backup loop of the kestro command: reading a volume through its object, writing a sparse
// image and hashing. The command hashes on a second thread while the next block is read and
// written; the inline loop, which hashes between reading and writing, shows what that saves.
//
//   build/release/bench/backup_bench [--benchmark_filter=...]
// The volume is a 256 MiB image of random bytes in $TMPDIR; the first run makes it, so the page
// cache then holds it. Images go to $TMPDIR as well and are discarded unflushed.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <win32/backend.h>

#include "image/image_folder.h"
#include "image/write/sparse_image_writer.h"
#include "support/digest.h"
#include "transfer/block_loops.h"
#include "volume/diagnostics.h"
#include "volume/image_placement.h"

using namespace kestro::cli;

namespace {

constexpr uint64_t kVolumeSize = 256ull << 20;
constexpr size_t kBlock = 4 << 20;

std::string TemporaryFile(const char* name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

const std::string& VolumePath() {
  static const std::string path = [] {
    std::string file = TemporaryFile("kestro-backup-bench.img");
    std::vector<uint64_t> block(kBlock / sizeof(uint64_t));
    std::mt19937_64 random(42);
    const int fd = open(file.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    for (uint64_t at = 0; fd >= 0 && at < kVolumeSize; at += kBlock) {
      for (uint64_t& word : block) word = random();
      if (pwrite(fd, block.data(), kBlock, static_cast<off_t>(at)) < 0) std::abort();
    }
    close(fd);
    return file;
  }();
  return path;
}

HashKind KindOf(const benchmark::State& state) {
  return static_cast<HashKind>(state.range(0));
}

size_t BlockOf(const benchmark::State& state) {
  return static_cast<size_t>(state.range(1));
}

void BM_Digest(benchmark::State& state) {
  std::vector<uint8_t> block(kBlock, 0xA5);
  for (auto _ : state) {
    auto digest = MakeDigest(KindOf(state));
    for (int i = 0; i < 16; ++i) digest->Update(block.data(), block.size());
    benchmark::DoNotOptimize(digest->HexFinal());
  }
  state.SetBytesProcessed(state.iterations() * 16 * static_cast<int64_t>(kBlock));
}
BENCHMARK(BM_Digest)
    ->Arg(static_cast<int>(HashKind::kSha256))
    ->Arg(static_cast<int>(HashKind::kXxh128))
    ->Unit(benchmark::kMillisecond);

void BM_BackupHashingInline(benchmark::State& state) {
  const size_t blockSize = BlockOf(state);
  Volume volume(VolumeArgs{VolumePath(), 0}, OpenOptions{false, blockSize});
  VolumeBytes bytes(volume.object());
  std::vector<uint8_t> block(blockSize);
  const ImageFolder folder(TemporaryFile("kestro-backup-bench-inline.img"));
  for (auto _ : state) {
    SparseImageWriter image(folder, folder.image(), 0600);
    auto digest = MakeDigest(KindOf(state));
    for (uint64_t at = 0; at < volume.size(); at += blockSize) {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(blockSize, volume.size() - at));
      if (bytes.ReadAt(at, block.data(), length) != win32::ERROR_SUCCESS) std::abort();
      digest->Update(block.data(), length);
      image.Write(block.data(), length);
    }
    benchmark::DoNotOptimize(digest->HexFinal());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(volume.size()));
}

void BM_BackupHashingOnASecondThread(benchmark::State& state) {
  const size_t blockSize = BlockOf(state);
  Volume volume(VolumeArgs{VolumePath(), 0}, OpenOptions{false, blockSize});
  ImagePlacement placement(volume, volume.size(), false);
  const LoopSettings settings{volume.name(), blockSize, KindOf(state), nullptr};
  const ImageFolder folder(TemporaryFile("kestro-backup-bench-pipelined.img"));
  for (auto _ : state) {
    SparseImageWriter image(folder, folder.image(), 0600);
    benchmark::DoNotOptimize(ReadIntoImage(placement.segments(), image, settings, nullptr));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(volume.size()));
}

template <typename Benchmark>
void EveryDigest(Benchmark* benchmark) {
  for (HashKind kind : {HashKind::kNone, HashKind::kXxh128, HashKind::kSha256}) {
    for (int64_t block : {256 << 10, 1 << 20, 4 << 20}) {
      benchmark->Args({static_cast<int64_t>(kind), block});
    }
  }
  benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK(BM_BackupHashingInline)->Apply(EveryDigest);
BENCHMARK(BM_BackupHashingOnASecondThread)->Apply(EveryDigest);

}  // namespace

int main(int argc, char** argv) {
  // The library's diagnostic lines would interleave with the results.
  DiagnosticsBackend quiet(win32::DefaultBackend(), false);
  win32::ScopedBackend useQuiet(quiet);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
