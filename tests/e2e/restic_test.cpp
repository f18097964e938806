// The README's recipe for incremental backups: kestro streams the volume into restic, which keeps
// only the chunks it has not seen, and restic's dump streams it back into kestro restore, checked
// against the digest of the backup.
#include <regex>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

constexpr uint64_t kVolumeBytes = 256ull << 20;

class Restic : public KestroTest {
 protected:
  void SetUp() override {
    KESTRO_REQUIRE_TOOL("restic");
    KestroTest::SetUp();
    environment = "RESTIC_PASSWORD=kestro RESTIC_REPOSITORY=" + ShellQuote(dir.File("repo")) + " ";
    ASSERT_EQ(RunCommand(environment + "restic init -q").status, 0);
  }

  // Backs `volume` up into the repository; returns the digest kestro printed for the stream.
  std::string Backup(const std::string& volume) {
    const auto result = Pipeline(ShellQuote(KESTRO_PROGRAM) + " backup " + ShellQuote(volume) +
                                 " - -q 2>" + ShellQuote(dir.File("log")) + " | " + environment +
                                 "restic backup -q --stdin --stdin-filename volume.img");
    EXPECT_EQ(result.status, 0) << result.output;
    std::smatch digest;
    const std::string log = ReadFileText(dir.File("log"));
    EXPECT_TRUE(
        std::regex_search(log, digest, std::regex("^([0-9a-f]{64})  -$", std::regex::multiline)))
        << log;
    return digest.empty() ? "" : digest[1].str();
  }

  // Runs `commands`, a pipeline that fails when any of its commands fails.
  static CommandResult Pipeline(const std::string& commands) {
    return RunCommand("bash -o pipefail -c " + ShellQuote(commands));
  }

  uint64_t RepositoryBytes() {
    return std::stoull(RunCommand("du -sb " + ShellQuote(dir.File("repo")) + " | cut -f1").output);
  }

  std::string environment;
};

TEST_F(Restic, ASecondBackupAddsOnlyWhatChangedAndRestoresExactly) {
  const std::string volume = dir.File("volume");
  CreateRandomFile(volume, kVolumeBytes);
  Backup(volume);
  const uint64_t first = RepositoryBytes();
  // 1% of the volume, in three runs, as files written to a file system change it.
  for (const uint64_t at : {10ull << 20, 100ull << 20, 200ull << 20}) {
    const std::string run = dir.File("run");
    CreateRandomFile(run, kVolumeBytes / 300);
    WriteBytes(volume, at, ReadBytes(run, 0, kVolumeBytes / 300));
  }
  const std::string digest = Backup(volume);
  EXPECT_LE(RepositoryBytes() - first, kVolumeBytes / 10);

  const std::string target = dir.File("target");
  CreateRandomFile(target, kVolumeBytes);
  const auto restored =
      Pipeline(environment + "restic dump latest volume.img | " + ShellQuote(KESTRO_PROGRAM) +
               " restore - " + ShellQuote(target) + " -q --expect-digest " + digest);
  ASSERT_EQ(restored.status, 0) << restored.output;
  EXPECT_EQ(Sha256(target), Sha256(volume));
}

}  // namespace
}  // namespace kestro::testing
