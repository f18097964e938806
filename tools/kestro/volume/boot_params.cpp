#include "volume/boot_params.h"

#include <Kestro32.h>
#include <ondisk/little_endian.h>
#include <ondisk/ntfs.h>

#include <cstdio>
#include <string>

namespace kestro::cli {
namespace {

enum class Kind { kUnsigned, kHex, kSigned, kText, kVolumeId };

struct Field {
  const char* name;
  size_t offset;  // in the boot sector
  size_t width;
  Kind kind;
};

// Fields every FAT boot sector shares, from byte 11 to 35.
constexpr Field kFatCommon[] = {
    {"bytes_per_sector", 11, 2, Kind::kUnsigned},  {"sectors_per_cluster", 13, 1, Kind::kUnsigned},
    {"reserved_sectors", 14, 2, Kind::kUnsigned},  {"fat_count", 16, 1, Kind::kUnsigned},
    {"root_entries", 17, 2, Kind::kUnsigned},      {"total_sectors_16", 19, 2, Kind::kUnsigned},
    {"media_descriptor", 21, 1, Kind::kHex},       {"sectors_per_fat_16", 22, 2, Kind::kUnsigned},
    {"sectors_per_track", 24, 2, Kind::kUnsigned}, {"heads", 26, 2, Kind::kUnsigned},
    {"hidden_sectors", 28, 4, Kind::kUnsigned},    {"total_sectors_32", 32, 4, Kind::kUnsigned},
};

constexpr Field kFat16Extension[] = {
    {"drive_number", 36, 1, Kind::kHex},      {"boot_signature", 38, 1, Kind::kHex},
    {"volume_id", 39, 4, Kind::kVolumeId},    {"volume_label", 43, 11, Kind::kText},
    {"file_system_type", 54, 8, Kind::kText},
};

// The FAT32 extension; its file-system type text at byte 82 runs past the bytes the object keeps.
constexpr Field kFat32Extension[] = {
    {"sectors_per_fat_32", 36, 4, Kind::kUnsigned},
    {"extended_flags", 40, 2, Kind::kHex},
    {"file_system_version", 42, 2, Kind::kHex},
    {"root_cluster", 44, 4, Kind::kUnsigned},
    {"fsinfo_sector", 48, 2, Kind::kUnsigned},
    {"backup_boot_sector", 50, 2, Kind::kUnsigned},
    {"drive_number", 64, 1, Kind::kHex},
    {"boot_signature", 66, 1, Kind::kHex},
    {"volume_id", 67, 4, Kind::kVolumeId},
    {"volume_label", 71, 11, Kind::kText},
};

constexpr Field kNtfs[] = {
    {"bytes_per_sector", 11, 2, Kind::kUnsigned},
    {"sectors_per_cluster", 13, 1, Kind::kUnsigned},
    {"media_descriptor", 21, 1, Kind::kHex},
    {"sectors_per_track", 24, 2, Kind::kUnsigned},
    {"heads", 26, 2, Kind::kUnsigned},
    {"hidden_sectors", 28, 4, Kind::kUnsigned},
    {"total_sectors", 40, 8, Kind::kUnsigned},
    {"mft_cluster", 48, 8, Kind::kUnsigned},
    {"mft_mirror_cluster", 56, 8, Kind::kUnsigned},
    {"clusters_per_file_record", 64, 1, Kind::kSigned},
    {"clusters_per_index_block", 68, 1, Kind::kSigned},
    {"volume_serial", 72, 8, Kind::kHex},
    {"checksum", 80, 4, Kind::kHex},
};

std::string HexText(uint64_t value, size_t width) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llx", static_cast<int>(width * 2),
                static_cast<unsigned long long>(value));
  return text;
}

std::string Trimmed(const uint8_t* bytes, size_t width) {
  std::string text(reinterpret_cast<const char*>(bytes), width);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
  }
  return text.erase(text.find_last_not_of(' ') + 1);
}

uint64_t FieldValue(const uint8_t* params, size_t offset, size_t width) {
  return ondisk::LittleEndian(params + (offset - kBootParamsFirstByte), width);
}

nlohmann::ordered_json Decode(const Field& field, const uint8_t* params) {
  const uint8_t* bytes = params + (field.offset - kBootParamsFirstByte);
  const uint64_t value = FieldValue(params, field.offset, field.width);
  switch (field.kind) {
    case Kind::kUnsigned:
      return value;
    case Kind::kHex:
      return HexText(value, field.width);
    case Kind::kSigned:
      return static_cast<int8_t>(value);
    case Kind::kText:
      return Trimmed(bytes, field.width);
    case Kind::kVolumeId: {
      char text[16];
      std::snprintf(text, sizeof text, "%04X-%04X", static_cast<unsigned>(value >> 16),
                    static_cast<unsigned>(value & 0xffff));
      return text;
    }
  }
  return nullptr;
}

template <size_t N>
void DecodeInto(nlohmann::ordered_json& out, const Field (&fields)[N], const uint8_t* params) {
  for (const Field& field : fields) out[field.name] = Decode(field, params);
}

std::string HexBytes(const uint8_t* bytes, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i ? " %02x" : "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

// The boot sector's count in the file system's own sectors.
std::optional<uint64_t> FileSystemSectors(unsigned fsType, const uint8_t* params) {
  switch (fsType) {
    case FSTYPE_NTFS:
      return FieldValue(params, 40, 8);
    case FSTYPE_FAT16:
    case FSTYPE_FAT32: {
      // Small FAT volumes keep their count in the 16-bit field and 0 in the 32-bit one.
      const uint64_t large = FieldValue(params, 32, 4);
      return large != 0 ? large : FieldValue(params, 19, 2);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint64_t> ClaimedSectors(unsigned fsType, const uint8_t* params) {
  const auto sectors = FileSystemSectors(fsType, params);
  if (!sectors) return std::nullopt;
  // The library counts a file system's 1024-, 2048- and 4096-byte sectors in 512-byte ones.
  const uint64_t bytes = FieldValue(params, 11, 2);
  const uint64_t scale = bytes == 1024 || bytes == 2048 || bytes == 4096 ? bytes / 512 : 1;
  return *sectors > UINT64_MAX / scale ? UINT64_MAX : *sectors * scale;
}

nlohmann::ordered_json DecodeBootParams(unsigned fsType, const uint8_t* params) {
  nlohmann::ordered_json out;
  switch (fsType) {
    case FSTYPE_FAT16:
      out["layout"] = "FAT12/FAT16";
      DecodeInto(out, kFatCommon, params);
      DecodeInto(out, kFat16Extension, params);
      break;
    case FSTYPE_FAT32:
      out["layout"] = "FAT32";
      DecodeInto(out, kFatCommon, params);
      DecodeInto(out, kFat32Extension, params);
      break;
    case FSTYPE_NTFS:
    case FSTYPE_NTFS5: {
      out["layout"] = "NTFS";
      DecodeInto(out, kNtfs, params);
      const uint64_t clusterBytes =
          out["bytes_per_sector"].get<uint64_t>() * out["sectors_per_cluster"].get<uint64_t>();
      out["file_record_bytes"] =
          ondisk::NtfsRecordBytes(out["clusters_per_file_record"].get<int8_t>(), clusterBytes);
      out["index_block_bytes"] =
          ondisk::NtfsRecordBytes(out["clusters_per_index_block"].get<int8_t>(), clusterBytes);
      break;
    }
    default:
      out["layout"] = "unknown";
      out["bytes"] = HexBytes(params, kBootParamsLength);
      break;
  }
  return out;
}

}  // namespace kestro::cli
