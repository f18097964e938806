// The legacy family under the model, over the fake backend and a scripted VWIN32 device whose
// drive ends exactly at the volume's end, so any transfer past the last sector shows. The runs
// inject failed DOS calls, failed device calls and failed page locks.
#include <Kestro32.h>

#include <cstring>
#include <optional>
#include <random>

#include <fake_backend.h>
#include <gtest/gtest.h>
#include <scripted_vwin32.h>

#include "model_seed.h"
#include "volume_model.h"

using namespace win32;
using namespace kestro::testing;
using win32::testing::Call;
using win32::testing::FakeBackend;
using win32::testing::Outcome;

namespace {

class Vwin32Drive : public ModelDevice {
 public:
  Vwin32Drive(FakeBackend& fake, std::vector<uint8_t> bytes, uint64_t seed, bool faults)
      : fake_(fake), drive_(std::move(bytes)), vwin32_(fake, drive_), rng_(seed) {
    if (!faults) return;
    vwin32_.fault = [this](const SectorTransfer&) {
      if (Uniform(1, 100) > 6) return ScriptedVwin32::Fault::kNone;
      faulted_ = true;
      return Uniform(0, 1) ? ScriptedVwin32::Fault::kCarry
                           : ScriptedVwin32::Fault::kDeviceCallFails;
    };
    fake_.intercept = [this](const Call& call) -> std::optional<Outcome> {
      if (call.kind != Kernel32Call::VirtualLock || Uniform(1, 100) > 4) return std::nullopt;
      faulted_ = true;
      return Outcome::Failure(ERROR_NOT_ENOUGH_MEMORY);
    };
  }
  ~Vwin32Drive() override { fake_.intercept = nullptr; }

  const std::vector<uint8_t>& Bytes() override { return drive_; }
  void BeginOperation() override {
    faulted_ = false;
    fake_.ClearCalls();
    vwin32_.ClearTransfers();
  }
  bool Faulted() const override { return faulted_; }

  ScriptedVwin32& vwin32() { return vwin32_; }

 private:
  uint64_t Uniform(uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(rng_);
  }

  FakeBackend& fake_;
  std::vector<uint8_t> drive_;
  ScriptedVwin32 vwin32_;
  std::mt19937_64 rng_;
  bool faulted_ = false;
};

// Later releases use function 7305h; every fourth configuration runs the first release's
// interrupts 25h and 26h instead.
void UseRelease(FakeBackend& fake, int configuration) {
  const bool firstRelease = configuration % 4 == 3;
  fake.version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  fake.version.dwMajorVersion = 4;
  fake.version.dwMinorVersion = firstRelease ? 0 : 10;
  std::memset(fake.version.szCSDVersion, 0, sizeof fake.version.szCSDVersion);
  if (!firstRelease) std::char_traits<char16_t>::copy(fake.version.szCSDVersion, u" A", 2);
}

void RunLegacyModel(bool faults) {
  for (int configuration = 0; configuration < ModelConfigurations(kModelConfigurations);
       ++configuration) {
    const uint64_t seed = ModelSeed(configuration);
    const ModelShape shape = RandomShape(seed);
    FakeBackend fake;
    ScopedBackend useFake(fake);
    UseRelease(fake, configuration);
    fake.AddDevice(u"\\\\.\\VWIN32", {}, win32::testing::DeviceKind::kFile);
    Vwin32Drive device(fake, RandomBytes(static_cast<size_t>(shape.volumeSize), seed), seed,
                       faults);
    CKestro32 volume;  // reads the release
    ASSERT_EQ(volume.m_bWin9x, 1);
    volume.m_hDisk = CreateFileW(u"\\\\.\\VWIN32", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    volume.m_nDrive = 3;
    volume.m_llVolumeSize = shape.volumeSize;
    volume.m_llPos = 0;
    volume.m_llSector = 0;
    volume.Initial(shape.bufferSize);
    device.vwin32().stagingBuffer = volume.m_pBuffer;
    RunVolumeModel({&volume, &device, seed, kModelOperations, false, {}});
    EXPECT_EQ(device.vwin32().pastTheEnd, 0) << "seed " << seed;
    EXPECT_EQ(device.vwin32().foreignBuffers, 0) << "seed " << seed;
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(LegacyModel, RandomTransfersMatchTheReference) {
  RunLegacyModel(false);
}

TEST(LegacyModel, UnderInjectedFaultsNothingWrongIsEverReportedAsSuccess) {
  RunLegacyModel(true);
}

}  // namespace
