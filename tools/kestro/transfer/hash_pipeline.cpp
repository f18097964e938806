#include "transfer/hash_pipeline.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "support/zero_bytes.h"

namespace kestro::cli {
namespace {

constexpr size_t kPageSize = 4096;

uint8_t* AllocateBlock(size_t size) {
  const size_t rounded = (size + kPageSize - 1) / kPageSize * kPageSize;
  void* block = std::aligned_alloc(kPageSize, rounded);
  if (block == nullptr) throw std::bad_alloc();
  return static_cast<uint8_t*>(block);
}

void DigestZeros(Digest& digest, size_t length) {
  for (size_t done = 0; done < length; done += kZeroBytes) {
    digest.Update(ZeroBytes(), std::min(kZeroBytes, length - done));
  }
}

}  // namespace

HashPipeline::HashPipeline(HashKind kind, size_t blockSize, size_t blockCount)
    : digest_(MakeDigest(kind)) {
  for (size_t i = 0; i < blockCount; ++i) {
    storage_.emplace_back(AllocateBlock(blockSize), &std::free);
    free_.push_back(storage_.back().get());
  }
  if (kind != HashKind::kNone) hasher_ = std::thread([this] { HashLoop(); });
}

HashPipeline::~HashPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (hasher_.joinable()) hasher_.join();
}

uint8_t* HashPipeline::Acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !free_.empty(); });
  uint8_t* block = free_.back();
  free_.pop_back();
  return block;
}

void HashPipeline::Submit(uint8_t* block, size_t length) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hasher_.joinable()) {
      free_.push_back(block);
      return;
    }
    filled_.push_back(Filled{block, length});
    ++unhashed_;
  }
  changed_.notify_all();
}

void HashPipeline::SubmitZeros(size_t length) {
  if (!hasher_.joinable()) return;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return filled_.size() < storage_.size(); });
    filled_.push_back(Filled{nullptr, length});
    ++unhashed_;
  }
  changed_.notify_all();
}

std::string HashPipeline::Finish() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return unhashed_ == 0; });
  }
  return digest_->HexFinal();
}

void HashPipeline::HashLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return closing_ || !filled_.empty(); });
    if (filled_.empty()) return;
    const Filled next = filled_.front();
    filled_.pop_front();
    lock.unlock();
    if (next.block) {
      digest_->Update(next.block, next.length);
    } else {
      DigestZeros(*digest_, next.length);
    }
    lock.lock();
    if (next.block) free_.push_back(next.block);
    --unhashed_;
    changed_.notify_all();
  }
}

}  // namespace kestro::cli
