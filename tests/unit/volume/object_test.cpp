// The volume object's lifetime: construction, copies sharing one handle and buffer, the order
// of destruction and the staging buffer.
#include <Kestro32.h>

#include <algorithm>
#include <array>
#include <memory>

#include <fake_world.h>

using namespace win32;
using win32::testing::Outcome;

namespace {

class VolumeObject : public kestro::testing::FakeWorld {};

TEST_F(VolumeObject, DefaultConstructionOpensNothing) {
  CKestro32 volume;
  EXPECT_EQ(volume.m_bReady, 0);
  EXPECT_EQ(volume.m_bUseVss, 1);
  EXPECT_EQ(volume.m_bVssActive, 0);
  EXPECT_EQ(volume.m_hDisk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(volume.m_pBuffer, nullptr);
  EXPECT_EQ(volume.m_llBufferSize, 0u);
  EXPECT_EQ(volume.m_bWin9x, 0);
  EXPECT_EQ(volume.m_szSnapshotPath[0], 0);
  EXPECT_EQ(volume.m_llVolumeSize, 0u);
  EXPECT_EQ(fake.CountOf(Kernel32Call::CreateFileW), 0u);
  EXPECT_EQ(requester.events, std::vector<std::string>{"construct"});
}

TEST_F(VolumeObject, InitialAllocatesAPageAlignedBufferOnce) {
  CKestro32 volume;
  volume.m_bReady = 1;
  volume.Initial(0);
  EXPECT_EQ(volume.m_pBuffer, nullptr);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualAlloc), 0u);

  volume.m_bWindowValid = 1;
  volume.Initial(65536);
  ASSERT_NE(volume.m_pBuffer, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(volume.m_pBuffer) % 4096, 0u);
  EXPECT_EQ(volume.m_llBufferSize, 65536u);
  EXPECT_EQ(volume.m_bWindowValid, 0);
  EXPECT_EQ(volume.m_bReady, 1);
  const win32::testing::Call& alloc = *fake.CallsOf(Kernel32Call::VirtualAlloc).at(0);
  EXPECT_EQ(alloc.args, (std::vector<uint64_t>{0, 65536, MEM_COMMIT, PAGE_READWRITE}));

  // A second call leaves the first buffer to the host, which releases it itself.
  BYTE* first = volume.m_pBuffer;
  volume.Initial(4096);
  EXPECT_NE(volume.m_pBuffer, first);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualFree), 0u);
  first[65535] = 1;
  EXPECT_TRUE(VirtualFree(first, 0, MEM_RELEASE));
  EXPECT_EQ(fake.LiveAllocationCount(), 1u);
}

TEST_F(VolumeObject, InitialThatCannotCommitClearsReadiness) {
  CKestro32 volume;
  volume.m_bReady = 1;
  volume.m_bWindowValid = 1;
  fake.Script(Kernel32Call::VirtualAlloc, Outcome::Failure(ERROR_NOT_ENOUGH_MEMORY));
  volume.Initial(0xFFFFF000u);
  EXPECT_EQ(volume.m_pBuffer, nullptr);
  EXPECT_EQ(volume.m_llBufferSize, 0xFFFFF000u);
  EXPECT_EQ(volume.m_bWindowValid, 0);
  EXPECT_EQ(volume.m_bReady, 0);
}

TEST_F(VolumeObject, DestructionClosesTheDeviceBeforeEndingTheSnapshot) {
  {
    CKestro32 volume;
    volume.m_hDisk = OpenDevice(u"\\\\.\\C:", std::vector<uint8_t>(4096));
    volume.Initial(4096);
    volume.m_bVssActive = 1;
    fake.ClearCalls();
  }
  EXPECT_EQ(fake.CallNames(),
            (std::vector<std::string>{"CloseHandle", "VirtualFree", "requester.complete",
                                      "requester.destroy"}));
}

TEST_F(VolumeObject, DestroyingAnEmptyObjectStillEndsTheSession) {
  { CKestro32 volume; }
  EXPECT_EQ(fake.CountOf(Kernel32Call::CloseHandle), 0u);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualFree), 0u);
  EXPECT_EQ(requester.events, (std::vector<std::string>{"construct", "destroy"}));
}

TEST_F(VolumeObject, CopiesShareTheHandleAndBufferAndTheLastHolderReleasesThem) {
  auto* source = new CKestro32();
  source->m_hDisk = OpenDevice(u"\\\\.\\C:", std::vector<uint8_t>(4096));
  source->Initial(4096);
  auto* copy = new CKestro32(*source);
  CKestro32 assigned;
  assigned = *copy;
  EXPECT_EQ(copy->m_hDisk, source->m_hDisk);
  EXPECT_EQ(copy->m_pBuffer, source->m_pBuffer);
  EXPECT_EQ(assigned.m_pBuffer, source->m_pBuffer);
  EXPECT_EQ(copy->m_bWin9x, source->m_bWin9x);

  delete source;
  delete copy;
  EXPECT_EQ(fake.CountOf(Kernel32Call::CloseHandle), 0u);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualFree), 0u);
  // The survivor's handle and buffer still work.
  ASSERT_NE(assigned.m_pBuffer, nullptr);
  assigned.m_pBuffer[4095] = 1;
  EXPECT_EQ(fake.OpenHandleCount(), 1u);
}

TEST_F(VolumeObject, EveryOrderOfCopyAssignAndDestroyReleasesExactlyOnce) {
  std::array<size_t, 3> order = {0, 1, 2};
  do {
    fake.ClearCalls();
    std::array<std::unique_ptr<CKestro32>, 3> objects;
    objects[0] = std::make_unique<CKestro32>();
    objects[0]->m_hDisk = OpenDevice(u"\\\\.\\C:", std::vector<uint8_t>(4096));
    objects[0]->Initial(4096);
    objects[1] = std::make_unique<CKestro32>(*objects[0]);
    objects[2] = std::make_unique<CKestro32>();
    // Replaced by the assignment below, which leaves them to the host.
    const HANDLE replacedHandle = objects[2]->m_hDisk = OpenDevice(u"\\\\.\\D:", {});
    objects[2]->Initial(512);
    BYTE* replaced = objects[2]->m_pBuffer;
    *objects[2] = *objects[1];
    EXPECT_EQ(fake.CountOf(Kernel32Call::CloseHandle) + fake.CountOf(Kernel32Call::VirtualFree),
              0u);
    CloseHandle(replacedHandle);
    VirtualFree(replaced, 0, MEM_RELEASE);
    *objects[2] = *objects[2];
    for (size_t index : order) objects[index].reset();
    EXPECT_EQ(fake.CountOf(Kernel32Call::CloseHandle), 2u);
    EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualFree), 2u);
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(fake.OpenHandleCount(), 0u);
  EXPECT_EQ(fake.LiveAllocationCount(), 0u);
}

TEST_F(VolumeObject, ArraysAreDestroyedElementByElement) {
  auto* volumes = new CKestro32[3];
  delete[] volumes;
  EXPECT_EQ(requester.events.size(), 6u);
}

}  // namespace
