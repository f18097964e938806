// kestro list: the mapped drives and the machine's block devices, with what a volume object
// reports for each one that opens as a volume.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <win32/drive_map.h>

#include "commands/commands.h"
#include "support/errors.h"
#include "support/sizes.h"
#include "support/table.h"
#include "volume/block_devices.h"
#include "volume/file_system_name.h"
#include "volume/volume.h"

namespace kestro::cli {

namespace {

constexpr uint64_t kListBufferSize = uint64_t{64} * 1024;

// File system, size, used and free as the volume object reports them, or why it did not open.
Row VolumeColumns(const VolumeArgs& args, const std::string& deviceSize) {
  try {
    Volume volume(args, OpenOptions{false, kListBufferSize});
    const CKestro32& object = volume.object();
    return {FileSystemName(object.m_nFsType), FormatBytes(object.m_llVolumeSize),
            FormatBytes(object.m_llUsedBytes), FormatBytes(object.m_llFreeBytes), ""};
  } catch (const Failure& failure) {
    return {"-", deviceSize, "-", "-", failure.reason()};
  }
}

void ListMappedDrives() {
  std::vector<Row> rows = {{"DRIVE", "FS", "SIZE", "USED", "FREE", "SOURCE", "NOTE"}};
  for (const kestro::DriveMapping& mapping : kestro::MappedDrives()) {
    const std::string drive = std::string(1, mapping.letter) + ":";
    std::string source = mapping.path;
    if (mapping.partition) source += " partition " + std::to_string(mapping.partition);
    Row row = {drive};
    Row columns = VolumeColumns(VolumeArgs{drive, 0}, "-");
    row.insert(row.end(), columns.begin(), columns.end() - 1);
    row.push_back(source);
    row.push_back(columns.back());
    rows.push_back(row);
  }
  std::printf("Mapped drives\n");
  if (rows.size() == 1) {
    std::printf("  none (map one with KESTRO_DRIVE_<LETTER>=<device or image>)\n");
    return;
  }
  PrintTable(rows);
}

void ListMachineDevices() {
  std::vector<Row> rows = {{"NAME", "TYPE", "SIZE", "FS", "FS SIZE", "USED", "FREE", "NOTE"}};
  for (const BlockDevice& device : ListBlockDevices()) {
    if (device.size == 0) continue;  // unbound loop devices, empty drives
    Row row = {device.name, device.kind + (device.readOnly ? " ro" : ""), FormatBytes(device.size)};
    Row columns = VolumeColumns(VolumeArgs{device.path, 0}, "-");
    row.insert(row.end(), columns.begin(), columns.end());
    rows.push_back(row);
  }
  std::printf("\nBlock devices\n");
  PrintTable(rows);
}

int RunList() {
  ListMappedDrives();
  ListMachineDevices();
  return kExitSuccess;
}

}  // namespace

Command AddList(CLI::App& app) {
  return {app.add_subcommand("list", "Show the mapped drives and the machine's block devices"),
          RunList};
}

}  // namespace kestro::cli
