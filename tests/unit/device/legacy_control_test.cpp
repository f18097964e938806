// Legacy volume control: the register blocks the six generic-IOCTL members send through the
// VWIN32 device, and how they read the carry flag that comes back.
#include <Kestro32.h>

#include <cstring>

#include <fake_world.h>

using namespace win32;
using win32::testing::Call;
using win32::testing::DeviceKind;
using win32::testing::Outcome;

// Found by argument lookup, so in the namespace of the record.
static bool operator==(const _DEVIOCTL_REGISTERS& a, const _DEVIOCTL_REGISTERS& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

static std::ostream& operator<<(std::ostream& out, const _DEVIOCTL_REGISTERS& r) {
  return out << std::hex << "{EBX " << r.reg_EBX << " EDX " << r.reg_EDX << " ECX " << r.reg_ECX
             << " EAX " << r.reg_EAX << " EDI " << r.reg_EDI << " ESI " << r.reg_ESI << " Flags "
             << r.reg_Flags << "}";
}

namespace {

_DEVIOCTL_REGISTERS Block(DWORD ebx, DWORD edx, DWORD ecx, DWORD eax, DWORD edi, DWORD esi,
                          DWORD flags) {
  return _DEVIOCTL_REGISTERS{ebx, edx, ecx, eax, edi, esi, flags};
}

DWORD Low32(const void* address) {
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(address));
}

class LegacyControl : public kestro::testing::FakeWorld {
 protected:
  void SetUp() override {
    volume.m_hDisk = OpenDevice(u"\\\\.\\VWIN32", {}, DeviceKind::kFile);
    fake.ClearCalls();
  }

  // The block the n-th device call sent, after checking it went as a DOS IOCTL, 28 bytes each way.
  _DEVIOCTL_REGISTERS Sent(size_t n = 0) {
    const Call& call = *fake.CallsOf(Kernel32Call::DeviceIoControl).at(n);
    EXPECT_EQ(call.handle, volume.m_hDisk);
    EXPECT_EQ(call.args, (std::vector<uint64_t>{VWIN32_DIOC_DOS_IOCTL, 28, 28}));
    _DEVIOCTL_REGISTERS sent{};
    EXPECT_EQ(call.data.size(), sizeof sent);
    std::memcpy(&sent, call.data.data(), std::min(call.data.size(), sizeof sent));
    return sent;
  }

  // The device answers every DOS IOCTL with `reply` as the registers DOS left.
  void AnswerWith(const _DEVIOCTL_REGISTERS& reply) {
    fake.SetIoctlReply(VWIN32_DIOC_DOS_IOCTL, Outcome::Reply(reply));
  }

  void ExpectEveryOperationFails() {
    _MID mid{};
    EA_DEVICEPARAMETERS params{};
    _DEVIOCTL_REGISTERS regs{};
    EXPECT_EQ(volume.DoIOCTL(&regs), 0);
    EXPECT_EQ(volume.LockVolume(3, 0), 0);
    EXPECT_EQ(volume.UnlockVolume(3), 0);
    EXPECT_EQ(volume.GetCurrentLockState(3), -1);
    EXPECT_EQ(volume.GetMediaID(&mid, 3), 0);
    EXPECT_EQ(volume.GetGeometry(&params, 3), 0);
  }

  CKestro32 volume;
};

TEST_F(LegacyControl, WithoutADeviceNothingIsSentAndEveryOperationFails) {
  CKestro32 closed;
  _MID mid{};
  EA_DEVICEPARAMETERS params{};
  _DEVIOCTL_REGISTERS regs = Block(1, 2, 3, 4, 5, 6, 0x0001);
  EXPECT_EQ(closed.DoIOCTL(&regs), 0);
  EXPECT_EQ(regs, Block(1, 2, 3, 4, 5, 6, 0x8000));
  EXPECT_EQ(closed.LockVolume(3, 1), 0);
  EXPECT_EQ(closed.UnlockVolume(3), 0);
  EXPECT_EQ(closed.GetCurrentLockState(3), 0);
  EXPECT_EQ(closed.GetMediaID(&mid, 3), 0);
  EXPECT_EQ(closed.GetGeometry(&params, 3), 0);
  EXPECT_EQ(fake.CountOf(Kernel32Call::DeviceIoControl), 0u);
}

TEST_F(LegacyControl, LockCallsCarryDriveAndLevelInTheLowBytesOnly) {
  AnswerWith(Block(0, 0, 0, 0, 0, 0, 0));
  EXPECT_EQ(volume.LockVolume(3, 1), 1);
  EXPECT_EQ(Sent(0), Block(0x0103, 0x0001, 0x084A, 0x440D, 0, 0, 0));
  EXPECT_EQ(volume.LockVolume(0x1FF, 0x102), 1);
  EXPECT_EQ(Sent(1), Block(0x02FF, 0x0001, 0x084A, 0x440D, 0, 0, 0));
  EXPECT_EQ(volume.UnlockVolume(0x103), 1);
  EXPECT_EQ(Sent(2), Block(0x0103, 0, 0x086A, 0x440D, 0, 0, 0));
  volume.GetCurrentLockState(3);
  EXPECT_EQ(Sent(3), Block(3, 0, 0x0870, 0x440D, 0, 0, 0));
}

TEST_F(LegacyControl, RecordCallsPassTheRecordAddressAndPresetTheFlags) {
  _MID mid{};
  EA_DEVICEPARAMETERS params{};
  AnswerWith(Block(0, 0, 0, 0, 0, 0, 0x8000));
  EXPECT_EQ(volume.GetMediaID(&mid, 4), 1);
  EXPECT_EQ(Sent(0), Block(4, Low32(&mid), 0x0866, 0x440D, 0, 0, 0x8000));
  EXPECT_EQ(volume.GetGeometry(&params, 5), 1);
  EXPECT_EQ(Sent(1), Block(5, Low32(&params), 0x4860, 0x440D, 0, 0, 0x8000));
}

TEST_F(LegacyControl, DoIoctlPassesEveryRegisterButFlagsAndReturnsWhatDosLeft) {
  _DEVIOCTL_REGISTERS regs =
      Block(0x11111111, 0x22222222, 0x33333333, 0x44444444, 0x55555555, 0x66666666, 0xFFFFFFFF);
  const _DEVIOCTL_REGISTERS reply = Block(9, 8, 7, 6, 5, 4, 0x8000);
  AnswerWith(reply);
  EXPECT_EQ(volume.DoIOCTL(&regs), 1);
  EXPECT_EQ(Sent(),
            Block(0x11111111, 0x22222222, 0x33333333, 0x44444444, 0x55555555, 0x66666666, 0x8000));
  EXPECT_EQ(regs, reply);
}

TEST_F(LegacyControl, ACarrySetByDosFailsEveryOperation) {
  AnswerWith(Block(0, 0, 0, 0x0005, 0, 0, 0x8001));
  ExpectEveryOperationFails();
  EXPECT_EQ(fake.CountOf(Kernel32Call::DeviceIoControl), 6u);
}

TEST_F(LegacyControl, AFailedDeviceCallFailsEveryOperation) {
  fake.SetIoctlReply(VWIN32_DIOC_DOS_IOCTL, Outcome::Failure(ERROR_INVALID_FUNCTION));
  ExpectEveryOperationFails();
}

TEST_F(LegacyControl, LockStateIsTheWholeEaxDosLeft) {
  AnswerWith(Block(0, 0, 0, 0x00000002, 0, 0, 0));
  EXPECT_EQ(volume.GetCurrentLockState(3), 2);
  // Unlocked, DOS reports level FFFFh in AX.
  AnswerWith(Block(0, 0, 0, 0x0000FFFF, 0, 0, 0));
  EXPECT_EQ(volume.GetCurrentLockState(3), 0xFFFF);
}

}  // namespace
