#include "linux_provider.h"

#include <chrono>

#include <win32/utf.h>
#include <win32/volume_storage.h>

#include "descriptor.h"
#include "held_snapshot.h"
#include "housekeeping.h"
#include "lvm_engine.h"
#include "private_dir.h"
#include "reflink_engine.h"

namespace shadrel {
namespace linux_snapshots {
namespace {

constexpr char kDevicePrefix[] = "\\\\?\\GLOBALROOT\\Device\\";
constexpr size_t kPathCapacity = 260;  // characters of the caller's buffer, terminator included

thread_local std::string t_lastFailure;

// The drive letter of a root path ("C:\" or "C:"), upper case, or 0.
char DriveLetterOf(const win32::WCHAR* root) {
  if (root == nullptr) return 0;
  const char16_t first = static_cast<char16_t>(root[0]);
  const char16_t letter = first >= u'a' && first <= u'z' ? first - (u'a' - u'A') : first;
  if (letter < u'A' || letter > u'Z' || root[1] != u':') return 0;
  if (root[2] != 0 && !(root[2] == u'\\' && root[3] == 0)) return 0;
  return static_cast<char>(letter);
}

// The origin as records show it: a host's descriptor by the name its file has now.
std::string OriginOf(const kestro::VolumeStorage& storage) {
  std::string shown = CurrentName(storage.path);
  if (storage.offset == 0) return shown;
  return shown + " at byte " + std::to_string(storage.offset);
}

bool WritePath(const std::string& device, win32::WCHAR* out) {
  const auto wide = kestro::ToWide(kestro::FromUtf8(kDevicePrefix + device));
  if (wide.size() >= kPathCapacity) return false;
  std::copy(wide.begin(), wide.end(), out);
  out[wide.size()] = 0;
  return true;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

// The host learns why through LastSnapshotFailure; its standard output is its own.
int FailStart(int code, const std::string& reason) {
  t_lastFailure = reason;
  return code;
}

const std::vector<Engine*>& DefaultEngines() {
  static ReflinkEngine reflink;
  static LvmEngine lvm;
  static const std::vector<Engine*> engines{&reflink, &lvm};
  return engines;
}

void LinuxProvider::Construct(CShadrel& self) {
  self.m_pSnapshot = nullptr;
}

void LinuxProvider::Copy(CShadrel& self, const CShadrel& source) {
  self.m_pSnapshot = AddHolder(source.m_pSnapshot);
}

void LinuxProvider::Assign(CShadrel& self, const CShadrel& source) {
  if (self.m_pSnapshot == source.m_pSnapshot) return;
  void* previous = self.m_pSnapshot;
  self.m_pSnapshot = AddHolder(source.m_pSnapshot);
  LetGo(previous);
}

void LinuxProvider::Destroy(CShadrel& self) {
  LetGo(self.m_pSnapshot);
  self.m_pSnapshot = nullptr;
}

int LinuxProvider::BackupComplete(CShadrel& self) {
  LetGo(self.m_pSnapshot);
  self.m_pSnapshot = nullptr;
  return 0;
}

int LinuxProvider::StartBackupNoWriter(CShadrel& self, win32::WCHAR* rootPath,
                                       win32::WCHAR* snapshotPath, int&) {
  BackupComplete(self);
  ReapStale(engines_);
  const char letter = DriveLetterOf(rootPath);
  const std::string subject = letter ? std::string(1, letter) + ":" : "an invalid root path";
  win32::DWORD error = 0;
  const auto origin = letter ? kestro::LocateDriveStorage(letter, &error) : std::nullopt;
  if (!origin) return FailStart(kObjectNotFound, subject + " is not a mapped drive");
  for (Engine* engine : engines_) {
    SnapshotRecord record = NewRecord(engine->name(), OriginOf(*origin));
    const auto start = std::chrono::steady_clock::now();
    const Attempt attempt = engine->Make(*origin, record);
    if (!attempt.claimed) continue;
    if (!attempt.storage) {
      std::string ignored;  // the start's own failure is the one to report
      if (!attempt.leftover) DeleteRecord(record, ignored);
      return FailStart(kProviderError, attempt.reason);
    }
    auto* held = Hold(new HeldSnapshot{engine, record, {}, attempt.kept, MillisecondsSince(start)});
    held->device = PublishDevice(*held, *attempt.storage);
    self.m_pSnapshot = held;
    if (!WritePath(held->device, snapshotPath)) {
      BackupComplete(self);
      return FailStart(kProviderError, "the snapshot device name is too long");
    }
    t_lastFailure.clear();
    return 0;
  }
  return FailStart(kVolumeNotSupported,
                   Printable(origin->path) + " is neither file-backed nor an LVM logical volume");
}

std::string LastFailure() {
  return t_lastFailure;
}

}  // namespace linux_snapshots
}  // namespace shadrel
