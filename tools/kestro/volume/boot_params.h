// The boot-sector parameter block a volume object holds (m_BootParams: sector bytes 11 to 83),
// decoded field by field in the layout of its file system: FAT12/FAT16, FAT32 or NTFS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include <nlohmann/json.hpp>

namespace kestro::cli {

inline constexpr size_t kBootParamsFirstByte = 11;
inline constexpr size_t kBootParamsLength = 73;

// `fsType` is the object's m_nFsType; an unknown file system gives the bytes in hex. Field names
// are snake_case; offsets are those of the boot sector.
nlohmann::ordered_json DecodeBootParams(unsigned fsType, const uint8_t* params);

// The volume's size in 512-byte sectors as its boot sector states it, before the library bounds
// it by the partition; nullopt for a file system whose boot sector states none that it reads.
std::optional<uint64_t> ClaimedSectors(unsigned fsType, const uint8_t* params);

}  // namespace kestro::cli
