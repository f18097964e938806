#include "scripted_vwin32.h"

#include <cstring>

using namespace win32;

namespace kestro::testing {
namespace {

constexpr size_t kSector = 512;
constexpr DWORD kSectorNotFound = 0x0408;  // AH 04h "sector not found", AL 08h
constexpr DWORD kGeneralFailure = 0x001F;

uint64_t Distance(uint64_t a, uint64_t b) {
  return a > b ? a - b : b - a;
}

}  // namespace

void* WidenAddress(DWORD low, const void* nearby) {
  // In a 32-bit process the nearest candidate is `low` itself.
  const uint64_t anchor = reinterpret_cast<uintptr_t>(nearby);
  const uint64_t span = uint64_t(1) << 32;
  const uint64_t same = (anchor & ~(span - 1)) | low;
  uint64_t best = same;
  for (uint64_t candidate : {same - span, same + span}) {
    if (Distance(candidate, anchor) < Distance(best, anchor)) best = candidate;
  }
  return reinterpret_cast<void*>(static_cast<uintptr_t>(best));
}

ScriptedVwin32::ScriptedVwin32(win32::testing::FakeBackend& fake, std::vector<uint8_t>& drive)
    : fake_(fake), drive_(drive) {
  fake_.controlResponder = [this](const win32::testing::Call& call, void* in, void* out,
                                  DWORD outSize, DWORD* returned) {
    return Respond(call, in, out, outSize, returned);
  };
}

ScriptedVwin32::~ScriptedVwin32() {
  fake_.controlResponder = nullptr;
}

BOOL ScriptedVwin32::Respond(const win32::testing::Call& call, void* in, void* out, DWORD outSize,
                             DWORD* returned) {
  _DEVIOCTL_REGISTERS regs;
  if (call.data.size() != sizeof regs || outSize != sizeof regs) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::memcpy(&regs, call.data.data(), sizeof regs);
  const DWORD code = static_cast<DWORD>(call.args.at(0));
  const bool extended = code == VWIN32_DIOC_DOS_DRIVEINFO && (regs.reg_EAX & 0xFFFF) == 0x7305;
  if (code != VWIN32_DIOC_DOS_INT25 && code != VWIN32_DIOC_DOS_INT26 && !extended) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  _DISKIO io;
  std::memcpy(&io, WidenAddress(regs.reg_EBX, in), sizeof io);
  SectorTransfer transfer{code, code == VWIN32_DIOC_DOS_INT26 || (extended && (regs.reg_ESI & 1)),
                          io.dwStartSector, io.wSectors, extended ? regs.reg_ESI : 0};
  transfers_.push_back(transfer);

  const Fault chosen = fault ? fault(transfer) : Fault::kNone;
  if (chosen == Fault::kDeviceCallFails) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  DWORD error = chosen == Fault::kCarry ? kGeneralFailure : 0;
  const uint64_t start = uint64_t(io.dwStartSector) * kSector;
  const uint64_t bytes = uint64_t(io.wSectors) * kSector;
  if (error == 0 && start + bytes > drive_.size()) {
    ++pastTheEnd;
    error = kSectorNotFound;
  }
  const DWORD expected = static_cast<DWORD>(reinterpret_cast<uintptr_t>(stagingBuffer));
  if (error == 0 && io.dwBuffer != expected) {
    ++foreignBuffers;
    error = kGeneralFailure;
  }
  if (error == 0 && bytes > 0) {
    uint8_t* buffer = static_cast<uint8_t*>(WidenAddress(io.dwBuffer, stagingBuffer));
    if (transfer.write) {
      std::memcpy(drive_.data() + start, buffer, static_cast<size_t>(bytes));
    } else {
      std::memcpy(buffer, drive_.data() + start, static_cast<size_t>(bytes));
    }
  }
  if (error == 0) {
    regs.reg_Flags &= ~CARRY_FLAG;
  } else {
    regs.reg_EAX = error;
    regs.reg_Flags |= CARRY_FLAG;
  }
  std::memcpy(out, &regs, sizeof regs);
  if (returned) *returned = sizeof regs;
  return TRUE;
}

}  // namespace kestro::testing
