// Requesters over the shadow-copy provider: copies and assignments share one snapshot, which
// goes with its last holder; a failed start keeps what was held.
#include <Shadrel.h>

#include <algorithm>
#include <cstddef>
#include <thread>

#include <gtest/gtest.h>
#include <shadrel/provider.h>
#include <vss_provider.h>

#include "scripted_steps.h"

using namespace win32;

namespace shadrel {
namespace {

constexpr HResult kFailure = static_cast<HResult>(0x80042306u);

class SharedRequester : public ::testing::Test {
 protected:
  int Start(CShadrel& requester) {
    WCHAR root[] = WTEXT("C:\\");
    int length = 3;
    std::fill(std::begin(path), std::end(path), WCHAR('?'));
    return requester.VssStartBackupNoWriter(root, path, length);
  }

  std::ptrdiff_t Deleted() const {
    return std::count(script.calls.begin(), script.calls.end(), "DeleteSnapshot");
  }

  testing::StepScript script;
  VssProvider provider{[this] { return std::make_unique<testing::ScriptedSteps>(script); }};
  ScopedProvider installed{provider};
  WCHAR path[MAX_PATH] = {};
};

TEST_F(SharedRequester, CopiesAndAssignmentsShareOneSnapshotUntilTheLastHolderLetsGo) {
  CShadrel first;
  ASSERT_EQ(Start(first), 0);
  EXPECT_EQ(std::basic_string<WCHAR>(path), script.devicePath);
  {
    CShadrel copy(first);
    CShadrel assigned;
    assigned = first;
    assigned = assigned;
    EXPECT_EQ(first.VssBackupComplete(), 0);
    EXPECT_EQ(first.m_pSnapshot, nullptr);
    EXPECT_EQ(first.VssBackupComplete(), 0);
    first = assigned;
    EXPECT_EQ(Deleted(), 0);
  }
  EXPECT_EQ(Deleted(), 0);
  script.results["BackupComplete"] = kFailure;
  EXPECT_EQ(first.VssBackupComplete(), static_cast<int>(kFailure));
  EXPECT_EQ(Deleted(), 1);
}

TEST_F(SharedRequester, AssigningOverTheLastHoldReleasesItsSnapshot) {
  CShadrel held;
  CShadrel empty;
  ASSERT_EQ(Start(held), 0);
  held = empty;
  EXPECT_EQ(held.m_pSnapshot, nullptr);
  EXPECT_EQ(Deleted(), 1);

  {
    CShadrel destroyed;
    ASSERT_EQ(Start(destroyed), 0);
  }
  EXPECT_EQ(Deleted(), 2);
}

TEST_F(SharedRequester, AFailedStartReturnsItsResultAndKeepsTheSnapshotHeldBefore) {
  CShadrel requester;
  ASSERT_EQ(Start(requester), 0);
  void* held = requester.m_pSnapshot;
  script.results["DoSnapshotSet"] = kFailure;
  EXPECT_EQ(Start(requester), static_cast<int>(kFailure));
  EXPECT_EQ(requester.m_pSnapshot, held);
  EXPECT_EQ(path[0], WCHAR('?'));
  EXPECT_EQ(Deleted(), 0);

  script.results.clear();
  ASSERT_EQ(Start(requester), 0);
  EXPECT_EQ(Deleted(), 1);
}

TEST_F(SharedRequester, HoldersOnManyThreadsReleaseTheSnapshotExactlyOnce) {
  auto first = std::make_unique<CShadrel>();
  ASSERT_EQ(Start(*first), 0);
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([source = CShadrel(*first)] {
      for (int i = 0; i < 1000; ++i) {
        CShadrel copy(source);
        CShadrel assigned;
        assigned = copy;
        copy.VssBackupComplete();
      }
    });
  }
  first.reset();
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(Deleted(), 1);
}

}  // namespace
}  // namespace shadrel
