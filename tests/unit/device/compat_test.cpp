// Free space and file-pointer moves, through the newer kernel functions and their fallbacks.
#include <Kestro32.h>

#include <fake_world.h>

using namespace win32;
using win32::testing::Outcome;

namespace {

class Compat : public kestro::testing::FakeWorld {
 protected:
  void SetUp() override {
    // 10 GiB with 4 GiB free, as 2,621,440 clusters of 8 sectors, 1,048,576 of them free.
    fake.SetFreeSpace(u"C:\\", {10737418240ull, 4294967296ull, 1000, 8, 512, 1048576, 2621440});
  }

  CKestro32 volume;
};

TEST_F(Compat, FreeSpaceComesFromTheExtendedQueryWhenPresent) {
  ULONGLONG total = 1, free = 1;
  EXPECT_EQ(volume.MyGetDiskFreeSpaceEx(WTEXT("C:\\"), &total, &free), 1);
  EXPECT_EQ(total, 10737418240ull);
  EXPECT_EQ(free, 4294967296ull);
  EXPECT_EQ(fake.CountOf(Kernel32Call::GetDiskFreeSpaceW), 0u);
  EXPECT_EQ(fake.CallsOf(Kernel32Call::GetProcAddress)[0]->name, u"GetDiskFreeSpaceExW");
  EXPECT_EQ(fake.CallsOf(Kernel32Call::GetModuleHandleW)[0]->name, u"kernel32.dll");
}

TEST_F(Compat, FreeSpaceFallsBackToClusterCounts) {
  fake.HideExport("GetDiskFreeSpaceExW");
  ULONGLONG total = 1, free = 1;
  EXPECT_EQ(volume.MyGetDiskFreeSpaceEx(WTEXT("C:\\"), &total, &free), 1);
  EXPECT_EQ(total, 10737418240ull);
  EXPECT_EQ(free, 4294967296ull);
  EXPECT_EQ(fake.CountOf(Kernel32Call::GetDiskFreeSpaceExW), 0u);
}

TEST_F(Compat, TheLookupIsRepeatedAtEveryCall) {
  volume.MyGetDiskFreeSpaceEx(WTEXT("C:\\"), nullptr, nullptr);
  volume.MyGetDiskFreeSpaceEx(WTEXT("C:\\"), nullptr, nullptr);
  EXPECT_EQ(fake.CountOf(Kernel32Call::GetProcAddress), 2u);
  EXPECT_EQ(fake.CountOf(Kernel32Call::GetDiskFreeSpaceExW), 2u);
}

TEST_F(Compat, AFailedQueryLeavesZerosOnBothRoads) {
  for (bool hide : {false, true}) {
    if (hide) fake.HideExport("GetDiskFreeSpaceExW");
    ULONGLONG total = 7, free = 7;
    EXPECT_EQ(volume.MyGetDiskFreeSpaceEx(WTEXT("Q:\\"), &total, &free), 0);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(free, 0u);
    EXPECT_EQ(volume.MyGetDiskFreeSpaceEx(WTEXT("Q:\\"), nullptr, &free), 0);
  }
}

TEST_F(Compat, FilePointersMoveThroughTheExtendedCallOrTheFallback) {
  HANDLE file =
      OpenDevice(u"/data.bin", std::vector<uint8_t>(16), win32::testing::DeviceKind::kFile);
  LARGE_INTEGER distance, moved;
  distance.QuadPart = 0x100000200ll;
  EXPECT_EQ(MySetFilePointerEx(file, distance, &moved, FILE_BEGIN), 1);
  EXPECT_EQ(moved.QuadPart, 0x100000200ll);
  EXPECT_EQ(fake.CountOf(Kernel32Call::SetFilePointer), 0u);

  fake.HideExport("SetFilePointerEx");
  moved.QuadPart = 0;
  SetLastError(ERROR_ACCESS_DENIED);  // a stale error must not turn a success into a failure
  distance.QuadPart = 0x1FFFFFFFFll;
  EXPECT_EQ(MySetFilePointerEx(file, distance, &moved, FILE_BEGIN), 1);
  EXPECT_EQ(moved.HighPart, 1);
  EXPECT_EQ(moved.LowPart, 0xFFFFFFFFu);
  distance.QuadPart = 0x100000200ll;
  EXPECT_EQ(MySetFilePointerEx(file, distance, nullptr, FILE_BEGIN), 1);
  const auto* last = fake.CallsOf(Kernel32Call::SetFilePointer).back();
  EXPECT_EQ(last->args, (std::vector<uint64_t>{0x200, 1, FILE_BEGIN}));
  distance.QuadPart = -1;
  EXPECT_EQ(MySetFilePointerEx(file, distance, &moved, FILE_BEGIN), 0);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
}

}  // namespace
