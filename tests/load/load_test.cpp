// Eight threads at once on one image, each through volume objects of its own and copies of them,
// on byte ranges of its own: seeks, reads, writes, copies and assignments, every result checked
// against the thread's reference, and everything each thread reads hashed through the kestro
// command's pipeline as well as directly. Afterwards no write is lost and nothing is left open:
// no handle, no staging buffer, no descriptor.
#include <Kestro32.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <support/digest.h>
#include <fixtures.h>
#include <mapped_drive_test.h>
#include <gtest/gtest.h>
#include <transfer/hash_pipeline.h>
#include <win32/drive_map.h>

#include "counting_backend.h"

using namespace win32;
using kestro::cli::Digest;
using kestro::cli::HashKind;
using kestro::cli::HashPipeline;
using kestro::cli::MakeDigest;
using kestro::testing::CountingBackend;
using kestro::testing::MappedDriveTest;

namespace {

constexpr size_t kThreads = 8;
constexpr int kOperations = 100000;
constexpr unsigned kDrive = 11;  // K:
constexpr DWORD kSector = 512;
// Each thread has two objects opened on their own, each with a range of its own; a range starts
// and ends on sector boundaries, so that no read-modify-write reaches a neighbour's bytes.
constexpr size_t kFamilies = 2;
constexpr uint64_t kRangeBytes = 192 * 1024;
constexpr uint64_t kImageBytes = kThreads * kFamilies * kRangeBytes + 64 * 1024;
constexpr DWORD kBufferSizes[kFamilies] = {8 * 1024, 12 * 1024 + 512};
constexpr size_t kMostCopies = 4;
constexpr size_t kHashBlock = 16 * 1024;

// The process's descriptors open on `path`: every handle on the image holds one.
size_t DescriptorsOn(const std::string& path) {
  size_t count = 0;
  DIR* folder = opendir("/proc/self/fd");
  while (const dirent* entry = folder ? readdir(folder) : nullptr) {
    char target[4096] = {};
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    if (readlink(link.c_str(), target, sizeof target - 1) > 0 && path == target) ++count;
  }
  if (folder) closedir(folder);
  return count;
}

// One object opened on its own and the copies made of it, all on the same range.
struct Family {
  uint64_t start = 0;
  uint64_t end = 0;
  DWORD bufferSize = 0;
  std::vector<CKestro32> objects;
};

class Worker {
 public:
  Worker(size_t thread, const std::vector<uint8_t>& image)
      : rng_(20261208u + thread),
        reference_(image),
        pipeline_(HashKind::kXxh128, kHashBlock),
        direct_(MakeDigest(HashKind::kXxh128)) {
    for (size_t family = 0; family < kFamilies; ++family) {
      Family& f = families_[family];
      f.start = (thread * kFamilies + family) * kRangeBytes;
      f.end = f.start + kRangeBytes;
      f.bufferSize = kBufferSizes[family];
    }
  }

  // Runs the operations; the first that goes wrong ends the run and is returned.
  std::string Run() {
    for (Family& family : families_) {
      family.objects.emplace_back(kDrive, 0);
      if (!family.objects.back().m_bReady) return "the volume did not open";
      family.objects.back().Initial(family.bufferSize);
    }
    for (operation_ = 0; operation_ < kOperations && error_.empty(); ++operation_) Step();
    if (error_.empty() && pipeline_.Finish() != direct_->HexFinal()) {
      error_ = "the pipeline's digest differs from the direct one";
    }
    for (Family& family : families_) family.objects.clear();
    return error_;
  }

  const std::vector<uint8_t>& reference() const { return reference_; }
  uint64_t start() const { return families_[0].start; }
  uint64_t end() const { return families_[kFamilies - 1].end; }

 private:
  void Step() {
    Family& family = families_[Uniform(0, kFamilies - 1)];
    CKestro32& object = family.objects[Uniform(0, family.objects.size() - 1)];
    const uint64_t pick = Uniform(0, 99);
    if (pick < 40) {
      Read(family, object);
    } else if (pick < 70) {
      Write(family, object);
    } else if (pick < 80) {
      Seek(object, Uniform(family.start, family.end));
    } else if (pick < 90) {
      Copy(family, object);
    } else {
      object = family.objects[Uniform(0, family.objects.size() - 1)];
    }
  }

  // A length the staging buffer carries from any offset into a sector.
  DWORD Length(const Family& family) {
    return static_cast<DWORD>(Uniform(1, family.bufferSize - kSector));
  }

  bool Seek(CKestro32& object, uint64_t to) {
    if (object.SeekNT(static_cast<LONGLONG>(to), FILE_BEGIN) != 1 || object.m_llPos != to) {
      Fail("seek to " + std::to_string(to));
      return false;
    }
    return true;
  }

  void Read(const Family& family, CKestro32& object) {
    const DWORD len = Length(family);
    const uint64_t at = Uniform(family.start, family.end - len);
    if (!Seek(object, at)) return;
    bytes_.assign(len, 0);
    DWORD count = 0;
    if (object.ReadNT(bytes_.data(), len, &count) != 0 || count != len ||
        std::memcmp(bytes_.data(), reference_.data() + at, len) != 0) {
      return Fail("read of " + std::to_string(len) + " bytes at " + std::to_string(at));
    }
    uint8_t* block = pipeline_.Acquire();
    std::memcpy(block, bytes_.data(), len);
    pipeline_.Submit(block, len);
    direct_->Update(bytes_.data(), len);
  }

  void Write(const Family& family, CKestro32& object) {
    const DWORD len = Length(family);
    const uint64_t at = Uniform(family.start, family.end - len);
    if (!Seek(object, at)) return;
    bytes_.resize(len);
    for (uint8_t& byte : bytes_) byte = static_cast<uint8_t>(rng_());
    if (object.WriteNT(bytes_.data(), len) != len || object.m_llPos != at + len) {
      return Fail("write of " + std::to_string(len) + " bytes at " + std::to_string(at));
    }
    std::memcpy(reference_.data() + at, bytes_.data(), len);
  }

  // A new copy of the object while the family is small, otherwise one copy fewer.
  void Copy(Family& family, const CKestro32& object) {
    if (family.objects.size() < kMostCopies) {
      family.objects.push_back(object);
    } else {
      family.objects.erase(family.objects.begin() +
                           static_cast<std::ptrdiff_t>(Uniform(0, family.objects.size() - 1)));
    }
  }

  void Fail(const std::string& what) {
    error_ = what + " went wrong in operation " + std::to_string(operation_);
  }

  uint64_t Uniform(uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(rng_);
  }

  std::mt19937_64 rng_;
  std::vector<uint8_t> reference_;
  Family families_[kFamilies];
  HashPipeline pipeline_;
  std::unique_ptr<Digest> direct_;
  std::vector<uint8_t> bytes_;
  int operation_ = 0;
  std::string error_;
};

using Load = MappedDriveTest;

TEST_F(Load, EightThreadsOnOneImageLoseNoWriteAndLeaveNothingOpen) {
  const std::string image = dir.File("load.img");
  std::vector<uint8_t> bytes = kestro::testing::Pattern(0, kImageBytes, 20261208);
  bytes[510] = 0;  // no boot signature: nothing takes the bytes for a file system
  kestro::testing::CreateSparseFile(image, kImageBytes);
  kestro::testing::WriteBytes(image, 0, bytes);
  ASSERT_TRUE(kestro::MapDrive('K', image));
  const std::string opened = std::filesystem::canonical(image);
  {
    CKestro32 probe(kDrive, 0);
    ASSERT_GT(DescriptorsOn(opened), 0u) << "open handles cannot be seen on " << opened;
  }

  CountingBackend counting(DefaultBackend());
  {
    ScopedBackend useCounting(counting);
    std::vector<std::unique_ptr<Worker>> workers;
    for (size_t thread = 0; thread < kThreads; ++thread) {
      workers.push_back(std::make_unique<Worker>(thread, bytes));
    }
    std::vector<std::string> errors(kThreads);
    std::vector<std::thread> threads;
    for (size_t thread = 0; thread < kThreads; ++thread) {
      threads.emplace_back([&, thread] { errors[thread] = workers[thread]->Run(); });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t thread = 0; thread < kThreads; ++thread) {
      EXPECT_EQ(errors[thread], "") << "thread " << thread;
      const Worker& worker = *workers[thread];
      std::copy(worker.reference().begin() + static_cast<std::ptrdiff_t>(worker.start()),
                worker.reference().begin() + static_cast<std::ptrdiff_t>(worker.end()),
                bytes.begin() + static_cast<std::ptrdiff_t>(worker.start()));
    }
  }
  kestro::UnmapDrive('K');

  EXPECT_TRUE(kestro::testing::ReadBytes(image, 0, kImageBytes) == bytes) << "a write was lost";
  EXPECT_EQ(counting.OpenHandles(), 0);
  EXPECT_EQ(counting.LiveAllocations(), 0);
  EXPECT_EQ(counting.RefusedReleases(), 0);
  EXPECT_EQ(DescriptorsOn(opened), 0u);
}

}  // namespace
