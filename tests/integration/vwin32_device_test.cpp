// The VWIN32 device emulator on real FAT images: absolute and extended sector transfers, generic
// IOCTL (locks, media ID, device parameters), and DOS's error codes.
#include <Kestro32.h>
#include <win32/drive_map.h>
#include <win32/windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <fixtures.h>
#include <mapped_drive_test.h>
#include <gtest/gtest.h>

using namespace win32;
using namespace kestro::testing;

namespace {

constexpr bool kHasDevice = sizeof(void*) == 4;
constexpr unsigned kL = 12, kM = 13, kN = 14, kUnmapped = 17;  // drive numbers, 1 = A:

// A copy of a field of a packed record, which cannot be bound to a reference.
uint64_t Value(uint64_t field) {
  return field;
}

DWORD Address(const void* p) {
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p));
}

// 0 when the DOS call succeeded, else the error code it left in AX.
unsigned DosError(const DEVIOCTL_REGISTERS& r) {
  return (r.reg_Flags & CARRY_FLAG) ? (r.reg_EAX & 0xFFFF) : 0;
}

DEVIOCTL_REGISTERS Extended(unsigned drive, const _DISKIO& io, DWORD si) {
  return DEVIOCTL_REGISTERS{Address(&io), drive, 0xFFFFFFFF, 0x7305, 0, si, 0x8000};
}

DEVIOCTL_REGISTERS Absolute(unsigned drive, const _DISKIO& io) {
  return DEVIOCTL_REGISTERS{Address(&io), 0, 0xFFFF, drive - 1, 0, 0, 0x8000};
}

DEVIOCTL_REGISTERS Ioctl(DWORD function, DWORD ebx, const void* record = nullptr) {
  return DEVIOCTL_REGISTERS{ebx, Address(record), function, 0x440D, 0, 0, 0x8000};
}

_DISKIO Packet(DWORD first, WORD count, void* buffer) {
  return _DISKIO{first, count, Address(buffer)};
}

TEST(Vwin32DeviceAbsence, SixtyFourBitBuildsHaveNoDevice) {
  if (kHasDevice) GTEST_SKIP() << "32-bit builds have the device";
  EXPECT_EQ(CreateFileW(WTEXT("\\\\.\\VWIN32"), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

class Vwin32Device : public MappedDriveTest {
 protected:
  void SetUp() override {
    if (!kHasDevice) GTEST_SKIP() << "the VWIN32 device exists in 32-bit builds (preset i686) only";
    KESTRO_REQUIRE_TOOL("mkfs.fat");
  }

  void TearDown() override {
    for (HANDLE h : handles_) CloseHandle(h);
  }

  // Formats a FAT image of `size` bytes and maps it to drive number `drive`.
  std::string MapFat(unsigned drive, int fatBits, uint64_t size,
                     const std::string& label = "KESTRO") {
    const std::string path =
        dir.File("fat" + std::to_string(fatBits) + "-" + std::to_string(drive) + ".img");
    MakeFat(path, fatBits, size, label);
    kestro::MapDrive(static_cast<char>('A' + drive - 1), path);
    return path;
  }

  HANDLE Open() {
    // Programs of the legacy family open the device with a disposition of 0.
    HANDLE h = CreateFileW(WTEXT("\\\\.\\vwin32"), 0, 0, nullptr, 0, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    handles_.push_back(h);
    return h;
  }

  // Sends `regs` in place, as the library does, and returns them as the DOS call left them.
  static DEVIOCTL_REGISTERS Run(HANDLE device, DWORD code, DEVIOCTL_REGISTERS regs) {
    DWORD returned = 0;
    EXPECT_TRUE(
        DeviceIoControl(device, code, &regs, sizeof regs, &regs, sizeof regs, &returned, nullptr));
    EXPECT_EQ(returned, sizeof regs);
    return regs;
  }

  unsigned Read(HANDLE device, unsigned drive, DWORD first, WORD count, void* buffer) {
    const _DISKIO io = Packet(first, count, buffer);
    return DosError(Run(device, VWIN32_DIOC_DOS_DRIVEINFO, Extended(drive, io, 0)));
  }

  unsigned Write(HANDLE device, unsigned drive, DWORD first, WORD count, const void* buffer) {
    const _DISKIO io = Packet(first, count, const_cast<void*>(buffer));
    return DosError(Run(device, VWIN32_DIOC_DOS_DRIVEINFO, Extended(drive, io, 0x6001)));
  }

  unsigned Lock(HANDLE device, unsigned drive, unsigned level, WORD permissions = 0) {
    DEVIOCTL_REGISTERS regs = Ioctl(0x084A, (level << 8) | drive);
    regs.reg_EDX = permissions;
    return DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, regs));
  }

  unsigned Unlock(HANDLE device, unsigned drive) {
    return DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(0x086A, drive)));
  }

  // The lock level in AX (FFFFh when unlocked), with the permissions in the high half.
  DWORD LockState(HANDLE device, unsigned drive) {
    const DEVIOCTL_REGISTERS r = Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(0x0870, drive));
    EXPECT_EQ(DosError(r), 0u);
    return (r.reg_EAX & 0xFFFF) | ((r.reg_EAX & 0xFFFF) == 0xFFFF ? 0 : r.reg_ECX << 16);
  }

  ScopedEnv release{"KESTRO_WINDOWS_VERSION", "4.10.2222 A"};

 private:
  std::vector<HANDLE> handles_;
};

TEST_F(Vwin32Device, ExtendedCallsMoveSectorsBetweenTheVolumeAndThePacketBuffer) {
  const std::string image = MapFat(kL, 16, 16 << 20);
  const uint64_t sectors = (16 << 20) / 512;
  HANDLE device = Open();
  WriteBytes(image, 100 * 512, Pattern(100 * 512, 4 * 512, 1));
  std::vector<uint8_t> buffer(4 * 512);
  _DISKIO io = Packet(100, 4, buffer.data());
  const DEVIOCTL_REGISTERS reply = Run(device, VWIN32_DIOC_DOS_DRIVEINFO, Extended(kL, io, 0));
  EXPECT_EQ(reply.reg_Flags, 0x8000u);
  EXPECT_EQ(buffer, Pattern(100 * 512, 4 * 512, 1));

  // Every data category writes; the sectors around the written ones stay as they were.
  const std::vector<uint8_t> before = ReadBytes(image, 199 * 512, 5 * 512);
  for (DWORD si : {0x0001u, 0x2001u, 0x4001u, 0x6001u, 0xE001u}) {
    const std::vector<uint8_t> data = Pattern(si, 3 * 512, 2);
    io = Packet(200, 3, const_cast<uint8_t*>(data.data()));
    EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_DRIVEINFO, Extended(kL, io, si))), 0u) << si;
    EXPECT_EQ(ReadBytes(image, 200 * 512, 3 * 512), data);
  }
  EXPECT_EQ(ReadBytes(image, 199 * 512, 512),
            std::vector<uint8_t>(before.begin(), before.begin() + 512));
  EXPECT_EQ(ReadBytes(image, 203 * 512, 512),
            std::vector<uint8_t>(before.end() - 512, before.end()));

  // The last sector is there; a transfer that runs past it moves nothing.
  EXPECT_EQ(Read(device, kL, static_cast<DWORD>(sectors - 1), 1, buffer.data()), 0u);
  const std::vector<uint8_t> tail = ReadBytes(image, (sectors - 1) * 512, 512);
  EXPECT_EQ(Write(device, kL, static_cast<DWORD>(sectors - 1), 2, buffer.data()), 0x001Bu);
  EXPECT_EQ(Read(device, kL, static_cast<DWORD>(sectors), 1, buffer.data()), 0x001Bu);
  EXPECT_EQ(ReadBytes(image, (sectors - 1) * 512, 512), tail);
}

TEST_F(Vwin32Device, ExtendedCallsAnswerBadRegistersWithDosErrors) {
  MapFat(kL, 16, 16 << 20);
  HANDLE device = Open();
  std::vector<uint8_t> buffer(512);
  const _DISKIO io = Packet(0, 1, buffer.data());
  EXPECT_EQ(Read(device, 0, 0, 1, buffer.data()), 0x000Fu);  // no default drive
  EXPECT_EQ(Read(device, kUnmapped, 0, 1, buffer.data()), 0x000Fu);
  for (DWORD si : {0x0002u, 0x1001u, 0x0800u}) {
    EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_DRIVEINFO, Extended(kL, io, si))), 0x0057u);
  }
  DEVIOCTL_REGISTERS regs = Extended(kL, io, 0);
  regs.reg_ECX = 1;  // only the packet form exists
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_DRIVEINFO, regs)), 0x0057u);
  // An error replaces AX only.
  regs = Extended(kUnmapped, io, 0);
  regs.reg_EAX = 0xABCD7305;
  EXPECT_EQ(Run(device, VWIN32_DIOC_DOS_DRIVEINFO, regs).reg_EAX, 0xABCD000Fu);
  regs = Extended(kL, io, 0);
  regs.reg_EAX = 0x7302;
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_DRIVEINFO, regs)), 0x0001u);
}

TEST_F(Vwin32Device, AbsoluteCallsCountDrivesFromZeroAndLeaveFat32ToTheExtendedCall) {
  const std::string fat16 = MapFat(kL, 16, 40 << 20);
  const std::string fat32 = MapFat(kM, 32, 40 << 20);
  const std::string fat12 = MapFat(kN, 12, 2 << 20);
  HANDLE device = Open();
  std::vector<uint8_t> buffer(2 * 512);
  const std::vector<uint8_t> data = Pattern(0, 2 * 512, 3);
  _DISKIO io = Packet(70000, 2, const_cast<uint8_t*>(data.data()));
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_INT26, Absolute(kL, io))), 0u);
  EXPECT_EQ(ReadBytes(fat16, 70000ull * 512, 2 * 512), data);
  io = Packet(70000, 2, buffer.data());
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_INT25, Absolute(kL, io))), 0u);
  EXPECT_EQ(buffer, data);

  const std::vector<uint8_t> fat32Start = ReadBytes(fat32, 0, 2 * 512);
  io = Packet(0, 2, const_cast<uint8_t*>(data.data()));
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_INT26, Absolute(kM, io))), 0x0207u);
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_INT25, Absolute(kM, io))), 0x0207u);
  EXPECT_EQ(ReadBytes(fat32, 0, 2 * 512), fat32Start);
  EXPECT_EQ(Read(device, kM, 0, 2, buffer.data()), 0u);
  EXPECT_EQ(buffer, fat32Start);

  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_INT25, Absolute(kUnmapped, io))), 0x0201u);
  io = Packet(82000, 1, buffer.data());
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_INT25, Absolute(kL, io))), 0x0408u);

  // The old register form (count in CX, first sector in DX, buffer in EBX) reaches small volumes
  // only.
  const DEVIOCTL_REGISTERS old{Address(buffer.data()), 5, 2, kN - 1, 0, 0, 0x8000};
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_INT25, old)), 0u);
  EXPECT_EQ(buffer, ReadBytes(fat12, 5 * 512, 2 * 512));
  DEVIOCTL_REGISTERS large = old;
  large.reg_EAX = kL - 1;
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_INT25, large)), 0x0207u);
}

TEST_F(Vwin32Device, CallsTheDeviceCannotCarryOutFailAsDeviceCalls) {
  MapFat(kL, 16, 16 << 20);
  HANDLE device = Open();
  DEVIOCTL_REGISTERS regs = Ioctl(0x0870, kL);
  DWORD returned = 0;
  EXPECT_FALSE(DeviceIoControl(device, VWIN32_DIOC_DOS_INT13, &regs, sizeof regs, &regs,
                               sizeof regs, &returned, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_FALSE(DeviceIoControl(device, VWIN32_DIOC_DOS_IOCTL, &regs, sizeof regs - 1, &regs,
                               sizeof regs, &returned, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(DeviceIoControl(device, VWIN32_DIOC_DOS_IOCTL, &regs, sizeof regs, nullptr,
                               sizeof regs, &returned, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  regs = DEVIOCTL_REGISTERS{0, kL, 0xFFFF, 0x7305, 0, 0, 0x8000};  // no packet
  EXPECT_FALSE(DeviceIoControl(device, VWIN32_DIOC_DOS_DRIVEINFO, &regs, sizeof regs, &regs,
                               sizeof regs, &returned, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NOACCESS);
  uint8_t byte = 0;
  EXPECT_FALSE(ReadFile(device, &byte, 1, &returned, nullptr));
}

TEST_F(Vwin32Device, LocksClimbLevelByLevelAndBindEveryOtherHandle) {
  MapFat(kL, 16, 16 << 20);
  HANDLE owner = Open(), other = Open();
  std::vector<uint8_t> buffer(512);
  EXPECT_EQ(LockState(other, kL), 0xFFFFu);
  EXPECT_EQ(Lock(owner, kL, 1), 0x0005u);  // level 0 comes first
  ASSERT_EQ(Lock(owner, kL, 0), 0u);
  EXPECT_EQ(LockState(other, kL), 0u);
  EXPECT_EQ(Lock(other, kL, 0), 0x0005u);
  EXPECT_EQ(Read(other, kL, 0, 1, buffer.data()), 0x0005u);
  EXPECT_EQ(Read(owner, kL, 0, 1, buffer.data()), 0u);

  ASSERT_EQ(Lock(owner, kL, 1, 0x0001), 0u);  // others may go on writing
  EXPECT_EQ(LockState(other, kL), 0x00010001u);
  EXPECT_EQ(Write(other, kL, 1, 1, buffer.data()), 0u);
  ASSERT_EQ(Lock(owner, kL, 2), 0u);
  EXPECT_EQ(Write(other, kL, 1, 1, buffer.data()), 0x0005u);
  EXPECT_EQ(Read(other, kL, 1, 1, buffer.data()), 0u);
  ASSERT_EQ(Lock(owner, kL, 3), 0u);
  EXPECT_EQ(Read(other, kL, 1, 1, buffer.data()), 0x0005u);
  const _DISKIO io = Packet(1, 1, buffer.data());
  EXPECT_EQ(DosError(Run(other, VWIN32_DIOC_DOS_INT25, Absolute(kL, io))), 0x8002u);
  EXPECT_EQ(DosError(Run(other, VWIN32_DIOC_DOS_INT26, Absolute(kL, io))), 0x0300u);
  EXPECT_EQ(Write(owner, kL, 1, 1, buffer.data()), 0u);
  EXPECT_EQ(Lock(owner, kL, 4), 0x0001u);

  EXPECT_EQ(Unlock(other, kL), 0x0005u);
  for (DWORD level : {2u, 1u}) {
    EXPECT_EQ(Unlock(owner, kL), 0u);
    EXPECT_EQ(LockState(other, kL) & 0xFFFF, level);
  }
  EXPECT_EQ(Unlock(owner, kL), 0u);
  EXPECT_EQ(LockState(other, kL), 0u);  // level 0 keeps no permissions
  EXPECT_EQ(Unlock(owner, kL), 0u);
  EXPECT_EQ(LockState(other, kL), 0xFFFFu);
  EXPECT_EQ(Unlock(owner, kL), 0x0005u);

  // Without the write permission a level-1 lock refuses other handles' writes.
  ASSERT_EQ(Lock(owner, kL, 0) | Lock(owner, kL, 1, 0), 0u);
  EXPECT_EQ(Write(other, kL, 1, 1, buffer.data()), 0x0005u);
  EXPECT_EQ(Lock(owner, kUnmapped, 0), 0x0002u);
}

TEST_F(Vwin32Device, ClosingTheHandleThatTookALockReleasesIt) {
  MapFat(kL, 16, 16 << 20);
  HANDLE other = Open();
  HANDLE owner = CreateFileW(WTEXT("\\\\.\\VWIN32"), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_EQ(Lock(owner, kL, 0) | Lock(owner, kL, 1, 1), 0u);
  ASSERT_TRUE(CloseHandle(owner));
  EXPECT_EQ(LockState(other, kL), 0xFFFFu);
  EXPECT_EQ(Lock(other, kL, 0), 0u);
}

TEST_F(Vwin32Device, MediaIdIsTheBootSectorsSerialLabelAndType) {
  struct Case {
    unsigned drive;
    int bits;
    uint64_t size;
    const char* label;
  };
  HANDLE device = nullptr;
  for (const Case& c : {Case{kL, 12, 2 << 20, "TWELVE"}, Case{kM, 16, 16 << 20, "SIXTEEN"},
                        Case{kN, 32, 40 << 20, "THIRTY TWO"}}) {
    const std::string image = MapFat(c.drive, c.bits, c.size, c.label);
    if (device == nullptr) device = Open();
    _MID mid{};
    EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(0x0866, c.drive, &mid))), 0u);
    const FatVolumeId written = ProbeFatVolumeId(image);
    EXPECT_EQ(Value(mid.midSerialNum), written.serial);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(mid.midVolLabel), 11), written.label);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(mid.midFileSysType), 8), written.type);
  }
  _MID mid{};
  mid.midInfoLevel = 1;
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(0x0866, kL, &mid))), 0x0001u);
  mid.midInfoLevel = 0;
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(0x0866, kUnmapped, &mid))), 0x0002u);
}

TEST_F(Vwin32Device, DeviceParametersCarryTheBootSectorsBpb) {
  HANDLE device = nullptr;
  for (int bits : {12, 16, 32}) {
    const std::string image = MapFat(kL, bits, bits == 32 ? 40 << 20 : 16 << 20);
    if (device == nullptr) device = Open();
    EA_DEVICEPARAMETERS params;
    std::memset(&params, 0xCC, sizeof params);
    ASSERT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(0x4860, kL, &params))), 0u);
    const A_BF_BPB& bpb = params.stdBpb;
    EXPECT_EQ(Value(bpb.A_BF_BPB_BytesPerSector), FatInfoNumber(image, "sector size").value());
    EXPECT_EQ(Value(bpb.A_BF_BPB_SectorsPerCluster), FatInfoNumber(image, "cluster size").value());
    EXPECT_EQ(Value(bpb.A_BF_BPB_TotalSectors), FatInfoNumber(image, "small size").value());
    EXPECT_EQ(Value(bpb.A_BF_BPB_BigTotalSectorsHigh) << 16 | bpb.A_BF_BPB_BigTotalSectors,
              FatInfoNumber(image, "big size").value_or(0));
    EXPECT_EQ(Value(params.bDevType), 5u);  // fixed disk
    EXPECT_EQ(Value(params.wDevAttr), 1u);  // not removable
    // Only FAT32 has the fields after the shared 25 bytes; the reserved tail is cleared.
    const std::vector<uint8_t> boot = ReadBytes(image, 0, 64);
    const BYTE* raw = reinterpret_cast<const BYTE*>(&bpb);
    EXPECT_EQ(std::vector<uint8_t>(raw + 25, raw + 53),
              bits == 32 ? std::vector<uint8_t>(boot.begin() + 36, boot.end())
                         : std::vector<uint8_t>(28, 0));
    EXPECT_EQ(params.reserved[31], 0);

    // The category-08h form fills the header and the 25 shared bytes only.
    std::memset(&params, 0xCC, sizeof params);
    ASSERT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(0x0860, kL, &params))), 0u);
    EXPECT_EQ(std::vector<uint8_t>(raw, raw + 25),
              std::vector<uint8_t>(boot.begin() + 11, boot.begin() + 36));
    EXPECT_EQ(raw[25], 0xCC);
  }
  EA_DEVICEPARAMETERS params{};
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(0x4860, kUnmapped, &params))),
            0x0002u);
}

TEST_F(Vwin32Device, UnknownFunctionsAndCategoriesFailWithInvalidFunction) {
  MapFat(kL, 16, 16 << 20);
  HANDLE device = Open();
  EA_DEVICEPARAMETERS params{};
  for (DWORD cx : {0x0861u, 0x094Au, 0x0000u}) {
    EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(cx, kL, &params))), 0x0001u) << cx;
  }
  DEVIOCTL_REGISTERS regs = Ioctl(0x0870, kL);
  regs.reg_EAX = 0x4408;  // is the drive removable: not served
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, regs)), 0x0001u);
}

TEST_F(Vwin32Device, TheFirstReleasesOf95HaveNeitherFat32CallNorCategory) {
  ScopedEnv first95("KESTRO_WINDOWS_VERSION", "4.0.950");
  const std::string image = MapFat(kL, 16, 16 << 20);
  HANDLE device = Open();
  std::vector<uint8_t> buffer(512);
  EXPECT_EQ(Read(device, kL, 0, 1, buffer.data()), 0x0001u);
  const _DISKIO io = Packet(0, 1, buffer.data());
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_INT25, Absolute(kL, io))), 0u);
  EXPECT_EQ(buffer, ReadBytes(image, 0, 512));
  EA_DEVICEPARAMETERS params{};
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(0x4860, kL, &params))), 0x0001u);
  EXPECT_EQ(DosError(Run(device, VWIN32_DIOC_DOS_IOCTL, Ioctl(0x0860, kL, &params))), 0u);
}

}  // namespace
