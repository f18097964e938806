// Legacy sector transfer: the register block each release and direction sends, and how the
// returned carry flag and the device call's own result decide the outcome.
#include <Kestro32.h>

#include <cstdint>
#include <cstring>

#include <fake_world.h>

using namespace win32;
using win32::testing::Call;
using win32::testing::Outcome;

namespace {

class LegacySector : public kestro::testing::FakeWorld {
 protected:
  void SetUp() override {
    volume.m_hDisk = OpenDevice(u"\\\\.\\VWIN32", {});
    io.dwStartSector = 1234;
    io.wSectors = 2;
    fake.ClearCalls();
  }

  void UseRelease(DWORD minor, std::u16string_view csd) {
    fake.version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    fake.version.dwMajorVersion = 4;
    fake.version.dwMinorVersion = minor;
    *std::copy(csd.begin(), csd.end(), fake.version.szCSDVersion) = 0;
    CKestro32 refill;  // constructors refill the version record
    fake.ClearCalls();
  }

  // The last device call: its control code, then the block it sent, EBX to Flags.
  std::vector<DWORD> Sent() const {
    const Call& call = *fake.CallsOf(Kernel32Call::DeviceIoControl).back();
    EXPECT_EQ(call.args[1], sizeof(_DEVIOCTL_REGISTERS));
    EXPECT_EQ(call.args[2], sizeof(_DEVIOCTL_REGISTERS));
    _DEVIOCTL_REGISTERS regs;
    std::memcpy(&regs, call.data.data(), sizeof regs);
    return {static_cast<DWORD>(call.args[0]),
            regs.reg_EBX,
            regs.reg_EDX,
            regs.reg_ECX,
            regs.reg_EAX,
            regs.reg_EDI,
            regs.reg_ESI,
            regs.reg_Flags};
  }

  // Answers the next device call with the block it was sent and these flags.
  void Answer(DWORD flags) {
    _DEVIOCTL_REGISTERS regs = {};
    regs.reg_Flags = flags;
    fake.Script(Kernel32Call::DeviceIoControl, Outcome::Reply(regs));
  }

  DWORD Address() const { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(&io)); }

  CKestro32 volume;
  _DISKIO io = {};
};

TEST_F(LegacySector, LaterReleasesUseFunction7305h) {
  UseRelease(10, u" A");
  Answer(0x8000);
  EXPECT_EQ(volume.NewReadSector(&io, 3), 1);
  EXPECT_EQ(Sent(), (std::vector<DWORD>{VWIN32_DIOC_DOS_DRIVEINFO, Address(), 3, 0xFFFFFFFF, 0x7305,
                                        0, 0, 0x8000}));

  const std::pair<int, DWORD> kinds[] = {
      {0, 0x6001}, {1, 0x4001}, {2, 0x2001}, {3, 0x6001}, {-1, 0x6001}};
  for (const auto& [kind, esi] : kinds) {
    Answer(0x8000);
    EXPECT_EQ(volume.NewWriteSector(&io, 3, kind), 1);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{VWIN32_DIOC_DOS_DRIVEINFO, Address(), 3, 0xFFFFFFFF,
                                          0x7305, 0, esi, 0x8000}))
        << "kind " << kind;
  }
  EXPECT_EQ(io.dwStartSector, 1234u);  // the packet is never changed
}

TEST_F(LegacySector, TheFirstReleaseUsesInterrupts25hAnd26h) {
  UseRelease(0, u"");
  Answer(0x8000);
  EXPECT_EQ(volume.NewReadSector(&io, 3), 1);
  EXPECT_EQ(Sent(),
            (std::vector<DWORD>{VWIN32_DIOC_DOS_INT25, Address(), 0, 0xFFFF, 2, 0, 0, 0x8000}));
  for (int kind : {0, 1, 2}) {
    Answer(0x8000);
    EXPECT_EQ(volume.NewWriteSector(&io, 3, kind), 1);
    EXPECT_EQ(Sent(),
              (std::vector<DWORD>{VWIN32_DIOC_DOS_INT26, Address(), 0, 0xFFFF, 2, 0, 0, 0x8000}))
        << "kind " << kind;
  }
}

TEST_F(LegacySector, CarryOrAFailedDeviceCallIsAFailure) {
  UseRelease(90, u"");
  Answer(0x8001);
  EXPECT_EQ(volume.NewReadSector(&io, 3), 0);
  Answer(CARRY_FLAG);
  EXPECT_EQ(volume.NewWriteSector(&io, 3, 0), 0);
  fake.Script(Kernel32Call::DeviceIoControl, Outcome::Failure(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(volume.NewReadSector(&io, 3), 0);
  fake.Script(Kernel32Call::DeviceIoControl, Outcome::Failure(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(volume.NewWriteSector(&io, 3, 0), 0);
}

TEST_F(LegacySector, WithoutADeviceNothingIsSent) {
  volume.m_hDisk = INVALID_HANDLE_VALUE;
  EXPECT_EQ(volume.NewReadSector(&io, 3), 0);
  EXPECT_EQ(volume.NewWriteSector(&io, 3, 0), 0);
  EXPECT_EQ(fake.CountOf(Kernel32Call::DeviceIoControl), 0u);
}

}  // namespace
