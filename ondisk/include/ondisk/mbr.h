// The master boot record and the chain of extended boot records holding logical partitions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "ondisk/byte_reader.h"
#include "ondisk/errors.h"

namespace kestro::ondisk {

inline constexpr unsigned kSlotsPerRecord = 4;
// A corrupt chain of extended boot records must not send a walk round in circles.
inline constexpr unsigned kMaxExtendedRecords = 256;

struct MbrSlot {
  uint8_t status = 0;        // 80h: bootable
  uint8_t type = 0;          // 0: unused
  uint32_t firstSector = 0;  // relative to the record's base, as the slot stores it
  uint32_t sectorCount = 0;
  uint64_t offset = 0;  // disk byte offset of the 16-byte slot
};

// One boot record: where it lies, in logical sectors, and its four slots.
struct BootRecord {
  uint64_t sector = 0;
  std::array<MbrSlot, kSlotsPerRecord> slots{};
};

struct MbrTable {
  uint32_t diskSignature = 0;
  uint32_t checkSum = 0;  // the negated sum of the master record's 32-bit words
  BootRecord master;
  // Sector of the first extended container in the master record, where the chain counts from.
  std::optional<uint64_t> extendedBase;
  // The extended boot records read down the chain, in chain order.
  std::vector<BootRecord> chain;
  // Why the chain stopped early (unreadable, unsigned, looping, overlapping), if it did.
  std::optional<Error> chainError;
};

// Whether an MBR partition type is an extended-partition container (05h, 0Fh).
bool IsExtendedType(uint8_t type);

// Reads the master boot record of `disk` and the extended boot records it chains to. The master
// record must be readable and signed; a broken chain keeps the records read before the break.
Result<MbrTable> ReadMbr(const ByteReader& disk, uint32_t sectorSize);

}  // namespace kestro::ondisk
