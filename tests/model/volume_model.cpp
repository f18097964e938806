#include "volume_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

using namespace win32;

namespace kestro::testing {
namespace {

constexpr uint64_t kSector = 512;
constexpr size_t kTail = 16;  // destination bytes behind the request, which no read may touch
constexpr uint8_t kUntouched = 0xA5;
constexpr int kDeviceCheckEvery = 256;
constexpr size_t kPoolSize = 192 * 1024;  // source of the bytes written
constexpr uint64_t kLargestPacketCount = 0xFFFF;

class Model {
 public:
  explicit Model(const ModelRun& run)
      : run_(run),
        volume_(*run.volume),
        device_(*run.device),
        rng_(run.seed),
        reference_(device_.Bytes()),
        position_(volume_.m_llPos),
        pool_(RandomBytes(kPoolSize, run.seed * 31 + 7)),
        untouched_(kPoolSize, kUntouched) {}

  void Run() {
    for (operation_ = 0; operation_ < run_.operations && !failed_ && !ChoicesUsedUp();
         ++operation_) {
      device_.BeginOperation();
      Step();
      if (operation_ % kDeviceCheckEvery == 0) CheckDevice(0, 0);
    }
    what_ = "the end of the run";
    if (!failed_) CheckDevice(0, 0);
  }

 private:
  using Writer = DWORD (CKestro32::*)(void*, DWORD);

  void Step() {
    const uint64_t pick = Uniform(0, 99);
    if (pick < 20) {
      Seek();
    } else if (pick < 55) {
      Read();
    } else if (pick < 63 && run_.zeroCopyReads) {
      ZeroCopyRead();
    } else {
      Write();
    }
  }

  // --- Operations ----------------------------------------------------------------------------

  void Seek() {
    const uint64_t size = Size();
    const uint64_t kind = Uniform(0, 99);
    LONGLONG target = 0;
    if (kind < 30) {
      target = static_cast<LONGLONG>(Uniform(0, size));
    } else if (kind < 50) {
      const uint64_t sectorStart = Uniform(0, size / kSector) * kSector;
      target = static_cast<LONGLONG>(sectorStart);
    } else if (kind < 70) {  // back into what was just read
      target = static_cast<LONGLONG>(position_ - std::min<uint64_t>(position_, Uniform(0, 3000)));
    } else if (kind < 85) {
      target = static_cast<LONGLONG>(size - std::min<uint64_t>(size, Uniform(0, 1200)));
    } else if (kind < 95) {
      const uint64_t pastTheEnd = size + 1 + Uniform(0, 5000);
      target = static_cast<LONGLONG>(pastTheEnd);
    } else {
      target = -1 - static_cast<LONGLONG>(Uniform(0, 1000));
    }
    const DWORD origin = Uniform(0, 49) == 0 ? 3 : static_cast<DWORD>(Uniform(0, 2));
    const LONGLONG base = origin == FILE_CURRENT ? static_cast<LONGLONG>(position_)
                          : origin == FILE_END   ? static_cast<LONGLONG>(size)
                                                 : 0;
    Describe("SeekNT", static_cast<uint64_t>(target), origin);
    const bool accepted =
        origin <= FILE_END && target >= 0 && static_cast<uint64_t>(target) <= size;
    const int result = volume_.SeekNT(target - base, static_cast<int>(origin));
    if (accepted) position_ = static_cast<uint64_t>(target);
    // A failed device move still moves the position; only a fault may cause one.
    const bool failedMove = accepted && result == 0 && device_.Faulted();
    if (result != (accepted ? 1 : 0) && !failedMove)
      Fail("seek returned " + std::to_string(result));
    CheckPosition();
  }

  void Read() {
    const DWORD len = Length();
    const DWORD n = Clamped(len);
    const bool hit = volume_.m_bWindowValid && position_ >= volume_.m_llWindowStart &&
                     position_ + len <= volume_.m_llWindowStart + volume_.m_llWindowLength;
    const bool fits = n == 0 || hit || ReadFits(n);
    Describe("ReadNT", position_, len);
    destination_.assign(len + kTail, kUntouched);
    DWORD count = 0xDEADBEEF;
    const DWORD status = volume_.ReadNT(destination_.data(), len, &count);
    if (count != n) Fail("*pRead is " + std::to_string(count));
    CheckReadResult(status, fits, destination_.data(), n);
  }

  void ZeroCopyRead() {
    const DWORD len = Length();
    const DWORD n = Clamped(len);
    const bool fits = n == 0 || Offset() + n <= BufferBytes();
    Describe("ReadNT (zero-copy)", position_, len);
    BYTE* const expected = volume_.m_pBuffer + Offset();
    destination_.assign(kTail, kUntouched);  // `buf` is never written
    void* data = &destination_;
    DWORD count = 0xDEADBEEF;
    const DWORD status = volume_.ReadNT(nullptr, len, &count, &data);
    if (count != n) Fail("*pRead is " + std::to_string(count));
    if (status == 0 && n > 0 && data != expected) Fail("the pointer is not at the first byte");
    if ((status != 0 || n == 0) && data != &destination_) Fail("the pointer was written");
    CheckReadResult(status, fits, status == 0 && n > 0 ? static_cast<BYTE*>(data) : nullptr, n);
  }

  void Write() {
    const DWORD len = Length();
    const DWORD n = Clamped(len);
    const bool fits = WriteFits(n);
    const uint8_t* bytes = pool_.data() + Uniform(0, kPoolSize - len);
    const Writer writer = PickWriter();
    Describe("a write", position_, len);
    const DWORD result = (volume_.*writer)(const_cast<uint8_t*>(bytes), len);
    if (n == 0) {
      if (result != 0) Fail("nothing to write, yet the result is " + std::to_string(result));
    } else if (result == n) {
      if (!fits) Fail("a write the buffer or packet cannot carry succeeded");
      std::memcpy(reference_.data() + position_, bytes, n);
      position_ += n;
    } else if (result == KESTRO_WRITE_FAILED) {
      if (fits && !device_.Faulted()) Fail("a write failed without a fault");
      // A failed NT write may have reached its own target range, and nothing else.
      const bool legacy = volume_.m_bWin9x != 0;
      CheckDevice(legacy ? 0 : position_, legacy ? 0 : position_ + n);
    } else {
      Fail("the result is " + std::to_string(result));
    }
    CheckPosition();
  }

  // --- Expectations --------------------------------------------------------------------------

  void CheckReadResult(DWORD status, bool fits, const BYTE* delivered, DWORD n) {
    if (status == 0) {
      if (!fits) Fail("a read the buffer or packet cannot carry succeeded");
      if (n > 0 && std::memcmp(delivered, reference_.data() + position_, n) != 0) {
        Fail("the bytes read differ from the reference");
      }
      position_ += n;
    } else if (status == KESTRO_ERR_READ) {
      if (fits && !device_.Faulted()) Fail("a read failed without a fault");
    } else {
      Fail("the status is " + std::to_string(status));
    }
    const size_t copied = status == 0 && delivered == destination_.data() ? n : 0;
    if (std::memcmp(destination_.data() + copied, untouched_.data(),
                    destination_.size() - copied) != 0) {
      Fail("bytes beyond those delivered were written");
    }
    CheckPosition();
  }

  // A read the staging buffer and the packet can carry, after the clamp, as the device sees it.
  bool ReadFits(DWORD n) const {
    const uint64_t needed = Offset() + n;
    if (!volume_.m_bWin9x) return needed <= BufferBytes();
    uint64_t count = LegacyCount(n);
    if (Size() - position_ >= volume_.m_llBufferSize) count = volume_.m_llBufferSize / kSector;
    return LegacyFits(count) && needed <= count * kSector;
  }

  bool WriteFits(DWORD n) const {
    if (n == 0) return true;
    if (volume_.m_bWin9x) return LegacyFits(LegacyCount(n));
    const bool wholeSectors = Offset() == 0 && n % kSector == 0;
    return wholeSectors || (Offset() + n + kSector - 1) / kSector * kSector <= BufferBytes();
  }

  // The legacy count: one sector more unless both ends are on boundaries, up to the last one.
  uint64_t LegacyCount(DWORD n) const {
    const uint64_t end = Offset() + n;
    const uint64_t count = Offset() == 0 && n % kSector == 0 ? end / kSector : end / kSector + 1;
    const uint64_t left = (Size() + kSector - 1) / kSector - position_ / kSector;
    return std::min(count, left);
  }

  bool LegacyFits(uint64_t count) const {
    return count <= kLargestPacketCount && count * kSector <= BufferBytes() &&
           position_ / kSector <= 0xFFFFFFFFu;
  }

  void CheckPosition() {
    if (volume_.m_llPos != position_ || volume_.m_llSector != position_ / kSector) {
      Fail("the position is " + std::to_string(volume_.m_llPos) + ", expected " +
           std::to_string(position_));
    }
  }

  // Compares the device with the reference outside [from, to), then takes [from, to) over.
  void CheckDevice(uint64_t from, uint64_t to) {
    const std::vector<uint8_t>& bytes = device_.Bytes();
    if (bytes.size() != reference_.size()) return Fail("the device changed size");
    if (!Same(bytes, 0, from) || !Same(bytes, to, bytes.size())) {
      return Fail("the device differs from the reference outside [" + std::to_string(from) + ", " +
                  std::to_string(to) + ")");
    }
    std::memcpy(reference_.data() + from, bytes.data() + from, static_cast<size_t>(to - from));
  }

  bool Same(const std::vector<uint8_t>& bytes, uint64_t from, uint64_t to) const {
    return std::memcmp(bytes.data() + from, reference_.data() + from,
                       static_cast<size_t>(to - from)) == 0;
  }

  // --- Random choices ------------------------------------------------------------------------

  DWORD Length() {
    const uint64_t limit = std::max<uint64_t>(BufferBytes(), kSector);
    uint64_t len = 0;
    const uint64_t kind = Uniform(0, 9);
    if (kind == 0) {
      len = Uniform(0, 8);
    } else if (kind <= 4) {
      len = Uniform(1, 600);
    } else if (kind <= 6) {
      len = Uniform(1, 4096);
    } else if (kind <= 8) {
      len = Uniform(1, limit);
    } else {  // around the most the buffer can carry
      len = limit - std::min<uint64_t>(limit, 1024) + Uniform(0, 2048);
    }
    if (Uniform(0, 3) == 0) len -= len % kSector;
    return static_cast<DWORD>(len);
  }

  Writer PickWriter() {
    const uint64_t pick = Uniform(0, 9);
    if (pick < 7) return &CKestro32::WriteNT;
    if (!volume_.m_bWin9x) return &CKestro32::Write2K;
    return pick == 7   ? &CKestro32::WriteDataW
           : pick == 8 ? &CKestro32::WriteDirDataW
                       : &CKestro32::WriteFatDataW;
  }

  uint64_t Uniform(uint64_t low, uint64_t high) {
    if (run_.choices.empty()) return std::uniform_int_distribution<uint64_t>(low, high)(rng_);
    return low + DecodedChoice() % (high - low + 1);
  }

  uint64_t DecodedChoice() {
    uint64_t value = 0;
    for (int i = 0; i < 4 && nextChoice_ < run_.choices.size(); ++i) {
      value = value << 8 | run_.choices[nextChoice_++];
    }
    return value;
  }

  bool ChoicesUsedUp() const { return !run_.choices.empty() && nextChoice_ >= run_.choices.size(); }

  // --- Geometry ------------------------------------------------------------------------------

  uint64_t Size() const { return volume_.m_llVolumeSize; }
  uint64_t BufferBytes() const { return volume_.m_llBufferSize / kSector * kSector; }
  uint64_t Offset() const { return position_ % kSector; }
  DWORD Clamped(DWORD len) const {
    if (position_ >= Size()) return 0;
    return static_cast<DWORD>(std::min<uint64_t>(len, Size() - position_));
  }

  // --- Reporting -----------------------------------------------------------------------------

  void Describe(const char* what, uint64_t at, uint64_t argument) {
    what_ = what;
    whatAt_ = at;
    whatArgument_ = argument;
  }

  void Fail(const std::string& message) {
    failed_ = true;
    ADD_FAILURE() << message << "\n  in operation " << operation_ << ": " << what_ << " at "
                  << whatAt_ << " (length or origin " << whatArgument_ << ")"
                  << "\n  seed " << run_.seed << ", volume " << Size() << " bytes, buffer "
                  << volume_.m_llBufferSize << " bytes, family "
                  << (volume_.m_bWin9x ? "legacy" : "NT");
  }

  const ModelRun& run_;
  CKestro32& volume_;
  ModelDevice& device_;
  std::mt19937_64 rng_;
  std::vector<uint8_t> reference_;
  uint64_t position_;
  std::vector<uint8_t> pool_;
  const std::vector<uint8_t> untouched_;  // what a destination holds before a read
  std::vector<uint8_t> destination_;
  size_t nextChoice_ = 0;
  int operation_ = 0;
  const char* what_ = "";
  uint64_t whatAt_ = 0;
  uint64_t whatArgument_ = 0;
  bool failed_ = false;
};

}  // namespace

void RunVolumeModel(const ModelRun& run) {
  Model(run).Run();
}

ModelShape RandomShape(uint64_t seed) {
  std::mt19937_64 rng(seed);
  auto uniform = [&rng](uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(rng);
  };
  ModelShape shape;
  shape.bufferSize = static_cast<DWORD>(uniform(1024, 64 * 1024));
  if (uniform(0, 2) == 0) shape.bufferSize -= shape.bufferSize % DWORD{kSector};
  do {
    shape.volumeSize = uniform(8, 2048) * kSector;
  } while (shape.volumeSize % shape.bufferSize == 0);
  shape.deviceSize = shape.volumeSize + uniform(1, 8) * kSector;
  return shape;
}

std::vector<uint8_t> RandomBytes(size_t length, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; i += sizeof(uint64_t)) {
    const uint64_t word = rng();
    std::memcpy(bytes.data() + i, &word, std::min(sizeof word, length - i));
  }
  return bytes;
}

ModelImage::ModelImage(const ModelShape& shape, uint64_t seed)
    : path_(dir_.File("drive.img")),
      bytes_(RandomBytes(static_cast<size_t>(shape.deviceSize), seed)) {
  bytes_[510] = 0;
  CreateSparseFile(path_, shape.deviceSize);
  WriteBytes(path_, 0, bytes_);
  fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
}

ModelImage::~ModelImage() {
  if (fd_ >= 0) close(fd_);
}

const std::vector<uint8_t>& ModelImage::Bytes() {
  if (pread(fd_, bytes_.data(), bytes_.size(), 0) != static_cast<ssize_t>(bytes_.size())) {
    bytes_.clear();  // reported as a change of size
  }
  return bytes_;
}

}  // namespace kestro::testing
