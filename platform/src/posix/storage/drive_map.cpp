#include "storage/drive_map.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include <win32/drive_map.h>
#include <win32/errors.h>

#include "errno_map.h"
#include "storage/block_device.h"
#include "storage/partition_table.h"

extern char** environ;

using namespace win32;

namespace kestro {
namespace {

struct Mappings {
  std::map<char, DriveMapping> drives;
  std::map<int, std::string> disks;
};

std::mutex g_codeMutex;
Mappings g_code;  // mappings the host made through MapDrive and MapPhysicalDrive

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

std::optional<unsigned> ParseNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return static_cast<unsigned>(std::stoul(text));
}

// Applies one "KEY=value" assignment of the drives file or the environment (without its
// KESTRO_ prefix): "C", "C_PARTITION" or "PHYSICALDRIVE<n>".
void Apply(Mappings& into, std::map<char, unsigned>& partitions, const std::string& key,
           const std::string& value) {
  if (key.size() == 1 && IsLetter(key[0])) {
    const char letter = Upper(key[0]);
    into.drives[letter] = DriveMapping{letter, value, 0};
  } else if (key.size() == 11 && IsLetter(key[0]) && key.compare(1, 10, "_PARTITION") == 0) {
    // An unparsable number selects no partition at all, so the letter cannot be opened.
    partitions[Upper(key[0])] = ParseNumber(value).value_or(UINT_MAX);
  } else if (key.rfind("PHYSICALDRIVE", 0) == 0) {
    if (auto number = ParseNumber(key.substr(13))) into.disks[static_cast<int>(*number)] = value;
  }
}

// A source's partition numbers belong to that source's own drive paths.
void AttachPartitions(Mappings& mappings, const std::map<char, unsigned>& partitions) {
  for (auto& [letter, mapping] : mappings.drives) {
    auto found = partitions.find(letter);
    if (found != partitions.end()) mapping.partition = found->second;
  }
}

Mappings FromFile() {
  Mappings mappings;
  const char* file = std::getenv("KESTRO_DRIVES_FILE");
  if (file == nullptr || *file == 0) return mappings;
  std::ifstream in(file);
  std::map<char, unsigned> partitions;
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    Apply(mappings, partitions, line.substr(0, eq), line.substr(eq + 1));
  }
  AttachPartitions(mappings, partitions);
  return mappings;
}

Mappings FromEnvironment() {
  Mappings mappings;
  std::map<char, unsigned> partitions;
  static const char kPrefix[] = "KESTRO_";
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string assignment(*entry);
    const size_t eq = assignment.find('=');
    if (assignment.rfind(kPrefix, 0) != 0 || eq == std::string::npos) continue;
    std::string key = assignment.substr(sizeof kPrefix - 1, eq - (sizeof kPrefix - 1));
    if (key.rfind("DRIVE_", 0) == 0)
      key = key.substr(6);
    else if (key.rfind("PHYSICALDRIVE", 0) != 0)
      continue;
    Apply(mappings, partitions, key, assignment.substr(eq + 1));
  }
  AttachPartitions(mappings, partitions);
  return mappings;
}

void Overlay(Mappings& base, const Mappings& top) {
  for (const auto& [letter, mapping] : top.drives) base.drives[letter] = mapping;
  for (const auto& [number, path] : top.disks) base.disks[number] = path;
}

Mappings LoadMappings() {
  Mappings mappings = FromFile();
  Overlay(mappings, FromEnvironment());
  std::lock_guard<std::mutex> lock(g_codeMutex);
  Overlay(mappings, g_code);
  return mappings;
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// The disk a drive mapping lies on: the parent of a partition device, otherwise the target.
std::string DiskPathOf(const DriveMapping& mapping) {
  auto facts = posix::ExamineDevice(mapping.path);
  if (facts && facts->partitionNumber && mapping.partition == 0) return facts->parentDisk;
  return mapping.path;
}

struct NumberedDisk {
  std::string path;
  std::string canonical;
};

std::map<int, NumberedDisk> NumberDisks(const Mappings& mappings) {
  std::map<int, NumberedDisk> disks;
  std::map<std::string, int> numberOf;
  for (const auto& [number, path] : mappings.disks) {
    disks[number] = NumberedDisk{path, Canonical(path)};
    numberOf.emplace(disks[number].canonical, number);
  }
  int next = 0;
  for (const auto& [letter, mapping] : mappings.drives) {
    const std::string path = DiskPathOf(mapping);
    const std::string canonical = Canonical(path);
    if (numberOf.count(canonical)) continue;
    while (disks.count(next)) ++next;
    disks[next] = NumberedDisk{path, canonical};
    numberOf[canonical] = next;
  }
  return disks;
}

int DiskNumberOf(const std::map<int, NumberedDisk>& disks, const std::string& path) {
  const std::string canonical = Canonical(path);
  for (const auto& [number, disk] : disks) {
    if (disk.canonical == canonical) return number;
  }
  return -1;
}

std::optional<posix::VolumeTarget> FailResolve(DWORD* error, DWORD code) {
  if (error) *error = code;
  return std::nullopt;
}

// Locates partition `number` of the disk at `path` through its partition table, bounded by the
// disk: one that starts past the disk's end is absent, one that ends past it stops there.
std::optional<posix::PartitionEntry> FindPartitionOf(const std::string& path, uint64_t size,
                                                     unsigned number) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  auto table = posix::ReadPartitionTable(fd, size);
  close(fd);
  if (!table) return std::nullopt;
  const posix::PartitionEntry* entry = posix::FindPartition(*table, number);
  if (entry == nullptr || entry->extended || entry->start >= size) return std::nullopt;
  posix::PartitionEntry bounded = *entry;
  bounded.size = std::min(entry->size, size - entry->start);
  return bounded;
}

// The window of drive `letter` under `mappings`, without its disk's number.
std::optional<posix::VolumeTarget> Locate(const Mappings& mappings, char letter, DWORD* error) {
  auto found = mappings.drives.find(Upper(letter));
  if (!IsLetter(letter) || found == mappings.drives.end()) {
    return FailResolve(error, ERROR_FILE_NOT_FOUND);
  }
  const DriveMapping& mapping = found->second;
  auto facts = posix::ExamineDevice(mapping.path);
  if (!facts) return FailResolve(error, posix::Win32ErrorFromErrno(errno));

  posix::VolumeTarget target;
  target.letter = mapping.letter;
  target.path = mapping.path;
  if (mapping.partition == 0) {
    target.length = facts->size;
    target.disk.path = facts->partitionNumber ? facts->parentDisk : mapping.path;
    target.diskOffset = facts->partitionStart;
    target.partitionNumber = facts->partitionNumber.value_or(0);
  } else {
    if (facts->partitionNumber) return FailResolve(error, ERROR_FILE_NOT_FOUND);
    auto entry = FindPartitionOf(mapping.path, facts->size, mapping.partition);
    if (!entry) return FailResolve(error, ERROR_FILE_NOT_FOUND);
    target.offset = entry->start;
    target.length = entry->size;
    target.disk.path = mapping.path;
    target.diskOffset = entry->start;
    target.partitionNumber = mapping.partition;
  }
  return target;
}

}  // namespace

bool MapDrive(char letter, const std::string& path, unsigned partition) {
  if (!IsLetter(letter) || path.empty()) return false;
  std::lock_guard<std::mutex> lock(g_codeMutex);
  g_code.drives[Upper(letter)] = DriveMapping{Upper(letter), path, partition};
  return true;
}

void UnmapDrive(char letter) {
  std::lock_guard<std::mutex> lock(g_codeMutex);
  g_code.drives.erase(Upper(letter));
}

bool MapPhysicalDrive(int number, const std::string& path) {
  if (number < 0 || path.empty()) return false;
  std::lock_guard<std::mutex> lock(g_codeMutex);
  g_code.disks[number] = path;
  return true;
}

void UnmapPhysicalDrive(int number) {
  std::lock_guard<std::mutex> lock(g_codeMutex);
  g_code.disks.erase(number);
}

void ClearMappedDrives() {
  std::lock_guard<std::mutex> lock(g_codeMutex);
  g_code = Mappings();
}

std::vector<DriveMapping> MappedDrives() {
  std::vector<DriveMapping> result;
  for (const auto& [letter, mapping] : LoadMappings().drives) result.push_back(mapping);
  return result;
}

std::vector<PhysicalDriveMapping> MappedPhysicalDrives() {
  std::vector<PhysicalDriveMapping> result;
  for (const auto& [number, disk] : NumberDisks(LoadMappings())) {
    result.push_back(PhysicalDriveMapping{number, disk.path});
  }
  return result;
}

namespace posix {

std::optional<VolumeTarget> LocateVolume(char letter, DWORD* error) {
  return Locate(LoadMappings(), letter, error);
}

std::optional<VolumeTarget> ResolveVolume(char letter, DWORD* error) {
  const Mappings mappings = LoadMappings();
  auto target = Locate(mappings, letter, error);
  if (target) target->disk.number = DiskNumberOf(NumberDisks(mappings), target->disk.path);
  return target;
}

std::optional<DiskTarget> ResolveDisk(int number, DWORD* error) {
  const auto disks = NumberDisks(LoadMappings());
  auto found = disks.find(number);
  if (found == disks.end()) {
    if (error) *error = ERROR_FILE_NOT_FOUND;
    return std::nullopt;
  }
  return DiskTarget{found->second.path, number};
}

}  // namespace posix
}  // namespace kestro
