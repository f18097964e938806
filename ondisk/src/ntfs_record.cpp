#include <algorithm>
#include <cstring>

#include "ondisk/little_endian.h"
#include "ondisk/ntfs.h"

namespace kestro::ondisk {
namespace {

constexpr size_t kFixupStride = 512;  // the update sequence guards every 512 bytes
constexpr uint32_t kEndOfAttributes = 0xFFFFFFFF;
constexpr size_t kAttributeHeaderBytes = 16;
constexpr size_t kResidentHeaderBytes = 24;
constexpr size_t kNonResidentHeaderBytes = 64;
constexpr uint16_t kCompressedOrEncrypted = 0x0001 | 0x4000;

Result<AttributeData> ResidentValue(std::span<const uint8_t> attribute) {
  if (attribute.size() < kResidentHeaderBytes) {
    return Error{Fault::kBadValue, "resident attribute header truncated"};
  }
  const size_t valueLength = LittleEndian32(&attribute[16]);
  const size_t valueOffset = LittleEndian16(&attribute[20]);
  if (!FitsWithin(valueOffset, valueLength, attribute.size())) {
    return Error{Fault::kOutOfRange, "resident value beyond its attribute"};
  }
  AttributeData data;
  data.isResident = true;
  const auto value = attribute.subspan(valueOffset, valueLength);
  data.resident.assign(value.begin(), value.end());
  data.dataSize = data.initializedSize = valueLength;
  return data;
}

Result<AttributeData> NonResidentValue(std::span<const uint8_t> attribute, uint64_t clusterCount) {
  if (attribute.size() < kNonResidentHeaderBytes) {
    return Error{Fault::kBadValue, "non-resident attribute header truncated"};
  }
  const size_t pairsOffset = LittleEndian16(&attribute[32]);
  if (pairsOffset > attribute.size()) {
    return Error{Fault::kOutOfRange, "mapping pairs beyond their attribute"};
  }
  // An attribute list spreads a huge value over several records (its first VCN is then not 0);
  // a compressed or encrypted one cannot be read as plain runs.
  if (LittleEndian64(&attribute[16]) != 0 ||
      (LittleEndian16(&attribute[12]) & kCompressedOrEncrypted)) {
    return Error{Fault::kUnsupported, "attribute continued elsewhere, compressed or encrypted"};
  }
  auto runs = DecodeRuns(attribute.subspan(pairsOffset), clusterCount);
  if (!runs) return runs.error();
  AttributeData data;
  data.dataSize = LittleEndian64(&attribute[48]);
  data.initializedSize = LittleEndian64(&attribute[56]);
  data.runs = std::move(*runs);
  return data;
}

}  // namespace

Status ApplyFixups(std::span<uint8_t> record) {
  if (record.size() < 8 || std::memcmp(record.data(), "FILE", 4) != 0) {
    return Error{Fault::kBadSignature, "MFT record without FILE signature"};
  }
  const size_t arrayOffset = LittleEndian16(&record[4]);
  const size_t arrayCount = LittleEndian16(&record[6]);
  const size_t blocks = record.size() / kFixupStride;
  if (arrayCount != blocks + 1 || !FitsWithin(arrayOffset, arrayCount * 2, record.size())) {
    return Error{Fault::kBadValue, "update sequence does not fit the record"};
  }
  const uint8_t* array = &record[arrayOffset];
  for (size_t block = 0; block < blocks; ++block) {
    uint8_t* tail = &record[(block + 1) * kFixupStride - 2];
    if (std::memcmp(tail, array, 2) != 0) {
      return Error{Fault::kChecksum, "update sequence number mismatch (torn write)"};
    }
    std::memcpy(tail, array + 2 * (block + 1), 2);
  }
  return {};
}

Result<AttributeData> FindUnnamedAttribute(std::span<const uint8_t> record, uint32_t type,
                                           uint64_t clusterCount) {
  if (record.size() < 28) return Error{Fault::kBadValue, "MFT record truncated"};
  const size_t inUse = std::min<size_t>(LittleEndian32(&record[24]), record.size());
  size_t at = LittleEndian16(&record[20]);
  while (at <= inUse && inUse - at >= kAttributeHeaderBytes) {
    const uint32_t attributeType = LittleEndian32(&record[at]);
    if (attributeType == kEndOfAttributes) break;
    const size_t length = LittleEndian32(&record[at + 4]);
    if (length < kAttributeHeaderBytes || length > inUse - at) {
      return Error{Fault::kOutOfRange, "attribute length out of range"};
    }
    const bool unnamed = record[at + 9] == 0;
    if (attributeType == type && unnamed) {
      const auto attribute = record.subspan(at, length);
      return attribute[8] == 0 ? ResidentValue(attribute)
                               : NonResidentValue(attribute, clusterCount);
    }
    at += length;
  }
  return Error{Fault::kBadValue, "no such attribute in the record"};
}

}  // namespace kestro::ondisk
