#include "image/read/zstd_seek_table.h"

#include <algorithm>
#include <cstring>

#include <ondisk/little_endian.h>

#include "support/errors.h"
#include "support/positional_read.h"

namespace kestro::cli {
namespace {

constexpr uint32_t kSeekTableMagic = 0x184D2A5E;
constexpr uint32_t kSizeFrameMagic = 0x184D2A5B;
constexpr uint32_t kSeekableMagic = 0x8F92EAB1;
constexpr uint32_t kLargestFrameCount = 0x8000000;
constexpr size_t kSkippableHeaderBytes = 8;
constexpr size_t kFooterBytes = 9;
constexpr uint8_t kChecksumFlag = 0x80;
constexpr uint8_t kReservedBits = 0x7C;
// Tells the size frame from other skippable frames of the same magic number.
constexpr char kSizeTag[] = "kestroSZ";
constexpr size_t kSizeTagBytes = sizeof kSizeTag - 1;
constexpr size_t kSizePayloadBytes = kSizeTagBytes + 8;
// The most a zstd frame can decode to per byte of it: a block holds at most 128 KiB and takes at
// least 4 bytes (a 3-byte header and one repeated byte).
constexpr uint64_t kMostImageBytesPerFrameByte = (128u << 10) / 4;
constexpr uint32_t kEntriesPerRead = 4096;

void PutLittle(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

[[noreturn]] void Damaged(const std::string& name, const std::string& why) {
  throw Failure(name, "has a damaged zstd seek table: " + why);
}

// A frame of the table: throws when it is empty, too large to decode, or claims more bytes than
// its compressed bytes can decode to, so that no buffer is ever sized by a lie.
SeekFrame DecodeEntry(const uint8_t* entry, size_t entryBytes, size_t index,
                      const std::string& name) {
  SeekFrame frame;
  frame.compressedBytes = ondisk::LittleEndian32(entry);
  frame.imageBytes = ondisk::LittleEndian32(entry + 4);
  if (entryBytes > 8) frame.checksum = ondisk::LittleEndian32(entry + 8);
  if (frame.compressedBytes == 0 || frame.imageBytes > kLargestSeekableFrame ||
      frame.imageBytes > uint64_t{frame.compressedBytes} * kMostImageBytesPerFrameByte) {
    Damaged(name, "frame " + std::to_string(index) + " has impossible sizes");
  }
  return frame;
}

// The `count` entries from `at`, read a chunk at a time: what is kept grows only with entries
// that make sense, however many the footer claims (a sparse file claims millions for nothing).
std::vector<SeekFrame> ReadEntries(int fd, uint64_t at, uint32_t count, size_t entryBytes,
                                   const std::string& name) {
  std::vector<SeekFrame> frames;
  std::vector<uint8_t> chunk;
  for (uint32_t done = 0; done < count;) {
    const uint32_t take = std::min(count - done, kEntriesPerRead);
    chunk.resize(size_t{take} * entryBytes);
    if (ReadUpTo(fd, at + uint64_t{done} * entryBytes, chunk.data(), chunk.size(), name) <
        chunk.size()) {
      Damaged(name, "the file ends inside it");
    }
    for (uint32_t i = 0; i < take; ++i) {
      frames.push_back(
          DecodeEntry(chunk.data() + size_t{i} * entryBytes, entryBytes, done + i, name));
    }
    done += take;
  }
  return frames;
}

// Checks what precedes the data frames: nothing, or a size frame that agrees with the table.
void CheckStart(int fd, const SeekTable& table, const std::string& name) {
  if (table.firstFrameOffset == 0) return;
  std::string start(SizeFrameBytes(), '\0');
  const size_t got = ReadUpTo(fd, 0, start.data(), start.size(), name);
  const std::optional<uint64_t> recorded = DecodeSizeFrame(start.substr(0, got));
  if (table.firstFrameOffset != SizeFrameBytes() || !recorded) {
    Damaged(name, "its frames do not add up to the file's size");
  }
  if (*recorded != table.imageBytes) {
    Damaged(name, "the file's first frame records " + std::to_string(*recorded) +
                      " image bytes, its frames hold " + std::to_string(table.imageBytes));
  }
}

}  // namespace

std::string EncodeSizeFrame(uint64_t imageBytes) {
  std::string out;
  PutLittle(out, kSizeFrameMagic, 4);
  PutLittle(out, kSizePayloadBytes, 4);
  out.append(kSizeTag, kSizeTagBytes);
  PutLittle(out, imageBytes, 8);
  return out;
}

size_t SizeFrameBytes() {
  return kSkippableHeaderBytes + kSizePayloadBytes;
}

std::optional<uint64_t> DecodeSizeFrame(const std::string& start) {
  if (start.size() < SizeFrameBytes()) return std::nullopt;
  const auto* data = reinterpret_cast<const uint8_t*>(start.data());
  if (ondisk::LittleEndian32(data) != kSizeFrameMagic ||
      ondisk::LittleEndian32(data + 4) != kSizePayloadBytes ||
      std::memcmp(data + kSkippableHeaderBytes, kSizeTag, kSizeTagBytes) != 0) {
    return std::nullopt;
  }
  return ondisk::LittleEndian64(data + kSkippableHeaderBytes + kSizeTagBytes);
}

std::string EncodeSeekTable(const std::vector<SeekFrame>& frames) {
  std::string out;
  PutLittle(out, kSeekTableMagic, 4);
  PutLittle(out, frames.size() * 12 + kFooterBytes, 4);
  for (const SeekFrame& frame : frames) {
    PutLittle(out, frame.compressedBytes, 4);
    PutLittle(out, frame.imageBytes, 4);
    PutLittle(out, frame.checksum, 4);
  }
  PutLittle(out, frames.size(), 4);
  out.push_back(static_cast<char>(kChecksumFlag));
  PutLittle(out, kSeekableMagic, 4);
  return out;
}

std::optional<SeekTable> ReadSeekTable(int fd, uint64_t fileBytes, const std::string& name) {
  uint8_t footer[kFooterBytes];
  if (fileBytes < kSkippableHeaderBytes + kFooterBytes) return std::nullopt;
  ReadUpTo(fd, fileBytes - kFooterBytes, footer, sizeof footer, name);
  if (ondisk::LittleEndian32(footer + 5) != kSeekableMagic) return std::nullopt;
  const uint32_t count = ondisk::LittleEndian32(footer);
  const uint8_t descriptor = footer[4];
  if ((descriptor & kReservedBits) != 0) Damaged(name, "reserved bits are set");
  SeekTable table;
  table.checksummed = (descriptor & kChecksumFlag) != 0;
  const size_t entryBytes = table.checksummed ? 12 : 8;
  const uint64_t tableBytes = kSkippableHeaderBytes + uint64_t{count} * entryBytes + kFooterBytes;
  if (count > kLargestFrameCount || tableBytes > fileBytes) {
    Damaged(name, "it lists more frames than the file can hold");
  }
  uint8_t header[kSkippableHeaderBytes] = {};
  ReadUpTo(fd, fileBytes - tableBytes, header, sizeof header, name);
  if (ondisk::LittleEndian32(header) != kSeekTableMagic ||
      ondisk::LittleEndian32(header + 4) != tableBytes - kSkippableHeaderBytes) {
    Damaged(name, "its frame header does not match its footer");
  }
  table.frames =
      ReadEntries(fd, fileBytes - tableBytes + kSkippableHeaderBytes, count, entryBytes, name);
  uint64_t compressed = 0;
  for (const SeekFrame& frame : table.frames) {
    compressed += frame.compressedBytes;
    table.imageBytes += frame.imageBytes;
  }
  if (compressed > fileBytes - tableBytes) {
    Damaged(name, "its frames do not add up to the file's size");
  }
  table.firstFrameOffset = fileBytes - tableBytes - compressed;
  CheckStart(fd, table, name);
  return table;
}

}  // namespace kestro::cli
