// Operation sequences decoded from the fuzzer's input, run by the volume model against its
// in-memory reference: the object sits on the fake backend's volume, and every result must
// match the reference byte for byte.
#include <Kestro32.h>

#include <cstdlib>

#include <fake_backend.h>
#include <gtest/gtest.h>

#include "volume_model.h"

using namespace win32;
using kestro::testing::ModelDevice;
using kestro::testing::ModelRun;
using kestro::testing::ModelShape;
using win32::testing::DeviceKind;
using win32::testing::FakeBackend;

namespace {

constexpr const char16_t* kVolumeName = u"\\\\.\\C:";
constexpr size_t kShapeBytes = 4;
constexpr uint64_t kSector = 512;

// The staging buffer and volume sizes from the input's first bytes: buffers as the model's random
// shapes have them, volumes of at most a few buffers, where the edges are close together.
ModelShape DecodeShape(const uint8_t* data) {
  ModelShape shape;
  shape.bufferSize = 1024 + (DWORD{data[0]} << 8 | data[1]) % (63 * 1024);
  shape.volumeSize = (8 + (uint64_t{data[2]} << 3 | data[3] >> 5) % 505) * kSector;
  shape.deviceSize = shape.volumeSize + (1 + (data[3] & 7)) * kSector;
  return shape;
}

class FakeVolume : public ModelDevice {
 public:
  explicit FakeVolume(FakeBackend& fake) : fake_(fake) {}
  const std::vector<uint8_t>& Bytes() override { return fake_.DeviceBytes(kVolumeName); }

 private:
  FakeBackend& fake_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size <= kShapeBytes) return 0;
  const ModelShape shape = DecodeShape(data);
  FakeBackend fake;
  ScopedBackend useFake(fake);
  fake.AddDevice(kVolumeName, kestro::testing::RandomBytes(shape.deviceSize, size),
                 DeviceKind::kVolume);
  CKestro32 volume;
  volume.m_hDisk =
      CreateFileW(kVolumeName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  volume.m_llVolumeSize = shape.volumeSize;
  volume.Initial(shape.bufferSize);
  FakeVolume device(fake);
  const ModelRun run{&volume, &device, size,
                     1 << 20, true,    {data + kShapeBytes, size - kShapeBytes}};
  kestro::testing::RunVolumeModel(run);
  if (::testing::Test::HasFailure()) std::abort();
  return 0;
}
