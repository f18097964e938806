#include <win32/windows.h>

#include <gtest/gtest.h>

using namespace win32;

namespace {

TEST(VirtualMemory, CommitsZeroedPageAlignedMemory) {
  auto* pages = static_cast<BYTE*>(VirtualAlloc(nullptr, 10000, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pages) % 4096, 0u);
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(pages[i], 0);
  EXPECT_TRUE(VirtualLock(pages, 10000));
  EXPECT_TRUE(VirtualUnlock(pages, 10000));
  EXPECT_FALSE(VirtualFree(pages, 10000, MEM_RELEASE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(pages, 0, MEM_RELEASE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
}

TEST(VirtualMemory, RefusesBadRequests) {
  EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  int local = 0;
  EXPECT_FALSE(VirtualLock(&local, sizeof local));
  EXPECT_EQ(GetLastError(), ERROR_NOACCESS);
}

}  // namespace
