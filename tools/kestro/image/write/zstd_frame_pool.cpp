#include "image/write/zstd_frame_pool.h"

#include <sched.h>

#include <zstd.h>

#include <algorithm>

#include <ondisk/little_endian.h>

#include "support/errors.h"

namespace kestro::cli {

struct ZstdFramePool::Job {
  std::vector<uint8_t> input;
  CompressedFrame frame;
  std::string error;
  bool done = false;
};

namespace {

constexpr size_t kChecksumBytes = 4;

// Compresses `input` into one frame at `level` with `context`; the error's text, or "".
std::string CompressFrame(ZSTD_CCtx* context, int level, const std::vector<uint8_t>& input,
                          CompressedFrame& frame) {
  ZSTD_CCtx_reset(context, ZSTD_reset_session_and_parameters);
  size_t result = ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
  if (!ZSTD_isError(result)) result = ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  frame.bytes.resize(ZSTD_compressBound(input.size()));
  if (!ZSTD_isError(result)) {
    result =
        ZSTD_compress2(context, frame.bytes.data(), frame.bytes.size(), input.data(), input.size());
  }
  if (ZSTD_isError(result)) return ZSTD_getErrorName(result);
  frame.bytes.resize(result);
  frame.imageBytes = static_cast<uint32_t>(input.size());
  const uint8_t* tail = frame.bytes.data() + result - kChecksumBytes;
  frame.checksum = ondisk::LittleEndian32(tail);
  return "";
}

// The processors this process may run on, which taskset and cpusets narrow.
size_t UsableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0)
    return static_cast<size_t>(std::max(1, CPU_COUNT(&set)));
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

ZstdFramePool::ZstdFramePool(int level, size_t frameBytes) : level_(level) {
  // Each worker keeps up to two frames queued, each with its input and its output.
  const size_t affordable =
      std::max<size_t>(1, kBytesInFlight / (4 * std::max<size_t>(1, frameBytes)));
  const size_t count = std::min(UsableProcessors(), affordable);
  for (size_t i = 0; i < count; ++i) workers_.emplace_back([this] { Work(); });
}

ZstdFramePool::~ZstdFramePool() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void ZstdFramePool::Submit(std::vector<uint8_t> data) {
  auto job = std::make_shared<Job>();
  job->input = std::move(data);
  {
    const std::lock_guard lock(mutex_);
    jobs_.push_back(job);
    queued_.push_back(job);
  }
  changed_.notify_all();
}

CompressedFrame ZstdFramePool::TakeOldest() {
  std::unique_lock lock(mutex_);
  const std::shared_ptr<Job> job = jobs_.front();
  changed_.wait(lock, [&] { return job->done; });
  jobs_.pop_front();
  if (!job->error.empty()) throw Failure("zstd", "cannot compress a frame: " + job->error);
  return std::move(job->frame);
}

void ZstdFramePool::Work() {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
    if (stopping_) break;
    const std::shared_ptr<Job> job = queued_.front();
    queued_.pop_front();
    lock.unlock();
    try {
      job->error = context == nullptr ? "out of memory"
                                      : CompressFrame(context, level_, job->input, job->frame);
    } catch (const std::exception& e) {
      job->error = e.what();
    }
    job->input = {};
    lock.lock();
    job->done = true;
    changed_.notify_all();
  }
  lock.unlock();
  ZSTD_freeCCtx(context);
}

}  // namespace kestro::cli
