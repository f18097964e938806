// What a local user can make kestro do through names alone: links planted in a folder they may
// write that a root kestro would follow, and names that carry terminal controls or bytes that are
// not UTF-8.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

namespace fs = std::filesystem;

class HostileNames : public KestroTest {};

// As an unprivileged user with no groups.
CommandResult AsNobody(const std::string& command) {
  return RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups sh -c " +
                    ShellQuote(command));
}

TEST_F(HostileNames, LinksOthersPlantInASharedFolderAreNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act for an unprivileged attacker";
  chmod(dir.path().c_str(), 0755);
  const std::string locked = dir.File("locked");
  const std::string shared = dir.File("shared");
  fs::create_directory(locked);
  fs::create_directory(shared);
  chmod(locked.c_str(), 0700);
  chmod(shared.c_str(), 01777);
  const std::string image = locked + "/fat.img";
  ASSERT_EQ(Kestro("backup " + Partition(kSampleFat) + " " + ShellQuote(image) + " -q").status, 0);
  const std::string imageSha = Sha256(image);
  ASSERT_EQ(AsNobody("ln -s " + ShellQuote(image) + " " + ShellQuote(shared + "/target.img") +
                     " && ln -s " + ShellQuote(image) + " " + ShellQuote(shared + "/mine.img") +
                     " && truncate -s 36M " + ShellQuote(shared + "/copy.img"))
                .status,
            0);

  // A folder of the attacker's own, which is not shared at all, is no safer.
  const std::string theirs = dir.File("theirs");
  fs::create_directory(theirs);
  ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
  ASSERT_EQ(AsNobody("ln -s " + ShellQuote(image) + " " + ShellQuote(theirs + "/t.img")).status, 0);
  // Folders too: a backup's image folder, and a mount's folder (an empty one of root's).
  const std::string empty = dir.File("empty");
  fs::create_directory(empty);
  ASSERT_EQ(AsNobody("ln -s " + ShellQuote(locked) + " " + ShellQuote(theirs + "/dir") +
                     " && ln -s " + ShellQuote(empty) + " " + ShellQuote(theirs + "/mnt"))
                .status,
            0);

  const std::vector<std::string> steered = {
      "restore " + ShellQuote(disk) + " " + ShellQuote(shared + "/target.img") + " --force -q",
      "restore " + ShellQuote(disk) + " " + ShellQuote(theirs + "/t.img") + " --force -q",
      "restore " + ShellQuote(shared + "/mine.img") + " " + ShellQuote(shared + "/copy.img") +
          " -q",
      "verify " + ShellQuote(shared + "/mine.img") + " " + ShellQuote(image),
      "cat " + ShellQuote(shared + "/mine.img"),
      "backup " + Partition(kSampleFat) + " " + ShellQuote(theirs + "/dir/new.img") + " -q",
      "mount " + ShellQuote(image) + " " + ShellQuote(theirs + "/mnt"),
      "restore " + ShellQuote(disk) + " Q: --force -q"};
  // A drive letter's mapping is a path like the others.
  const ScopedEnv drive("KESTRO_DRIVE_Q", shared + "/target.img");
  for (const std::string& command : steered) {
    const auto result = Kestro(command);
    EXPECT_EQ(result.status, 1) << command << "\n" << result.output;
    EXPECT_NE(result.output.find("of user 65534 in a folder another user may change; "
                                 "refusing to follow it"),
              std::string::npos)
        << command << "\n"
        << result.output;
  }
  RunCommand("fusermount3 -u -q " + ShellQuote(empty));
  EXPECT_FALSE(fs::exists(locked + "/new.img"));
  EXPECT_EQ(Sha256(image), imageSha);
  EXPECT_EQ(RunCommand("cmp -s -n 36M " + ShellQuote(shared + "/copy.img") + " /dev/zero").status,
            0);

  // The caller's own link in the same folder is followed.
  fs::create_symlink(image, shared + "/own.img");
  const auto own = Kestro("verify " + ShellQuote(shared + "/own.img") + " " + ShellQuote(image));
  EXPECT_EQ(own.status, 0) << own.output;
}

TEST_F(HostileNames, ControlsAndBytesThatAreNotUtf8AreShownEscaped) {
  const std::string named = dir.File("a\x1b[2J\a\nkestro: forged\xff.img");
  fs::copy_file(disk, named);
  const std::string shown = dir.File("a\\x1b[2J\\x07\\nkestro: forged\\xff.img");

  const auto info = Kestro("info " + ShellQuote(named));
  const auto missing = Kestro("verify " + ShellQuote(disk) + " " + ShellQuote(named + ".none"));
  const auto backup = Kestro("backup " + ShellQuote(named) + " " + dir.File("out.img") + " -q");
  const auto json = KestroOutput("info --json " + ShellQuote(named));
  for (const auto& result : {info, missing, backup}) {
    EXPECT_EQ(result.output.find_first_of("\x1b\a\xff"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("\nkestro: forged"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find(shown), std::string::npos) << result.output;
  }
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(backup.status, 0);
  EXPECT_EQ(json.status, 0) << json.output;
  const auto sidecar = nlohmann::json::parse(ReadFileText(dir.File("out.img.kestro")));
  EXPECT_EQ(sidecar["source"].get<std::string>().find('\xff'), std::string::npos);
  EXPECT_TRUE(nlohmann::json::accept(json.output)) << json.output;
}

}  // namespace
}  // namespace kestro::testing
