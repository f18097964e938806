// Worker threads that compress an image into independent zstd frames, one frame per job, each
// with its content size and a checksum, handed back in the order the jobs came in.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kestro::cli {

struct CompressedFrame {
  std::vector<uint8_t> bytes;
  uint32_t imageBytes = 0;
  uint32_t checksum = 0;  // as the frame ends with it: the low 32 bits of the XXH64
};

// What the frames queued for compression may hold at most, inputs and outputs together.
inline constexpr size_t kBytesInFlight = 512u << 20;

class ZstdFramePool {
 public:
  // One worker per processor this process may use, compressing at `level` frames of up to
  // `frameBytes`; fewer when the frames queued would hold more than kBytesInFlight.
  ZstdFramePool(int level, size_t frameBytes);
  ~ZstdFramePool();
  ZstdFramePool(const ZstdFramePool&) = delete;
  ZstdFramePool& operator=(const ZstdFramePool&) = delete;

  // How many jobs may wait before the oldest should be taken: enough to keep every worker busy.
  size_t capacity() const { return 2 * workers_.size(); }
  size_t pending() const { return jobs_.size(); }

  // Queues `data` (at most 4 GiB) to become one frame.
  void Submit(std::vector<uint8_t> data);
  // The oldest job's frame, once done; throws Failure when it could not be compressed.
  CompressedFrame TakeOldest();

 private:
  struct Job;
  void Work();

  int level_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Job>> jobs_;    // in submission order, until taken
  std::deque<std::shared_ptr<Job>> queued_;  // not yet started
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace kestro::cli
