// A model check of a volume object: long random runs of seeks, reads (both forms) and writes,
// every result compared byte for byte with an in-memory reference of the device.
//
// Without faults every call must give exactly the result the reference predicts, including
// the refusal of transfers the staging buffer or the legacy packet cannot carry. With faults a
// call may fail where a fault struck it, but what reports success must still be exact, a failed
// call leaves the position alone, and a failed write changes nothing outside its own target
// range (on the legacy family, nothing at all).
#pragma once

#include <Kestro32.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <fixtures.h>

namespace kestro::testing {

// The device behind the volume object, as the model sees it.
class ModelDevice {
 public:
  virtual ~ModelDevice() = default;
  // The device's bytes now: the volume and what lies behind its end.
  virtual const std::vector<uint8_t>& Bytes() = 0;
  // Starts one operation of the model; faults struck from here on count for it.
  virtual void BeginOperation() {}
  // True when a fault struck since BeginOperation.
  virtual bool Faulted() const { return false; }
};

// Everything a run needs to know about the object under test.
struct ModelRun {
  CKestro32* volume = nullptr;  // opened, sized and given its staging buffer
  ModelDevice* device = nullptr;
  uint64_t seed = 0;
  int operations = 0;
  bool zeroCopyReads = true;  // the NT family's four-argument read
  // When not empty, every choice is decoded from these bytes instead of drawn from the seeded
  // generator, and the run ends when they run out (a fuzzer's input).
  std::span<const uint8_t> choices;
};

// Runs the model; the reference starts as the device's bytes. Reports through GoogleTest and
// stops at the first operation that goes wrong.
void RunVolumeModel(const ModelRun& run);

// Random sizes for one configuration: a staging buffer and a volume whose size is not a
// multiple of it, plus a few guard sectors behind the volume's end.
struct ModelShape {
  win32::DWORD bufferSize = 0;
  uint64_t volumeSize = 0;
  uint64_t deviceSize = 0;
};
ModelShape RandomShape(uint64_t seed);

// Random bytes, deterministic for `seed`.
std::vector<uint8_t> RandomBytes(size_t length, uint64_t seed);

// An image file of shape.deviceSize random bytes for `seed`, in a folder of its own, read whole
// through its own descriptor whenever the model looks. Its boot sector has no signature, so that
// nothing takes the bytes for a file system.
class ModelImage : public ModelDevice {
 public:
  ModelImage(const ModelShape& shape, uint64_t seed);
  ~ModelImage() override;
  ModelImage(const ModelImage&) = delete;
  ModelImage& operator=(const ModelImage&) = delete;

  const std::string& path() const { return path_; }
  const std::vector<uint8_t>& Bytes() override;

 private:
  TempDir dir_;
  std::string path_;
  int fd_ = -1;
  std::vector<uint8_t> bytes_;
};

}  // namespace kestro::testing
