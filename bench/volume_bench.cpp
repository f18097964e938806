// Throughput of reads and writes through a volume object against plain pread/pwrite on the same
// image file, and the cost of a read served from the read-back window against a bare memcpy of
// the same bytes, on one thread and on eight threads each with a volume object of its own.
//
//   build/release/bench/volume_bench [--benchmark_filter=...]
// The image lives in $TMPDIR (256 MiB); the first run fills it, so the page cache then holds it
// and the numbers compare the library's own overhead, not the disk.
#include <Kestro32.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <win32/drive_map.h>

using win32::DWORD;
using win32::FILE_BEGIN;

namespace {

constexpr uint64_t kImageSize = 256ull << 20;
constexpr unsigned kDrive = 2;  // B:
constexpr DWORD kStagingBuffer = 1 << 20;

const std::string& ImagePath() {
  static const std::string path = [] {
    std::string file =
        (std::filesystem::temp_directory_path() / "kestro-volume-bench.img").string();
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
    const int fd = open(file.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    for (uint64_t at = 0; fd >= 0 && at < kImageSize; at += block.size()) {
      if (pwrite(fd, block.data(), block.size(), static_cast<off_t>(at)) < 0) std::abort();
    }
    close(fd);
    kestro::MapDrive('B', file);
    return file;
  }();
  return path;
}

// A volume object on the image, ready for transfers, with a 1 MiB staging buffer.
struct OpenVolume {
  OpenVolume() : volume((ImagePath(), kDrive), 0) {
    volume.Initial(kStagingBuffer);
    if (!volume.m_bReady) std::abort();
  }
  CKestro32 volume;
};

void BM_ReadThroughVolume(benchmark::State& state) {
  OpenVolume open;
  CKestro32& volume = open.volume;
  const DWORD chunk = static_cast<DWORD>(state.range(0));
  std::vector<char> buffer(chunk);
  uint64_t bytes = 0;
  for (auto _ : state) {
    volume.SeekNT(0, FILE_BEGIN);
    DWORD read = 0;
    while (volume.ReadNT(buffer.data(), chunk, &read) == 0 && read > 0) bytes += read;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ReadThroughVolume)
    ->Arg(4096)
    ->Arg(65536)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_PreadBaseline(benchmark::State& state) {
  const int fd = open(ImagePath().c_str(), O_RDONLY | O_CLOEXEC);
  const size_t chunk = static_cast<size_t>(state.range(0));
  std::vector<char> buffer(chunk);
  uint64_t bytes = 0;
  for (auto _ : state) {
    for (uint64_t at = 0; at < kImageSize; at += chunk) {
      bytes += static_cast<uint64_t>(pread(fd, buffer.data(), chunk, static_cast<off_t>(at)));
    }
  }
  close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_PreadBaseline)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

// A seek, then a 512-byte read that the window serves. Threads, when there are several, share
// no object, so nothing should make them wait for one another.
void BM_WindowHit(benchmark::State& state) {
  OpenVolume open;
  CKestro32& volume = open.volume;
  char buffer[512];
  DWORD read = 0;
  volume.ReadNT(buffer, sizeof buffer, &read);
  for (auto _ : state) {
    volume.SeekNT(100, FILE_BEGIN);
    benchmark::DoNotOptimize(volume.ReadNT(buffer, sizeof buffer, &read));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WindowHit);
BENCHMARK(BM_WindowHit)->ThreadRange(1, 8)->UseRealTime();

// The floor a window hit is measured against: the copy it cannot avoid.
void BM_Memcpy512(benchmark::State& state) {
  std::vector<char> source(kStagingBuffer, 0x11);
  char buffer[512];
  for (auto _ : state) {
    benchmark::DoNotOptimize(source.data());
    std::memcpy(buffer, source.data() + 100, sizeof buffer);
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Memcpy512);

void BM_AlignedWriteThroughVolume(benchmark::State& state) {
  OpenVolume open;
  CKestro32& volume = open.volume;
  const DWORD chunk = static_cast<DWORD>(state.range(0));
  std::vector<char> buffer(chunk, 0x5A);
  uint64_t bytes = 0;
  for (auto _ : state) {
    volume.SeekNT(0, FILE_BEGIN);
    for (uint64_t at = 0; at + chunk <= 64ull << 20; at += chunk) {
      bytes += volume.WriteNT(buffer.data(), chunk);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_AlignedWriteThroughVolume)
    ->Arg(65536)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_UnalignedWriteThroughVolume(benchmark::State& state) {
  OpenVolume open;
  CKestro32& volume = open.volume;
  std::vector<char> buffer(4000, 0x33);
  uint64_t bytes = 0;
  for (auto _ : state) {
    volume.SeekNT(100, FILE_BEGIN);
    for (int i = 0; i < 1024; ++i) bytes += volume.WriteNT(buffer.data(), 4000);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_UnalignedWriteThroughVolume)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
