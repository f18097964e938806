// The NT family under the model: on a real image file through the POSIX backend, bare and
// behind the fault-injecting wrapper, and on the fake backend with failed, short and zero-byte
// transfers and failed pointer moves injected.
#include <Kestro32.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <random>

#include <fake_backend.h>
#include <fault_injecting_backend.h>
#include <gtest/gtest.h>
#include <open_shared.h>
#include <win32/drive_map.h>

#include "model_seed.h"
#include "volume_model.h"

using namespace win32;
using namespace kestro::testing;
using win32::testing::Call;
using win32::testing::DeviceKind;
using win32::testing::FakeBackend;
using win32::testing::FaultInjectingBackend;
using win32::testing::Outcome;

namespace {

constexpr const char16_t* kVolumeName = u"\\\\.\\C:";
constexpr DWORD kSectorBytes = 512;
// The faulty image run repeats the image run's work under faults; a few configurations do.
constexpr int kFaultyImageConfigurations = 5;

// Opens drive C: as a host of either family would set an object up by hand.
void OpenVolume(CKestro32& volume, const ModelShape& shape) {
  volume.m_hDisk = kestro::testing::OpenShared(kVolumeName);
  ASSERT_NE(volume.m_hDisk, INVALID_HANDLE_VALUE);
  volume.m_llVolumeSize = shape.volumeSize;
  volume.m_llPos = 0;
  volume.m_llSector = 0;
  volume.Initial(shape.bufferSize);
  ASSERT_NE(volume.m_pBuffer, nullptr);
}

// Opens the volume as OpenVolume does while allocations may fail: an object left without a
// staging buffer must refuse every transfer that needs one until a later Initial gives it one.
void OpenVolumeDespiteFailedAllocations(CKestro32& volume, const ModelShape& shape) {
  volume.m_hDisk = kestro::testing::OpenShared(kVolumeName);
  ASSERT_NE(volume.m_hDisk, INVALID_HANDLE_VALUE);
  volume.m_llVolumeSize = shape.volumeSize;
  for (volume.Initial(shape.bufferSize); volume.m_pBuffer == nullptr;
       volume.Initial(shape.bufferSize)) {
    BYTE bytes[kSectorBytes] = {};
    DWORD count = 0;
    ASSERT_EQ(volume.ReadNT(bytes, sizeof bytes, &count), KESTRO_ERR_READ);
    ASSERT_EQ(volume.WriteNT(bytes, 3), KESTRO_WRITE_FAILED);
    ASSERT_EQ(volume.m_llPos, 0u);
  }
}

// The fake's volume, whose transfers and pointer moves now and then fail or fall short.
class FaultyFakeVolume : public ModelDevice {
 public:
  FaultyFakeVolume(FakeBackend& fake, uint64_t seed) : fake_(fake), rng_(seed) {
    fake_.intercept = [this](const Call& call) { return Strike(call); };
  }
  ~FaultyFakeVolume() override { fake_.intercept = nullptr; }

  const std::vector<uint8_t>& Bytes() override { return fake_.DeviceBytes(kVolumeName); }
  void BeginOperation() override {
    faulted_ = false;
    fake_.ClearCalls();
  }
  bool Faulted() const override { return faulted_; }

 private:
  std::optional<Outcome> Strike(const Call& call) {
    const bool transfer =
        call.kind == Kernel32Call::ReadFile || call.kind == Kernel32Call::WriteFile;
    const uint64_t percent = transfer ? 8 : call.kind == Kernel32Call::SetFilePointerEx ? 4 : 0;
    if (Uniform(1, 100) > percent) return std::nullopt;
    faulted_ = true;
    if (!transfer) return Outcome::Failure(ERROR_INVALID_PARAMETER);
    const DWORD size = static_cast<DWORD>(call.args[0]);
    const DWORD part = static_cast<DWORD>(Uniform(0, size > 0 ? size - 1 : 0));
    switch (Uniform(0, 4)) {
      case 0:
        return Outcome::Failure(ERROR_CRC);
      case 1: {  // some bytes moved, then the transfer failed
        Outcome outcome = Outcome::Failure(ERROR_CRC);
        outcome.transfer = part;
        return outcome;
      }
      case 2:
        return Outcome::Short(0);
      case 3:
        return Outcome::Short(part - part % 512);
      default:
        return Outcome::Short(part);
    }
  }

  uint64_t Uniform(uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(rng_);
  }

  FakeBackend& fake_;
  std::mt19937_64 rng_;
  bool faulted_ = false;
};

// An image file whose calls pass through a fault-injecting wrapper over the POSIX backend.
class FaultyImage : public ModelDevice {
 public:
  FaultyImage(ModelImage& image, const FaultInjectingBackend& faults)
      : image_(image), faults_(faults) {}

  const std::vector<uint8_t>& Bytes() override { return image_.Bytes(); }
  void BeginOperation() override { before_ = faults_.InjectedCount(); }
  bool Faulted() const override { return faults_.InjectedCount() != before_; }

 private:
  ModelImage& image_;
  const FaultInjectingBackend& faults_;
  size_t before_ = 0;
};

// Maps a fresh image file of each configuration as drive C: and hands it to `run`.
void ForEachImage(int configurations,
                  const std::function<void(ModelImage&, const ModelShape&, uint64_t)>& run) {
  for (int configuration = 0; configuration < configurations; ++configuration) {
    const uint64_t seed = ModelSeed(configuration);
    const ModelShape shape = RandomShape(seed);
    ModelImage image(shape, seed);
    ASSERT_TRUE(kestro::MapDrive('C', image.path()));
    run(image, shape, seed);
    kestro::UnmapDrive('C');
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(NtModel, RandomTransfersOnAnImageFileMatchTheReference) {
  ForEachImage(ModelConfigurations(kModelConfigurations),
               [](ModelImage& image, const ModelShape& shape, uint64_t seed) {
                 CKestro32 volume;
                 OpenVolume(volume, shape);
                 RunVolumeModel({&volume, &image, seed, kModelOperations, true, {}});
               });
}

TEST(NtModel, OnAnImageFileUnderInjectedFaultsNothingWrongIsEverReportedAsSuccess) {
  const int configurations = ModelConfigurations(kFaultyImageConfigurations);
  size_t injected = 0;
  ForEachImage(configurations, [&injected](ModelImage& image, const ModelShape& shape,
                                           uint64_t seed) {
    FaultInjectingBackend faults(DefaultBackend(), seed);
    ScopedBackend useFaults(faults);
    const uint32_t oneIn = ModelFaultOneIn(12);
    faults.FailOneIn(Kernel32Call::VirtualAlloc, oneIn, ERROR_NOT_ENOUGH_MEMORY);
    faults.FailOneIn(Kernel32Call::ReadFile, oneIn, ERROR_CRC);
    faults.FailOneIn(Kernel32Call::WriteFile, oneIn, ERROR_IO_DEVICE);
    faults.FailOneIn(Kernel32Call::SetFilePointerEx, ModelFaultOneIn(25), ERROR_INVALID_PARAMETER);
    faults.ShortenTransfersOneIn(oneIn);
    CKestro32 volume;
    OpenVolumeDespiteFailedAllocations(volume, shape);
    FaultyImage device(image, faults);
    RunVolumeModel({&volume, &device, seed, kModelOperations, true, {}});
    injected += faults.InjectedCount();
  });
  // The soak reads these figures; a wrong result stops the run, so it is 0 or 1.
  std::printf(
      "model under faults: %lld operations, %zu faults injected, %d wrong results "
      "reported as success\n",
      static_cast<long long>(configurations) * kModelOperations, injected, HasFailure() ? 1 : 0);
}

TEST(NtModel, UnderInjectedFaultsNothingWrongIsEverReportedAsSuccess) {
  for (int configuration = 0; configuration < ModelConfigurations(kModelConfigurations);
       ++configuration) {
    const uint64_t seed = ModelSeed(configuration);
    const ModelShape shape = RandomShape(seed);
    FakeBackend fake;
    ScopedBackend useFake(fake);
    fake.AddDevice(kVolumeName, RandomBytes(static_cast<size_t>(shape.deviceSize), seed),
                   DeviceKind::kVolume);
    CKestro32 volume;
    OpenVolume(volume, shape);
    FaultyFakeVolume device(fake, seed);
    RunVolumeModel({&volume, &device, seed, kModelOperations, true, {}});
    if (HasFailure()) return;
  }
}

}  // namespace
