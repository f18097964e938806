// kestro: the command table. Each subcommand's options are parsed into its option set and the
// subcommand's own file does the work. Exit status: 0 success, 1 failure, 2 bad usage.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "commands.h"
#include "diagnostics.h"
#include "errors.h"
#include "interrupt.h"
#include "read_only_backend.h"
#include "sizes.h"
#include "standard_streams.h"
#include "printable.h"
#include "zstd_option.h"

using namespace kestro::cli;

namespace {

constexpr uint64_t kPageSize = 4096;
constexpr uint64_t kLargestBuffer = 1u << 30;

const CLI::Validator kSize(
    [](std::string& text) -> std::string {
      return ParseSize(text) ? "" : "not a size: " + text + " (digits, then K, M, G or T)";
    },
    "SIZE");

const CLI::Validator kBufferSize(
    [](std::string& text) -> std::string {
      const auto size = ParseSize(text);
      if (!size) return "not a size: " + text + " (digits, then K, M, G or T)";
      if (*size < kPageSize || *size > kLargestBuffer || *size % kPageSize != 0) {
        return "the buffer must be a multiple of 4K from 4K to 1G, not " + text;
      }
      return "";
    },
    "SIZE");

const CLI::Validator kCompression(
    [](std::string& text) -> std::string {
      return ParseZstdOption(text) ? ""
                                   : "not a compression: " + text +
                                         " (zstd, zstd:LEVEL from 1 to 19, then ,frame=SIZE "
                                         "from 64K to 64M)";
    },
    "zstd[:LEVEL][,frame=SIZE]");

// The permission bits --mode gives an image: octal, at most 0777, so never setuid, setgid or
// sticky.
constexpr unsigned kLargestMode = 0777;

const CLI::Validator kMode(
    [](std::string& text) -> std::string {
      const bool octal = !text.empty() && text.size() <= 4 &&
                         text.find_first_not_of("01234567") == std::string::npos;
      if (octal && std::stoul(text, nullptr, 8) <= kLargestMode) return "";
      return "not a mode: " + text +
             " (octal permission bits up to 0777; no setuid, setgid or "
             "sticky bit)";
    },
    "OCTAL");

uint64_t SizeOf(const std::string& text, uint64_t otherwise) {
  return text.empty() ? otherwise : *ParseSize(text);
}

void AddVolume(CLI::App* command, VolumeArgs& volume) {
  command
      ->add_option("VOLUME", volume.volume,
                   "A mapped drive letter (C:), or a block device or "
                   "image file")
      ->required();
  command
      ->add_option("--partition", volume.partition,
                   "Partition N of the device or image (as its partition table numbers it)")
      ->check(CLI::Range(1u, 256u))
      ->option_text("N");
}

void AddImage(CLI::App* command, std::string& image, const char* what) {
  command->add_option("IMAGE", image, what)->required();
}

void AddBuffer(CLI::App* command, std::string& buffer) {
  command->add_option("--buffer", buffer, "Transfer size and staging buffer (default 1M)")
      ->check(kBufferSize)
      ->option_text("SIZE");
}

void AddHash(CLI::App* command, std::string& hash, bool allowNone) {
  const char* names = allowNone ? "sha256|xxh128|none" : "sha256|xxh128";
  command->add_option("--hash", hash, "Digest of the image (default sha256)")
      ->check(CLI::Validator(
          [allowNone, names](std::string& text) -> std::string {
            const auto kind = HashKindNamed(text);
            if (kind && (allowNone || *kind != HashKind::kNone)) return "";
            return "not a digest: " + text + " (" + names + ")";
          },
          names))
      ->option_text(names);
}

HashKind HashOf(const std::string& text) {
  return text.empty() ? HashKind::kSha256 : *HashKindNamed(text);
}

struct Commands {
  InfoOptions info;
  BackupOptions backup;
  RestoreOptions restore;
  VerifyOptions verify;
  CatOptions cat;
  DemoOptions demo;
  SnapshotsOptions snapshots;
  MountOptions mount;
  std::string mountOptions;
  std::string backupSnapshot;
  std::string backupBuffer, restoreBuffer, verifyBuffer, catOffset, catLength;
  std::string backupHash, restoreHash, backupCompression, backupMode;
};

int Dispatch(CLI::App& app, Commands& c) {
  if (app.got_subcommand("list")) return RunList();
  if (app.got_subcommand("snapshots")) return RunSnapshots(c.snapshots);
  if (app.got_subcommand("info")) return RunInfo(c.info);
  if (app.got_subcommand("backup")) {
    c.backup.bufferSize = SizeOf(c.backupBuffer, kDefaultBufferSize);
    c.backup.hash = HashOf(c.backupHash);
    if (!c.backupCompression.empty()) c.backup.zstd = *ParseZstdOption(c.backupCompression);
    c.backup.snapshot = !c.backupSnapshot.empty();
    c.backup.snapshotRequired = c.backupSnapshot == "required";
    if (!c.backupMode.empty())
      c.backup.mode = static_cast<mode_t>(std::stoul(c.backupMode, nullptr, 8));
    return RunBackup(c.backup);
  }
  if (app.got_subcommand("restore")) {
    c.restore.bufferSize = SizeOf(c.restoreBuffer, kDefaultBufferSize);
    c.restore.hash = HashOf(c.restoreHash);
    return RunRestore(c.restore);
  }
  if (app.got_subcommand("verify")) {
    c.verify.bufferSize = SizeOf(c.verifyBuffer, kDefaultBufferSize);
    return RunVerify(c.verify);
  }
  if (app.got_subcommand("mount")) {
    c.mount.allowOther = c.mountOptions == "allow_other";
    return RunMount(c.mount);
  }
  if (app.got_subcommand("cat")) {
    c.cat.offset = SizeOf(c.catOffset, 0);
    if (!c.catLength.empty()) c.cat.length = *ParseSize(c.catLength);
    return RunCat(c.cat);
  }
  return RunDemo(c.demo);
}

int Run(int argc, char** argv) {
  CLI::App app{"Back up, restore and inspect volumes through the Kestro32 volume library.",
               "kestro"};
  app.require_subcommand(1, 1);
  app.fallthrough();  // --verbose after the subcommand too
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Show the library's diagnostic lines on standard error");
  Commands c;

  app.add_subcommand("list", "Show the mapped drives and the machine's block devices");

  CLI::App* info = app.add_subcommand("info", "Show what the volume object reports about a volume");
  AddVolume(info, c.info.volume);
  info->add_flag("--json", c.info.json, "Print one JSON document, for scripts");
  info->add_flag("--snapshot", c.info.snapshot, "Open the volume through a snapshot");

  CLI::App* backup = app.add_subcommand("backup", "Copy a volume into a sparse image file");
  AddVolume(backup, c.backup.volume);
  AddImage(backup, c.backup.image, "The image file to write, or - for standard output");
  backup
      ->add_flag("--snapshot{preferred}", c.backupSnapshot,
                 "Read a point-in-time snapshot of the volume; with =required, fail when none "
                 "can be made")
      ->check(CLI::IsMember({"preferred", "required"}))
      ->option_text("[=required]");
  AddBuffer(backup, c.backupBuffer);
  AddHash(backup, c.backupHash, true);
  backup->add_flag("-q,--quiet", c.backup.quiet, "No progress bar");
  backup
      ->add_option("--compress", c.backupCompression,
                   "Write a seekable zstd stream (level 1-19, default 3; frames of 1M of image "
                   "unless frame= says otherwise); a file's name gets .zst")
      ->check(kCompression)
      ->option_text("zstd[:LEVEL][,frame=SIZE]");
  backup->add_flag("--rescue", c.backup.rescue,
                   "Zero-fill unreadable sectors and list them in IMAGE.rescue-map");
  backup->add_flag("--used-only", c.backup.usedOnly,
                   "Copy only what the FAT, NTFS or ext2/3/4 file system uses; leave the rest "
                   "as holes");
  backup->add_flag("--force", c.backup.force,
                   "With --used-only, copy by the bitmaps of an ext file system that is not clean");
  backup
      ->add_option("--mode", c.backupMode,
                   "Permissions of the image, its sidecar and rescue map (default 0600)")
      ->check(kMode)
      ->option_text("OCTAL");

  CLI::App* restore = app.add_subcommand("restore", "Write an image back onto a volume");
  AddImage(restore, c.restore.image, "The image file to read, or - for standard input");
  AddVolume(restore, c.restore.volume);
  restore->add_flag("--force", c.restore.force,
                    "Write even when another process holds the volume's lock (never over a mounted "
                    "file system or swap area), or the image is incomplete, a rescue image or "
                    "differs from its recorded digest");
  AddBuffer(restore, c.restoreBuffer);
  AddHash(restore, c.restoreHash, false);
  restore->add_flag("-q,--quiet", c.restore.quiet, "No progress bar");
  restore
      ->add_option("--expect-digest", c.restore.expectDigest,
                   "Fail unless what was written has this digest (in --hash's algorithm)")
      ->option_text("HEX");

  CLI::App* verify = app.add_subcommand("verify", "Compare a volume with an image");
  AddVolume(verify, c.verify.volume);
  AddImage(verify, c.verify.image, "The image file to compare with, or - for standard input");
  verify->add_flag("--force", c.verify.force,
                   "Compare even an image that is incomplete or shorter than the volume");
  AddBuffer(verify, c.verifyBuffer);
  verify->add_flag("-q,--quiet", c.verify.quiet, "No progress bar");

  CLI::App* cat = app.add_subcommand("cat", "Write a volume's raw bytes to standard output");
  AddVolume(cat, c.cat.volume);
  cat->add_option("--offset", c.catOffset, "First byte (default 0)")
      ->check(kSize)
      ->option_text("SIZE");
  cat->add_option("--length", c.catLength, "Bytes to write (default: to the end)")
      ->check(kSize)
      ->option_text("SIZE");

  CLI::App* mount = app.add_subcommand("mount", "Serve an image read-only as the file DIR/volume");
  AddImage(mount, c.mount.image, "The image file to serve");
  mount->add_option("DIR", c.mount.folder, "An empty folder to mount on")->required();
  mount->add_flag("-f,--foreground", c.mount.foreground, "Stay in the foreground until unmounted");
  mount->add_option("-o", c.mountOptions, "allow_other: let other users open DIR/volume")
      ->check(CLI::IsMember({"allow_other"}));
  mount->add_flag("--verify", c.mount.verify, "Check the whole image against its digest first");
  mount->add_flag("--force", c.mount.force, "Serve even an incomplete image");
  mount->add_flag("-q,--quiet", c.mount.quiet, "No progress bar");

  CLI::App* snapshots =
      app.add_subcommand("snapshots", "List the snapshots on record, live and stale");
  snapshots->add_flag("--reap", c.snapshots.reap,
                      "Remove the stale snapshots, whose owner is gone");

  CLI::App* demo = app.add_subcommand("demo", "Run info, backup and verify on the bundled sample");
  demo->add_flag("--keep", c.demo.keep, "Keep the unpacked sample and the images");
  demo->add_flag("-q,--quiet", c.demo.quiet, "No progress bars");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "kestro: %s (see kestro --help)\n", Printable(e.what()).c_str());
    return kExitUsage;
  }

  InstallInterruptHandler();
  DiagnosticsBackend diagnostics(win32::DefaultBackend(), verbose);
  ReadOnlyBackend readOnly(win32::DefaultBackend(), verbose);
  const bool writes = app.got_subcommand("restore");
  win32::ScopedBackend useDiagnostics(writes ? diagnostics : readOnly);
  return Dispatch(app, c);
}

// Runs the command; every failure ends here as one line on standard error, after what the
// command printed.
int RunOrExplain(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Failure& failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "kestro: %s\n", Printable(failure.what()).c_str());
    return failure.status();
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "kestro: %s\n", Printable(e.what()).c_str());
  } catch (...) {
    std::fflush(stdout);
    std::fprintf(stderr, "kestro: an unexpected failure\n");
  }
  return kExitFailure;
}

}  // namespace

// A command whose output could not be written has failed, whatever it did.
int main(int argc, char** argv) {
  return FinishStandardStreams(RunOrExplain(argc, argv));
}
