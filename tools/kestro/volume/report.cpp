#include "volume/report.h"

#include <win32/utf.h>

#include <algorithm>
#include <cstdio>

#include "support/printable.h"
#include "support/sizes.h"
#include "volume/boot_params.h"
#include "volume/file_system_name.h"
#include "volume/volume.h"

namespace kestro::cli {

using namespace win32;
using nlohmann::ordered_json;

namespace {

std::string Hex(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string GuidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.Data1,
                guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

const char* StyleName(PARTITION_STYLE style) {
  switch (style) {
    case PARTITION_STYLE_MBR:
      return "MBR";
    case PARTITION_STYLE_GPT:
      return "GPT";
    case PARTITION_STYLE_RAW:
      return "RAW";
  }
  return "unknown";
}

ordered_json DescribePartition(const PARTITION_INFORMATION_EX& info) {
  ordered_json partition = {
      {"style", StyleName(info.PartitionStyle)},
      {"number", info.PartitionNumber},
      {"offset", static_cast<uint64_t>(info.StartingOffset.QuadPart)},
      {"length", static_cast<uint64_t>(info.PartitionLength.QuadPart)},
  };
  if (info.PartitionStyle == PARTITION_STYLE_MBR) {
    partition["type"] = Hex(info.Mbr.PartitionType, 2);
    partition["bootable"] = info.Mbr.BootIndicator != 0;
    partition["recognized"] = info.Mbr.RecognizedPartition != 0;
    partition["hidden_sectors"] = info.Mbr.HiddenSectors;
  } else if (info.PartitionStyle == PARTITION_STYLE_GPT) {
    partition["type"] = GuidText(info.Gpt.PartitionType);
    partition["id"] = GuidText(info.Gpt.PartitionId);
    partition["attributes"] = Hex(info.Gpt.Attributes, 16);
    WCHAR name[37] = {};
    std::copy(std::begin(info.Gpt.Name), std::end(info.Gpt.Name), name);
    partition["name"] = ToUtf8(name);
  }
  return partition;
}

bool IsByteCount(const std::string& key) {
  for (const char* suffix : {"bytes", "size", "length"}) {
    const std::string end(suffix);
    if (key.size() >= end.size() && key.compare(key.size() - end.size(), end.size(), end) == 0) {
      return true;
    }
  }
  return false;
}

std::string ValueText(const std::string& key, const ordered_json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  std::string text = value.dump();
  const bool count =
      value.is_number_unsigned() || (value.is_number_integer() && value.get<int64_t>() >= 0);
  if (count && IsByteCount(key) && value.get<uint64_t>() >= 1024) {
    text += " (" + FormatBytes(value.get<uint64_t>()) + ")";
  }
  return text;
}

void PrintObject(const ordered_json& object, int indent, FILE* out) {
  size_t width = 0;
  for (const auto& [key, value] : object.items()) width = std::max(width, key.size() + 1);
  for (const auto& [key, value] : object.items()) {
    std::string label = key + ":";
    std::replace(label.begin(), label.end(), '_', ' ');
    if (value.is_object()) {
      std::fprintf(out, "%*s%s\n", indent, "", Printable(label).c_str());
      PrintObject(value, indent + 2, out);
    } else {
      std::fprintf(out, "%*s%-*s %s\n", indent, "", static_cast<int>(width),
                   Printable(label).c_str(), Printable(ValueText(key, value)).c_str());
    }
  }
}

}  // namespace

ordered_json DescribeObject(const CKestro32& object, uint64_t tailBytes) {
  return {
      {"ready", object.m_bReady != 0},
      {"platform_family", object.m_bWin9x ? "legacy (95/98/Me)" : "NT"},
      {"file_system", {{"code", object.m_nFsType}, {"name", FileSystemName(object.m_nFsType)}}},
      {"partition", DescribePartition(object.m_PartInfoEx)},
      {"partition_offset", object.m_llPartOffset},
      {"total_sectors", object.m_llTotalSectors},
      {"volume_size", object.m_llVolumeSize},
      {"used_bytes", object.m_llUsedBytes},
      {"free_bytes", object.m_llFreeBytes},
      {"tail_bytes", tailBytes},
      {"snapshot",
       {{"requested", object.m_bUseVss != 0},
        {"active", object.m_bVssActive != 0},
        {"path", ToUtf8(object.m_szSnapshotPath)}}},
      {"buffer_size", object.m_llBufferSize},
      {"boot_parameters", DecodeBootParams(object.m_nFsType, object.m_BootParams)},
  };
}

ordered_json DescribeVolume(const Volume& volume) {
  ordered_json report = {
      {"volume", volume.name()},
      {"drive", std::string(1, volume.letter()) + ":"},
      {"source", volume.source()},
  };
  if (volume.partition() != 0) report["source_partition"] = volume.partition();
  const ordered_json members = DescribeObject(volume.object(), volume.tail_bytes());
  for (const auto& [key, value] : members.items()) {
    report[key] = value;
    if (key == "volume_size") report["claimed_size"] = volume.claimed_size();
  }
  return report;
}

void PrintReport(const ordered_json& report, FILE* out) {
  PrintObject(report, 0, out);
}

}  // namespace kestro::cli
