// Sequential reads of a device, served ahead of time. When a read begins where the one before it
// ended, a few reader threads go on reading blocks of the same size at the offsets that follow,
// each with its own pread, so several requests are in flight while the caller works on what it
// already has. A read is served from a block only when that block holds exactly its bytes, read
// in full after every write the process had finished; anything else (another offset or size, a
// read ahead that came up short or failed, a write since) is left to the caller's own read, so
// every answer, errors included, is the device's own. Memory is bounded by a fixed set of blocks.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kestro::posix {

class ReadAhead {
 public:
  // Reads ahead on `fd` (which outlives the object) up to descriptor offset `end`.
  ReadAhead(int fd, uint64_t end) : fd_(fd), end_(end) {}
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Copies the `size` bytes at `offset` into `buffer` and returns true when they were read ahead;
  // whatever it returns, reads on past them when this read continues the one before it.
  bool Take(void* buffer, size_t size, uint64_t offset);

 private:
  enum class State { kFree, kQueued, kReading, kDone, kTaken };
  struct Block {
    State state = State::kFree;
    bool abandoned = false;  // dropped from the queue while a reader had it
    uint64_t offset = 0;
    size_t size = 0;
    uint64_t writesBefore = 0;  // writes the process had finished when the read began
    ssize_t result = 0;
    std::unique_ptr<uint8_t, void (*)(void*)> bytes{nullptr, nullptr};
  };

  bool Serve(std::unique_lock<std::mutex>& lock, void* buffer, size_t size, uint64_t offset);
  void Discard();
  void Schedule(size_t size);
  Block* FreeBlock();
  Block* FirstQueued();
  void StartReaders();
  void ReadLoop();
  ssize_t ReadBlock(Block& block) const;

  const int fd_;
  const uint64_t end_;
  std::mutex mutex_;
  std::condition_variable queued_;    // a block waits for a reader, or the readers must stop
  std::condition_variable finished_;  // a reader finished a block
  Block blocks_[6];
  std::deque<Block*> ahead_;        // the blocks wanted, in offset order
  uint64_t expected_ = UINT64_MAX;  // where a read that continues the last one begins
  uint64_t next_ = 0;               // where the next block read ahead begins
  bool stopping_ = false;
  bool readersFailed_ = false;
  std::vector<std::thread> readers_;
};

// Counts a finished write through any handle or descriptor of the process: blocks whose reads
// began before it are not served.
void NoteWrite();

}  // namespace kestro::posix
