// Register images sent to the legacy device emulator, against a drive whose image comes from
// the fuzzer's input. The device takes addresses from the registers as DOS does, so every
// address the fuzzer hands it names memory below 2 GiB that it owns: the packet, the parameter
// record and a transfer buffer that holds the largest count the input may ask for.
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include <win32/drive_map.h>
#include <win32/vwin32.h>

#include "open_object.h"
#include "require.h"
#include "scratch_file.h"
#include "sparse_image.h"
#include "vwin32/dos_locks.h"
#include "vwin32/vwin32_device.h"

using namespace win32;
using kestro::fuzz::Require;
using kestro::fuzz::ScratchFile;
using kestro::fuzz::SparseImage;

namespace {

constexpr size_t kSector = 512;
constexpr size_t kParameterOffset = 64;
constexpr size_t kParameterBytes = 1024;
constexpr size_t kTransferOffset = 4096;
constexpr size_t kTransferSectors = 256;
constexpr size_t kArenaBytes = kTransferOffset + kTransferSectors * kSector;
constexpr size_t kHeaderBytes = 1 + sizeof(DEVIOCTL_REGISTERS) + sizeof(DISKIO) + kParameterBytes;
constexpr WORD kPacketForm = 0xFFFF;

constexpr DWORD kCodes[] = {VWIN32_DIOC_DOS_INT25, VWIN32_DIOC_DOS_INT26, VWIN32_DIOC_DOS_IOCTL,
                            VWIN32_DIOC_DOS_DRIVEINFO};

ScratchFile& Image() {
  static ScratchFile* file = new ScratchFile();
  return *file;
}

uint8_t* Arena() {
  static void* arena = [] {
    void* memory = mmap(nullptr, kArenaBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    Require(memory != MAP_FAILED);
    return memory;
  }();
  return static_cast<uint8_t*>(arena);
}

DWORD Linear(const uint8_t* at) {
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(at));
}

// Points the registers and the packet into the arena, with counts it can hold.
void AimIntoArena(DEVIOCTL_REGISTERS& registers, DISKIO& packet) {
  uint8_t* arena = Arena();
  registers.reg_EBX = Linear(arena);
  registers.reg_EDX = Linear(arena + kParameterOffset);
  if (static_cast<WORD>(registers.reg_ECX) != kPacketForm) {
    const DWORD count = static_cast<WORD>(registers.reg_ECX) % (kArenaBytes / kSector + 1);
    registers.reg_ECX = (registers.reg_ECX & 0xFFFF0000u) | count;
  }
  packet.dwBuffer = Linear(arena + kTransferOffset);
  packet.wSectors = static_cast<WORD>(packet.wSectors % (kTransferSectors + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const DWORD code = kCodes[data[0] % 4];
  setenv("KESTRO_WINDOWS_VERSION", data[0] & 4 ? "4.0.950" : "4.10.2222 A", 1);
  DEVIOCTL_REGISTERS registers;
  DISKIO packet;
  std::memcpy(&registers, data + 1, sizeof registers);
  std::memcpy(&packet, data + 1 + sizeof registers, sizeof packet);
  AimIntoArena(registers, packet);
  std::memcpy(Arena(), &packet, sizeof packet);
  std::memcpy(Arena() + kParameterOffset, data + 1 + sizeof registers + sizeof packet,
              kParameterBytes);

  const SparseImage image(std::span<const uint8_t>(data + kHeaderBytes, size - kHeaderBytes));
  Require(image.WriteTo(Image().fd()));
  Require(kestro::MapDrive('C', Image().path()));
  kestro::posix::OpenObject device;
  device.kind = kestro::posix::ObjectKind::kLegacyDevice;
  device.lockOwner = std::make_shared<kestro::posix::DosLockOwner>();
  DEVIOCTL_REGISTERS answer = {};
  DWORD returned = 0;
  if (kestro::posix::ControlLegacyDevice(device, code, &registers, sizeof registers, &answer,
                                         sizeof answer, &returned)) {
    Require(returned == sizeof answer);
  }
  kestro::UnmapDrive('C');
  return 0;
}
