// The LVM engine's command lines and failures, against a stand-in lvm tool named by KESTRO_LVM
// and a probe that calls the mapped image a logical volume; and a real snapshot where the machine
// has device-mapper.
#include <Kestro32.h>
#include <shadrel/provider.h>
#include <shadrel/snapshots.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <win32/drive_map.h>
#include <win32/utf.h>

#include "fixtures.h"
#include "mapped_drive_test.h"
#include "held_snapshot.h"
#include "linux_provider.h"
#include "lvm_engine.h"
#include "snapshot_record.h"

using namespace win32;
using kestro::testing::MappedDriveTest;
using kestro::testing::ScopedEnv;
using kestro::testing::TempDir;
namespace snapshots = shadrel::linux_snapshots;

namespace {

const std::string kReport = "lvs --reportformat json -o lv_name,vg_name,lv_attr,lv_tags,origin ";

std::vector<std::string> Lines(const std::string& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class LvmSnapshot : public ::testing::Test {
 protected:
  LvmSnapshot() {
    std::filesystem::create_directory(dir_.File("bin"));
    std::filesystem::create_symlink(KESTRO_LVM_STANDIN, dir_.File("bin/lvm"));
    kestro::testing::MakeFat(image_, 16, 16 << 20);
    kestro::MapDrive('C', image_);
  }
  ~LvmSnapshot() override { kestro::UnmapDrive('C'); }

  // Starts a snapshot of C: through a provider of the LVM engine alone.
  int Start(std::string& path) {
    snapshots::LinuxProvider provider({&engine_});
    shadrel::ScopedProvider scoped(provider);
    WCHAR root[] = {u'C', u':', u'\\', 0};
    WCHAR out[MAX_PATH] = {};
    int length = 3;
    const int result = requester_.VssStartBackupNoWriter(root, out, length);
    path = kestro::ToUtf8(out);
    return result;
  }

  void Complete() {
    snapshots::LinuxProvider provider({&engine_});
    shadrel::ScopedProvider scoped(provider);
    requester_.VssBackupComplete();
  }

  TempDir dir_;
  std::string image_ = dir_.File("lv.img");
  std::string group_ = "kestrotest" + std::to_string(getpid());
  std::string log_ = dir_.File("lvm.log");
  ScopedEnv lvm_{"KESTRO_LVM", dir_.File("bin/lvm")};
  ScopedEnv logEnv_{"LVM_STANDIN_LOG", log_};
  ScopedEnv state_{"KESTRO_STATE_DIR", dir_.File("state")};
  ScopedEnv size_{"KESTRO_LVM_SNAPSHOT_SIZE", std::nullopt};
  snapshots::LvmEngine engine_{
      [this](const std::string& path) {
        return path == image_ ? std::optional<snapshots::LogicalVolume>({group_, "root"})
                              : std::nullopt;
      },
      std::chrono::milliseconds(200)};
  CShadrel requester_;
  std::string name_ = "kestro-snap-" + std::to_string(getpid()) + "-";
};

TEST_F(LvmSnapshot, MakesOpensAndRemovesASnapshotVolume) {
  if (geteuid() != 0) GTEST_SKIP() << "the stand-in's device node in /dev needs root";
  ScopedEnv source("LVM_STANDIN_SOURCE", image_);
  std::string path;
  ASSERT_EQ(Start(path), 0) << snapshots::LastFailure();
  EXPECT_EQ(path.rfind("\\\\?\\GLOBALROOT\\Device\\KestroSnapshot", 0), 0u);
  auto lines = Lines(log_);
  ASSERT_EQ(lines.size(), 1u);
  // A tenth of 16 MiB, in whole sectors.
  const std::string create = "lvcreate --snapshot --addtag kestro-snapshot --name ";
  EXPECT_EQ(lines[0].rfind(create + name_, 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(" --size 1677824B " + group_ + "/root"), std::string::npos) << lines[0];
  const std::string snapshot =
      group_ + "/" +
      lines[0].substr(create.size(), lines[0].find(' ', create.size()) - create.size());

  const auto wide = kestro::ToWide(kestro::FromUtf8(path));
  const HANDLE handle =
      CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  CloseHandle(handle);
  Complete();
  lines = Lines(log_);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], kReport + group_);
  EXPECT_EQ(lines[2], "lvremove -f " + snapshot);
  EXPECT_FALSE(std::filesystem::exists("/dev/" + snapshot));
  EXPECT_TRUE(snapshots::ScanRecords().records.empty());

  // One that cannot be removed is kept without a word on the host's output; the host asks why.
  ASSERT_EQ(Start(path), 0) << snapshots::LastFailure();
  ScopedEnv fail("LVM_STANDIN_FAIL", "lvremove");
  ::testing::internal::CaptureStdout();
  Complete();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  std::filesystem::remove_all("/dev/" + group_);
  EXPECT_NE(snapshots::ReleaseFailure().find("was kept for a later reap: lvremove of " + group_),
            std::string::npos);
  EXPECT_EQ(snapshots::ScanRecords().records.size(), 1u);
}

TEST_F(LvmSnapshot, EveryFailingStepIsReportedAndNothingIsLeftUnrecorded) {
  ScopedEnv size("KESTRO_LVM_SNAPSHOT_SIZE", "1000");
  // A descriptor of the host's that lvm must not be given.
  const int hosts = open("/dev/null", O_RDONLY);
  ScopedEnv probe("LVM_STANDIN_PROBE_FD", std::to_string(hosts));
  std::string path;
  {
    ScopedEnv fail("LVM_STANDIN_FAIL", "lvcreate");
    EXPECT_NE(Start(path), 0);
    EXPECT_EQ(snapshots::LastFailure(), "lvcreate of a snapshot of " + group_ +
                                            "/root failed: lvcreate: refused by the stand-in");
    EXPECT_NE(Lines(log_).at(0).find("--size 1024B"), std::string::npos);
    EXPECT_TRUE(snapshots::ScanRecords().records.empty());
  }
  // The device never appears: the snapshot volume is removed again.
  EXPECT_NE(Start(path), 0);
  EXPECT_NE(snapshots::LastFailure().find("did not appear after lvcreate"), std::string::npos);
  auto lines = Lines(log_);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3].rfind("lvremove -f " + group_ + "/" + name_, 0), 0u);
  EXPECT_TRUE(snapshots::ScanRecords().records.empty());

  // ... and when that removal fails too, the record stays for a later reap.
  ScopedEnv fail("LVM_STANDIN_FAIL", "lvremove");
  EXPECT_NE(Start(path), 0);
  EXPECT_NE(snapshots::LastFailure().find("lvremove of " + group_), std::string::npos);
  const auto kept = snapshots::ScanRecords().records;
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].engine, "lvm");
  EXPECT_EQ(snapshots::TargetOf(kept[0]).rfind(group_ + "/" + name_, 0), 0u);
  EXPECT_EQ(Lines(log_ + ".fds"), std::vector<std::string>());
  close(hosts);
}

// Records of a dead owner naming three volumes: a snapshot volume kestro made, one of kestro's
// name that is no snapshot and lacks its tag, and the group's origin volume itself.
TEST_F(LvmSnapshot, ReapRemovesOnlySnapshotVolumesKestroMade) {
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string id = std::to_string(dead) + "-";
  std::ofstream(log_ + ".volumes")
      << group_ << " kestro-snap-" << id << "1 swi-a-s--- kestro-snapshot root\n"
      << group_ << " kestro-snap-" << id << "2 -wi-a----- - -\n"
      << group_ << " root owi-a----- - -\n";
  for (const std::string n : {"1", "2", "3"}) {
    snapshots::SnapshotRecord record{
        id + n, dead, 0, "lvm", "",     0,
        "",     0,    0, "",    group_, n == "3" ? "root" : snapshots::SnapshotName(id + n),
        {}};
    std::string reason;
    ASSERT_TRUE(snapshots::SaveRecord(record, reason)) << reason;
  }
  const auto outcome = shadrel::ReapStaleSnapshots();
  EXPECT_EQ(outcome.removed, 1);
  ASSERT_EQ(outcome.failures.size(), 2u);
  EXPECT_NE(outcome.failures[0].find("is not a snapshot volume kestro made (attributes "
                                     "-wi-a-----, tags \"\"); kept"),
            std::string::npos)
      << outcome.failures[0];
  EXPECT_NE(outcome.failures[1].find(group_ + "/root is not named as kestro names"),
            std::string::npos)
      << outcome.failures[1];
  const auto lines = Lines(log_);
  ASSERT_EQ(lines.size(), 3u);  // two reports, one removal
  EXPECT_EQ(lines[1], "lvremove -f " + group_ + "/kestro-snap-" + id + "1");
  EXPECT_EQ(snapshots::ScanRecords().records.size(), 2u);
}

// A volume group on a loop device, removed with everything in it.
class ScratchVolumeGroup {
 public:
  ScratchVolumeGroup(std::string group, std::string device)
      : group_(std::move(group)), device_(std::move(device)) {}
  ~ScratchVolumeGroup() {
    kestro::testing::RunCommand("lvm vgremove -q -f " + group_ + "; lvm pvremove -q -f " + device_);
  }
  ScratchVolumeGroup(const ScratchVolumeGroup&) = delete;
  ScratchVolumeGroup& operator=(const ScratchVolumeGroup&) = delete;

 private:
  std::string group_;
  std::string device_;
};

using RealLvmSnapshot = MappedDriveTest;

TEST_F(RealLvmSnapshot, ReadsTheVolumeAsItWasAndIsRemovedWithItsLastHolder) {
  if (!std::filesystem::exists("/dev/mapper/control")) {
    GTEST_SKIP() << "no device-mapper on this machine (/dev/mapper/control is absent)";
  }
  KESTRO_REQUIRE_TOOL("lvm");
  ScopedEnv state("KESTRO_STATE_DIR", dir.File("state"));
  kestro::testing::CreateSparseFile(dir.File("pv.img"), 128 << 20);
  std::string whyNot;
  auto loop = kestro::testing::LoopDevice::Attach(dir.File("pv.img"), &whyNot);
  if (!loop) GTEST_SKIP() << whyNot;
  const std::string group = "kestroreal" + std::to_string(getpid());
  ScratchVolumeGroup scratch(group, loop->device());
  const std::string origin = "/dev/" + group + "/vol";
  const auto made = kestro::testing::RunCommand(
      "lvm pvcreate -q " + loop->device() + " && lvm vgcreate -q " + group + " " + loop->device() +
      " && lvm lvcreate -q -L 32M -n vol " + group + " && mkfs.fat -F 16 " + origin);
  ASSERT_EQ(made.status, 0) << made.output;
  kestro::MapDrive('C', origin);
  const auto before = kestro::testing::ReadBytes(origin, 1 << 20, 4096);
  {
    CKestro32 volume(3, 1);
    ASSERT_EQ(volume.m_bVssActive, 1);
    kestro::testing::WriteBytes(origin, 1 << 20, kestro::testing::Pattern(0, 4096, 3));
    volume.Initial(1 << 16);
    std::vector<uint8_t> bytes(4096);
    DWORD read = 0;
    ASSERT_TRUE(volume.SeekNT(1 << 20, 0));
    ASSERT_EQ(volume.ReadNT(bytes.data(), 4096, &read), 0u);
    EXPECT_EQ(bytes, before);
  }
  kestro::UnmapDrive('C');
  const auto volumes = kestro::testing::RunCommand("lvm lvs --noheadings -o lv_name " + group);
  EXPECT_EQ(volumes.output.find("kestro-snap"), std::string::npos) << volumes.output;
}

}  // namespace
