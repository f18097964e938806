// The legacy family under the model on the real path: the object sends its DOS calls to the
// VWIN32 device emulator, which moves the sectors of an image file mapped as a drive. Every
// fourth configuration runs the first release of 95 (interrupts 25h and 26h), the others 98 SE
// (function 7305h).
#include <Kestro32.h>
#include <win32/drive_map.h>

#include <string>

#include <fixtures.h>
#include <gtest/gtest.h>

#include "model_seed.h"
#include "volume_model.h"

using namespace win32;
using namespace kestro::testing;

namespace {

constexpr unsigned kDrive = 12;  // L:

TEST(LegacyEmulatorModel, RandomTransfersMatchTheReference) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "the VWIN32 device exists in 32-bit builds only";
  for (int configuration = 0; configuration < ModelConfigurations(kModelConfigurations);
       ++configuration) {
    const uint64_t seed = ModelSeed(configuration);
    const ModelShape shape = RandomShape(seed);
    ModelImage image(shape, seed);  // never FAT32, which the first 95's calls refuse
    kestro::MapDrive('L', image.path());
    ScopedEnv release("KESTRO_WINDOWS_VERSION", configuration % 4 == 3 ? "4.0.950" : "4.10.2222 A");
    CKestro32 volume(kDrive, 0);
    ASSERT_EQ(volume.m_bWin9x, 1);
    volume.m_hDisk = CreateFileW(WTEXT("\\\\.\\VWIN32"), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(volume.m_hDisk, INVALID_HANDLE_VALUE);
    volume.m_llVolumeSize = shape.volumeSize;
    volume.Initial(shape.bufferSize);
    RunVolumeModel({&volume, &image, seed, kModelOperations, false, {}});
    kestro::ClearMappedDrives();
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace
