#include "read_ahead.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace kestro::posix {
namespace {

// Reads of this size range are read ahead: smaller ones are not worth a thread's hand-off, and
// the largest bounds the memory the blocks take.
constexpr size_t kSmallestBlock = size_t{64} << 10;
constexpr size_t kLargestBlock = size_t{4} << 20;
constexpr size_t kReaders = 4;
constexpr size_t kAlignment = 4096;

std::atomic<uint64_t> finishedWrites{0};

bool Worth(size_t size) {
  return size >= kSmallestBlock && size <= kLargestBlock;
}

}  // namespace

void NoteWrite() {
  finishedWrites.fetch_add(1, std::memory_order_acq_rel);
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& reader : readers_) reader.join();
}

bool ReadAhead::Take(void* buffer, size_t size, uint64_t offset) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool continues = offset == expected_ && Worth(size);
  expected_ = offset + size;
  if (!continues || readersFailed_) {
    Discard();
    return false;
  }
  const bool served = Serve(lock, buffer, size, offset);
  if (ahead_.empty()) next_ = offset + size;
  Schedule(size);
  return served;
}

// Takes the first block wanted when it holds the read's bytes; otherwise drops every block
// wanted, which no longer follow the reads.
bool ReadAhead::Serve(std::unique_lock<std::mutex>& lock, void* buffer, size_t size,
                      uint64_t offset) {
  if (ahead_.empty()) return false;
  Block* block = ahead_.front();
  if (block->offset != offset || block->size != size) {
    Discard();
    return false;
  }
  finished_.wait(lock, [block] { return block->state == State::kDone; });
  ahead_.pop_front();
  const bool whole = block->result == static_cast<ssize_t>(size) &&
                     block->writesBefore == finishedWrites.load(std::memory_order_acquire);
  if (!whole) {
    block->state = State::kFree;
    Discard();
    return false;
  }
  block->state = State::kTaken;
  lock.unlock();
  std::memcpy(buffer, block->bytes.get(), size);
  lock.lock();
  block->state = State::kFree;
  return true;
}

void ReadAhead::Discard() {
  for (Block* block : ahead_) {
    if (block->state == State::kReading) {
      block->abandoned = true;
    } else {
      block->state = State::kFree;
    }
  }
  ahead_.clear();
}

void ReadAhead::Schedule(size_t size) {
  bool added = false;
  while (end_ >= size && next_ <= end_ - size) {
    Block* block = FreeBlock();
    if (block == nullptr) break;
    block->state = State::kQueued;
    block->offset = next_;
    block->size = size;
    ahead_.push_back(block);
    next_ += size;
    added = true;
  }
  if (!added) return;
  StartReaders();
  queued_.notify_all();
}

ReadAhead::Block* ReadAhead::FreeBlock() {
  for (Block& block : blocks_) {
    if (block.state != State::kFree) continue;
    if (!block.bytes) {
      void* memory = std::aligned_alloc(kAlignment, kLargestBlock);
      if (memory == nullptr) return nullptr;
      block.bytes = {static_cast<uint8_t*>(memory), &std::free};
    }
    return &block;
  }
  return nullptr;
}

ReadAhead::Block* ReadAhead::FirstQueued() {
  for (Block* block : ahead_) {
    if (block->state == State::kQueued) return block;
  }
  return nullptr;
}

// Without readers nothing is read ahead again; the caller's own reads carry on.
void ReadAhead::StartReaders() {
  if (!readers_.empty()) return;
  try {
    for (size_t i = 0; i < kReaders; ++i) readers_.emplace_back([this] { ReadLoop(); });
  } catch (const std::system_error&) {
    readersFailed_ = readers_.empty();
  }
  if (readersFailed_) Discard();
}

void ReadAhead::ReadLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Block* block = nullptr;
    queued_.wait(lock, [&] { return stopping_ || (block = FirstQueued()) != nullptr; });
    if (stopping_) return;
    block->state = State::kReading;
    block->writesBefore = finishedWrites.load(std::memory_order_acquire);
    lock.unlock();
    const ssize_t result = ReadBlock(*block);
    lock.lock();
    block->result = result;
    block->state = block->abandoned ? State::kFree : State::kDone;
    block->abandoned = false;
    finished_.notify_all();
  }
}

ssize_t ReadAhead::ReadBlock(Block& block) const {
  size_t done = 0;
  while (done < block.size) {
    const ssize_t n = pread(fd_, block.bytes.get() + done, block.size - done,
                            static_cast<off_t>(block.offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace kestro::posix
