// Writing over the fake backend: the sectors each family reads and writes, end-of-volume cuts,
// failures that leave the position (and, where nothing was sent, the volume) alone, refused
// oversize writes, and the window after direct writes.
#include <Kestro32.h>

#include "volume_on_fake.h"

using namespace win32;
using kestro::testing::kBufferSize;
using kestro::testing::kGuard;
using kestro::testing::kVolumeSize;
using kestro::testing::SectorTransfer;
using win32::testing::Call;
using win32::testing::Outcome;
using Fault = kestro::testing::ScriptedVwin32::Fault;

namespace {

// The device after `bytes` land at `at` of `before`.
std::vector<uint8_t> Patched(std::vector<uint8_t> before, uint64_t at,
                             const std::vector<uint8_t>& bytes) {
  std::copy(bytes.begin(), bytes.end(), before.begin() + static_cast<ptrdiff_t>(at));
  return before;
}

class NtWrite : public kestro::testing::NtVolume {
 protected:
  // Writes `length` fresh bytes at `position`, expecting success, and checks the device.
  void ExpectWrite(ULONGLONG position, DWORD length, DWORD expected) {
    At(position);
    fake.ClearCalls();
    std::vector<uint8_t> bytes = Fresh(length);
    const std::vector<uint8_t> before = Device();
    ASSERT_EQ(volume.WriteNT(bytes.data(), length), expected);
    bytes.resize(expected);
    EXPECT_EQ(Device(), Patched(before, position, bytes));
    EXPECT_EQ(volume.m_llPos, position + expected);
    EXPECT_EQ(volume.m_llSector, (position + expected) >> 9);
  }

  std::vector<uint64_t> SizesOf(Kernel32Call function) const {
    std::vector<uint64_t> sizes;
    for (const Call* call : fake.CallsOf(function)) sizes.push_back(call->args[0]);
    return sizes;
  }

  // Writes at `position` and expects a failure that left the position where it was.
  void ExpectFailure(ULONGLONG position, DWORD length) {
    At(position);
    std::vector<uint8_t> bytes = Fresh(length);
    EXPECT_EQ(volume.WriteNT(bytes.data(), length), KESTRO_WRITE_FAILED);
    EXPECT_EQ(volume.m_llPos, position);
    EXPECT_EQ(volume.m_llSector, position >> 9);
  }
};

TEST_F(NtWrite, NothingIsWrittenAtTheEndOrForAnEmptyRequest) {
  At(kVolumeSize);
  fake.ClearCalls();
  std::vector<uint8_t> bytes(512);
  EXPECT_EQ(volume.Write2K(bytes.data(), 512), 0u);
  At(300);
  fake.ClearCalls();
  EXPECT_EQ(volume.Write2K(bytes.data(), 0), 0u);
  EXPECT_TRUE(fake.calls().empty());
  EXPECT_EQ(volume.m_llPos, 300u);
}

TEST_F(NtWrite, AWriteRunningPastTheEndIsCut) {
  ExpectWrite(kVolumeSize - 100, 512, 100);
  EXPECT_EQ(SizesOf(Kernel32Call::ReadFile), std::vector<uint64_t>{512});
  EXPECT_EQ(SizesOf(Kernel32Call::WriteFile), std::vector<uint64_t>{512});
}

TEST_F(NtWrite, PartialSectorsAreReadPatchedAndWrittenBack) {
  ExpectWrite(4096 + 511, 1, 1);
  EXPECT_EQ(SizesOf(Kernel32Call::ReadFile), std::vector<uint64_t>{512});

  ExpectWrite(8192 + 100, 600, 600);
  EXPECT_EQ(SizesOf(Kernel32Call::ReadFile), std::vector<uint64_t>{1024});
  EXPECT_EQ(SizesOf(Kernel32Call::WriteFile), std::vector<uint64_t>{1024});
  EXPECT_EQ(volume.m_llPos, 8192u + 700);
  // The pointer went back over the two sectors, and after the write to the new current sector.
  const std::vector<const Call*> moves = fake.CallsOf(Kernel32Call::SetFilePointerEx);
  ASSERT_EQ(moves.size(), 3u);
  EXPECT_EQ(moves[1]->args, (std::vector<uint64_t>{static_cast<uint64_t>(-1024), FILE_CURRENT}));
  EXPECT_EQ(moves[2]->args, (std::vector<uint64_t>{8192 + 512, FILE_BEGIN}));
}

TEST_F(NtWrite, WholeSectorsGoStraightFromTheCallersBuffer) {
  At(4096);
  fake.ClearCalls();
  std::vector<uint8_t> bytes = Fresh(1024);
  ASSERT_EQ(volume.Write2K(bytes.data(), 1024), 1024u);
  EXPECT_EQ(volume.m_llSector, 10u);
  EXPECT_EQ(volume.m_llPos, 5120u);
  EXPECT_EQ(fake.CallNames(), (std::vector<std::string>{"SetFilePointerEx", "WriteFile"}));
  const Call& write = *fake.CallsOf(Kernel32Call::WriteFile)[0];
  EXPECT_EQ(write.args[1], reinterpret_cast<uintptr_t>(bytes.data()));
  EXPECT_EQ(Stored(4096, 1024), bytes);

  // No staging buffer is needed for whole sectors, even beyond its size.
  ExpectWrite(0, 2 * kBufferSize, 2 * kBufferSize);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualAlloc), 0u);
}

TEST_F(NtWrite, ShortOrFailedTransfersFailTheWrite) {
  const std::vector<uint8_t> original = Original();
  for (const Outcome& outcome :
       {Outcome::Short(0), Outcome::Short(512), Outcome::Failure(ERROR_CRC)}) {
    fake.Script(Kernel32Call::ReadFile, outcome);
    ExpectFailure(4096 + 10, 600);
    EXPECT_EQ(Device(), original) << "a failed read wrote";
  }
  fake.intercept = [](const Call& call) -> std::optional<Outcome> {
    if (call.kind != Kernel32Call::SetFilePointerEx || call.args[1] != FILE_CURRENT)
      return std::nullopt;
    return Outcome::Failure(ERROR_NEGATIVE_SEEK);
  };
  ExpectFailure(4096 + 10, 600);
  EXPECT_EQ(Device(), original) << "a write went out after the move back failed";
  fake.intercept = nullptr;

  for (const Outcome& outcome : {Outcome::Short(0), Outcome::Short(512)}) {
    fake.Script(Kernel32Call::WriteFile, outcome);
    ExpectFailure(8192, 1024);
    fake.Script(Kernel32Call::WriteFile, outcome);
    ExpectFailure(8192 + 3, 1024);
  }
}

TEST_F(NtWrite, PartialWritesLargerThanTheBufferAreRefusedBeforeTheDevice) {
  volume.m_bWindowValid = 1;
  At(200);
  fake.ClearCalls();
  std::vector<uint8_t> bytes = Fresh(kBufferSize);
  EXPECT_EQ(volume.Write2K(bytes.data(), kBufferSize - 199), KESTRO_WRITE_FAILED);
  EXPECT_TRUE(fake.calls().empty());
  EXPECT_EQ(volume.m_bWindowValid, 1);
  EXPECT_EQ(Device(), Original());
  ExpectWrite(200, kBufferSize - 200, kBufferSize - 200);  // exactly the buffer's sectors
}

TEST_F(NtWrite, WritesWithoutAHandleFail) {
  volume.m_hDisk = INVALID_HANDLE_VALUE;
  std::vector<uint8_t> bytes(512);
  EXPECT_EQ(volume.WriteNT(bytes.data(), 512), KESTRO_WRITE_FAILED);
  EXPECT_TRUE(fake.calls().empty());
}

// Every transfer that would use a null caller's buffer fails as a bad request, before the device
// (and the window, which holds the bytes); empty transfers and the zero-copy read still succeed.
TEST_F(NtWrite, ANullCallersBufferFailsEveryTransferThatWouldUseIt) {
  DWORD n = 0;
  std::vector<uint8_t> got(100);
  At(512);
  ASSERT_EQ(volume.ReadNT(got.data(), 100, &n), 0u);
  At(512);
  fake.ClearCalls();
  SetLastError(ERROR_SUCCESS);
  const auto refused = [](DWORD result) {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(ERROR_SUCCESS);
    return result;
  };
  EXPECT_EQ(refused(volume.ReadNT(nullptr, 100, &n)), KESTRO_ERR_READ);
  EXPECT_EQ(refused(volume.Read2K(nullptr, 100, &n)), KESTRO_ERR_READ);
  EXPECT_EQ(refused(volume.WriteNT(nullptr, 100)), KESTRO_WRITE_FAILED);
  EXPECT_EQ(refused(volume.WriteNT(nullptr, 512)), KESTRO_WRITE_FAILED);
  EXPECT_EQ(fake.CountOf(Kernel32Call::ReadFile) + fake.CountOf(Kernel32Call::WriteFile), 0u);
  EXPECT_EQ(Device(), Original());
  EXPECT_EQ(volume.ReadNT(nullptr, 0, &n) + volume.WriteNT(nullptr, 0), 0u);
  void* data = nullptr;
  EXPECT_EQ(volume.ReadNT(nullptr, 100, &n, &data), 0u);
}

TEST_F(NtWrite, DirectWritesEndTheWindow) {
  std::vector<uint8_t> got(100);
  At(0);
  ASSERT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);
  std::vector<uint8_t> bytes = Fresh(600);
  ASSERT_EQ(volume.Write2K(bytes.data(), 600), 600u);  // partial: patched in the staging buffer
  EXPECT_EQ(volume.m_bWindowValid, 0);
  At(0);
  ASSERT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);
  At(1024);
  ASSERT_EQ(volume.Write2K(bytes.data(), 512), 512u);  // whole sectors: the volume changed
  At(1024);
  ASSERT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);
  EXPECT_EQ(got, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 100));
}

TEST_F(NtWrite, NoReadOrWriteAllocates) {
  std::vector<uint8_t> bytes = Fresh(3000);
  void* data = nullptr;
  for (ULONGLONG at : {0ull, 700ull, 4096ull, kVolumeSize - 900}) {
    At(at);
    ASSERT_NE(volume.ReadNT(bytes.data(), 3000, nullptr), KESTRO_ERR_READ);
    ASSERT_NE(volume.ReadNT(bytes.data(), 100, nullptr), KESTRO_ERR_READ);
    ASSERT_NE(volume.ReadNT(nullptr, 600, nullptr, &data), KESTRO_ERR_READ);
    At(at);
    ASSERT_NE(volume.WriteNT(bytes.data(), 1024), KESTRO_WRITE_FAILED);
    ASSERT_NE(volume.WriteNT(bytes.data(), 1000), KESTRO_WRITE_FAILED);
  }
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualAlloc), 0u);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualFree), 0u);
}

class LegacyWrite : public kestro::testing::LegacyVolume {
 protected:
  using Writer = DWORD (CKestro32::*)(void*, DWORD);

  DWORD Write(ULONGLONG position, DWORD length, Writer writer = &CKestro32::WriteNT) {
    At(position);
    bytes = Fresh(length);
    before = drive;
    return (volume.*writer)(bytes.data(), length);
  }

  std::vector<uint8_t> bytes;
  std::vector<uint8_t> before;
};

TEST_F(LegacyWrite, WholeSectorsAreWrittenWithoutARead) {
  ASSERT_EQ(Write(4096, 512), 512u);
  ASSERT_EQ(vwin32.transfers().size(), 1u);
  const SectorTransfer& transfer = vwin32.transfers()[0];
  EXPECT_TRUE(transfer.write);
  EXPECT_EQ(transfer.firstSector, 8u);
  EXPECT_EQ(transfer.sectors, 1u);
  EXPECT_EQ(transfer.esi, 0x6001u);
  EXPECT_EQ(drive, Patched(before, 4096, bytes));
  EXPECT_EQ(volume.m_llPos, 4608u);
  EXPECT_EQ(fake.CallNames(),
            (std::vector<std::string>{"VirtualLock", "DeviceIoControl", "VirtualUnlock"}));
  EXPECT_EQ(vwin32.foreignBuffers, 0);
}

TEST_F(LegacyWrite, EachWriterDeclaresItsKindOfData) {
  const std::pair<LegacyWrite::Writer, DWORD> writers[] = {{&CKestro32::WriteDataW, 0x6001},
                                                           {&CKestro32::WriteDirDataW, 0x4001},
                                                           {&CKestro32::WriteFatDataW, 0x2001}};
  for (const auto& [writer, esi] : writers) {
    vwin32.ClearTransfers();
    ASSERT_EQ(Write(1024, 1024, writer), 1024u);
    EXPECT_EQ(vwin32.transfers().at(0).esi, esi);
  }
}

TEST_F(LegacyWrite, APartialSectorIsReadAndWrittenBackWithOneMore) {
  ASSERT_EQ(Write(4096 + 256, 256), 256u);
  ASSERT_EQ(vwin32.transfers().size(), 2u);
  EXPECT_FALSE(vwin32.transfers()[0].write);
  EXPECT_EQ(vwin32.transfers()[0].sectors, 2u);
  EXPECT_TRUE(vwin32.transfers()[1].write);
  EXPECT_EQ(vwin32.transfers()[1].sectors, 2u);
  EXPECT_EQ(drive, Patched(before, 4096 + 256, bytes));
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualLock), 2u);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualUnlock), 1u);

  vwin32.ClearTransfers();
  ASSERT_EQ(Write(8192, 100), 100u);
  EXPECT_EQ(vwin32.transfers().at(0).sectors, 1u);
  EXPECT_EQ(drive, Patched(before, 8192, bytes));
}

TEST_F(LegacyWrite, AWriteEndingOnTheLastByteStopsAtTheLastSector) {
  ASSERT_EQ(Write(kVolumeSize - 256, 256), 256u);
  EXPECT_EQ(vwin32.transfers().at(0).sectors, 1u);
  EXPECT_EQ(vwin32.transfers().at(1).sectors, 1u);
  EXPECT_EQ(drive, Patched(before, kVolumeSize - 256, bytes));
  EXPECT_EQ(vwin32.pastTheEnd, 0);
  // The sector after the end may not even exist.
  drive.resize(kVolumeSize);
  ASSERT_EQ(Write(kVolumeSize - 1000, 1000), 1000u);
  EXPECT_EQ(vwin32.pastTheEnd, 0);
}

TEST_F(LegacyWrite, AFailedWriteChangesNothingAndUnpinsOnce) {
  for (Fault fault : {Fault::kCarry, Fault::kDeviceCallFails}) {
    vwin32.fault = [fault](const SectorTransfer& transfer) {
      return transfer.write ? fault : Fault::kNone;
    };
    for (ULONGLONG at : {4096ull, 4096ull + 3}) {
      fake.ClearCalls();
      EXPECT_EQ(Write(at, 700), KESTRO_WRITE_FAILED);
      EXPECT_EQ(drive, before);
      EXPECT_EQ(volume.m_llPos, at);
      EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualUnlock), 1u);
    }
  }
  vwin32.fault = nullptr;
  fake.ClearCalls();
  fake.Script(Kernel32Call::VirtualLock, Outcome::Success());
  fake.Script(Kernel32Call::VirtualLock, Outcome::Failure(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(Write(4096 + 3, 700), KESTRO_WRITE_FAILED);  // the second pin fails
  EXPECT_EQ(drive, before);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualUnlock), 1u);
}

TEST_F(LegacyWrite, WritesWithoutABufferOrDeviceFail) {
  EXPECT_EQ(volume.WriteDataW(nullptr, 100), KESTRO_WRITE_FAILED);
  EXPECT_EQ(volume.ReadW(nullptr, 100, nullptr), KESTRO_ERR_READ);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  BYTE* buffer = volume.m_pBuffer;
  volume.m_pBuffer = nullptr;
  EXPECT_EQ(Write(0, 512), KESTRO_WRITE_FAILED);
  EXPECT_TRUE(fake.calls().empty());
  volume.m_pBuffer = buffer;
  const HANDLE device = volume.m_hDisk;
  volume.m_hDisk = INVALID_HANDLE_VALUE;
  EXPECT_EQ(Write(0, 512), KESTRO_WRITE_FAILED);
  EXPECT_EQ(fake.CountOf(Kernel32Call::DeviceIoControl), 0u);
  volume.m_hDisk = device;
}

TEST_F(LegacyWrite, TransfersThePacketOrBufferCannotCarryAreRefused) {
  volume.m_bWindowValid = 1;
  // One sector more than the buffer: the partial path's extra sector.
  const Writer writer = &CKestro32::WriteDataW;  // WriteNT would drop the window itself
  EXPECT_EQ(Write(256, kBufferSize - 256, writer), KESTRO_WRITE_FAILED);
  EXPECT_EQ(Write(0, kBufferSize + 512, writer), KESTRO_WRITE_FAILED);
  // A first sector beyond 32 bits.
  volume.m_llVolumeSize = 1ull << 42;
  EXPECT_EQ(Write(1ull << 41, 512, writer), KESTRO_WRITE_FAILED);
  EXPECT_TRUE(fake.calls().empty());
  EXPECT_EQ(volume.m_bWindowValid, 1);
  EXPECT_EQ(volume.m_llPos, 1ull << 41);
  EXPECT_EQ(drive, Original());

  // 65536 sectors: a 32 MiB buffer holds them, the packet's count does not.
  volume.Initial(0x2000000);
  fake.ClearCalls();
  EXPECT_EQ(Write(0, 0x2000000), KESTRO_WRITE_FAILED);
  EXPECT_TRUE(fake.calls().empty());
}

TEST_F(LegacyWrite, DirectWritesEndTheWindow) {
  std::vector<uint8_t> got(100);
  At(0);
  ASSERT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);
  ASSERT_EQ(Write(0, 50, &CKestro32::WriteFatDataW), 50u);
  EXPECT_EQ(volume.m_bWindowValid, 0);
  At(0);
  ASSERT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);
  EXPECT_EQ(got, Stored(0, 100));
}

TEST_F(LegacyWrite, TheFirstReleaseUsesInterrupt26hForEveryKind) {
  SetRelease(0, u"");
  for (auto writer : {&CKestro32::WriteDataW, &CKestro32::WriteFatDataW}) {
    vwin32.ClearTransfers();
    ASSERT_EQ(Write(512, 512, writer), 512u);
    EXPECT_EQ(vwin32.transfers().at(0).code, VWIN32_DIOC_DOS_INT26);
  }
  EXPECT_EQ(drive, Patched(before, 512, bytes));
}

TEST_F(LegacyWrite, NoReadOrWriteAllocates) {
  std::vector<uint8_t> got(3000);
  for (ULONGLONG at : {0ull, 700ull, 4096ull, kVolumeSize - 900}) {
    At(at);
    ASSERT_EQ(volume.ReadNT(got.data(), 3000, nullptr), 0u);
    ASSERT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);
    ASSERT_NE(Write(at, 1024), KESTRO_WRITE_FAILED);
    ASSERT_NE(Write(at + 5, 1000, &CKestro32::WriteDirDataW), KESTRO_WRITE_FAILED);
  }
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualAlloc), 0u);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualFree), 0u);
}

}  // namespace
