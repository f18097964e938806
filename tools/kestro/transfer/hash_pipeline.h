// Hashing on a second thread. The command fills a block, moves it on (writes it, compares it),
// then submits it here; the hashing thread digests blocks in submission order and hands them
// back. A fixed set of blocks bounds the memory and lets reading and writing run ahead of the
// hash by at most that many blocks. Blocks travel by pointer: nothing is copied. Without a digest
// there is no thread, and a submitted block is free again at once.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/digest.h"

namespace kestro::cli {

class HashPipeline {
 public:
  HashPipeline(HashKind kind, size_t blockSize, size_t blockCount = 4);
  ~HashPipeline();
  HashPipeline(const HashPipeline&) = delete;
  HashPipeline& operator=(const HashPipeline&) = delete;

  // A block that no one uses, page-aligned and `block_size()` bytes long; waits while every
  // block is still being hashed.
  uint8_t* Acquire();

  // Hands the first `length` bytes of a block from Acquire to the hashing thread.
  void Submit(uint8_t* block, size_t length);

  // Digests `length` zero bytes next, without a block; waits while the hashing thread is that
  // far behind.
  void SubmitZeros(size_t length);

  // Waits for every submitted block and returns the digest in hex ("" for no digest).
  std::string Finish();

 private:
  struct Filled {
    uint8_t* block;  // nullptr for zeros
    size_t length;
  };
  void HashLoop();

  std::unique_ptr<Digest> digest_;
  std::vector<std::unique_ptr<uint8_t, void (*)(void*)>> storage_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint8_t*> free_;
  std::deque<Filled> filled_;
  size_t unhashed_ = 0;  // submitted and not yet digested
  bool closing_ = false;
  std::thread hasher_;
};

}  // namespace kestro::cli
