// A small VWIN32 device for tests over the fake backend: it answers the absolute-disk calls
// (interrupts 25h/26h and function 7305h) by moving sectors between a drive image in memory and
// the packet's buffer, logs every transfer, and fails the ones a test asks it to, as DOS does
// (carry set, AX the error code, nothing moved).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <Kestro32.h>

#include <fake_backend.h>

namespace kestro::testing {

struct SectorTransfer {
  win32::DWORD code = 0;  // the VWIN32 control code
  bool write = false;
  win32::DWORD firstSector = 0;
  win32::WORD sectors = 0;
  win32::DWORD esi = 0;  // the data kind of a 7305h write
};

class ScriptedVwin32 {
 public:
  enum class Fault { kNone, kCarry, kDeviceCallFails };

  // Answers the control requests of `fake`; `drive` is the image the sectors come from.
  ScriptedVwin32(win32::testing::FakeBackend& fake, std::vector<uint8_t>& drive);
  ~ScriptedVwin32();

  // The staging buffer every packet must name.
  const void* stagingBuffer = nullptr;
  // Decides, before each transfer, whether it fails.
  std::function<Fault(const SectorTransfer&)> fault;

  const std::vector<SectorTransfer>& transfers() const { return transfers_; }
  void ClearTransfers() { transfers_.clear(); }
  // Transfers that reached past the image, or named a buffer other than the staging buffer.
  int pastTheEnd = 0;
  int foreignBuffers = 0;

 private:
  win32::BOOL Respond(const win32::testing::Call& call, void* in, void* out, win32::DWORD outSize,
                      win32::DWORD* returned);

  win32::testing::FakeBackend& fake_;
  std::vector<uint8_t>& drive_;
  std::vector<SectorTransfer> transfers_;
};

// Register blocks and packets hold the low 32 bits of an address. In a 64-bit process the full
// address is the one with those low bits nearest to `nearby`, a pointer into the same region.
void* WidenAddress(win32::DWORD low, const void* nearby);

}  // namespace kestro::testing
