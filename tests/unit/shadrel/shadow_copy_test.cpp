// The shadow copy's sequence over scripted backup steps: the order of the steps, the result of
// a failing one, and that everything made is undone.
#include <shadow_copy.h>

#include <gtest/gtest.h>

#include "scripted_steps.h"

using namespace win32;

namespace shadrel {
namespace {

using Calls = std::vector<std::string>;

const Calls kMakeSteps = {"InitializeCom",       "CreateComponents",   "InitializeForBackup",
                          "SetBackupContext",    "SetCopyBackupState", "StartSnapshotSet",
                          "AddVolume",           "PrepareForBackup",   "DoSnapshotSet",
                          "SnapshotDeviceObject"};
const Calls kReleaseSteps = {"BackupComplete", "DeleteSnapshot", "ReleaseComponents",
                             "UninitializeCom"};

constexpr HResult kFailure = static_cast<HResult>(0x80042306u);

class ShadowCopyTest : public ::testing::Test {
 protected:
  HResult Make(const WCHAR* root = WTEXT("C:\\")) { return copy.Make(root, devicePath); }

  testing::StepScript script;
  ShadowCopy copy{std::make_unique<testing::ScriptedSteps>(script)};
  std::basic_string<WCHAR> devicePath;
};

TEST_F(ShadowCopyTest, MakesACopyBackupOfTheRootAndReleasesItOnce) {
  ASSERT_EQ(Make(), kOk);
  EXPECT_EQ(script.calls, kMakeSteps);
  EXPECT_EQ(script.volume, WTEXT("C:\\"));
  EXPECT_EQ(devicePath, script.devicePath);

  script.calls.clear();
  EXPECT_EQ(copy.Release(), kOk);
  EXPECT_EQ(script.calls, kReleaseSteps);
  EXPECT_EQ(copy.Release(), kOk);
  EXPECT_EQ(script.calls, kReleaseSteps);
}

TEST_F(ShadowCopyTest, TheVolumeNameGetsOneTrailingBackslash) {
  ASSERT_EQ(Make(WTEXT("D:")), kOk);
  EXPECT_EQ(script.volume, WTEXT("D:\\"));
  EXPECT_EQ(Make(nullptr), kInvalidArgument);
}

TEST(ShadowCopyFailure, AFailingStepIsReturnedAndEverythingMadeBeforeItUndone) {
  const std::map<std::string, Calls> undoneAfter = {
      {"InitializeCom", {}},
      {"CreateComponents", {"UninitializeCom"}},
      {"InitializeForBackup", {"ReleaseComponents", "UninitializeCom"}},
      {"DoSnapshotSet", {"AbortBackup", "ReleaseComponents", "UninitializeCom"}},
      {"SnapshotDeviceObject",
       {"DeleteSnapshot", "AbortBackup", "ReleaseComponents", "UninitializeCom"}},
  };
  for (size_t failing = 0; failing < kMakeSteps.size(); ++failing) {
    const std::string& step = kMakeSteps[failing];
    SCOPED_TRACE(step);
    testing::StepScript script;
    script.results[step] = kFailure;
    std::basic_string<WCHAR> devicePath;
    {
      ShadowCopy copy(std::make_unique<testing::ScriptedSteps>(script));
      EXPECT_EQ(copy.Make(WTEXT("C:\\"), devicePath), kFailure);
    }
    EXPECT_TRUE(devicePath.empty());
    Calls expected(kMakeSteps.begin(), kMakeSteps.begin() + static_cast<long>(failing) + 1);
    // The steps between InitializeForBackup and DoSnapshotSet are undone as DoSnapshotSet is.
    const auto undo =
        undoneAfter.count(step) ? undoneAfter.at(step) : undoneAfter.at("DoSnapshotSet");
    expected.insert(expected.end(), undo.begin(), undo.end());
    EXPECT_EQ(script.calls, expected);
  }
}

TEST_F(ShadowCopyTest, ComIsBalancedOnlyWhereThisCopyInitialisedIt) {
  script.results["InitializeCom"] = kFalse;
  ASSERT_EQ(Make(), kOk);
  copy.Release();
  EXPECT_EQ(script.calls.back(), "UninitializeCom");

  // A thread already in a single-threaded apartment keeps it and is not uninitialised.
  script.calls.clear();
  script.results["InitializeCom"] = kChangedMode;
  ASSERT_EQ(Make(), kOk);
  copy.Release();
  EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "UninitializeCom"), 0);
  EXPECT_EQ(script.calls.back(), "ReleaseComponents");
}

TEST_F(ShadowCopyTest, ADevicePathThatCannotFitMaxPathIsUndone) {
  script.devicePath.assign(MAX_PATH - 1, WCHAR('x'));
  ASSERT_EQ(Make(), kOk);
  copy.Release();

  script.calls.clear();
  script.devicePath.push_back(WCHAR('x'));
  EXPECT_EQ(Make(), kInsufficientBuffer);
  EXPECT_TRUE(devicePath.empty());
  EXPECT_EQ(script.calls.back(), "UninitializeCom");
  EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "DeleteSnapshot"), 1);
}

TEST_F(ShadowCopyTest, AReleaseReportsItsFirstFailureAndStillDeletesAndAborts) {
  ASSERT_EQ(Make(), kOk);
  script.calls.clear();
  script.results["BackupComplete"] = kFailure;
  script.results["DeleteSnapshot"] = kOutOfMemory;
  EXPECT_EQ(copy.Release(), kFailure);
  EXPECT_EQ(script.calls, (Calls{"BackupComplete", "DeleteSnapshot", "AbortBackup",
                                 "ReleaseComponents", "UninitializeCom"}));

  script.results.erase("BackupComplete");
  ASSERT_EQ(Make(), kOk);
  EXPECT_EQ(copy.Release(), kOutOfMemory);
}

}  // namespace
}  // namespace shadrel
