// Reading over the fake backend: read-ahead and the window, spans near the end, the zero-copy
// pointer, clamps, failed and short device reads, refused oversize requests, and the device
// pointer after failures. The legacy family reads through a scripted VWIN32 responder.
#include <Kestro32.h>

#include <cstring>

#include "volume_on_fake.h"

using namespace win32;
using kestro::testing::kBufferSize;
using kestro::testing::kVolumeSize;
using win32::testing::Call;
using win32::testing::Outcome;
using Fault = kestro::testing::ScriptedVwin32::Fault;

namespace {

class NtRead : public kestro::testing::NtVolume {
 protected:
  // Reads `length` bytes at `position` and checks them against the device.
  void ExpectRead(ULONGLONG position, DWORD length) {
    At(position);
    std::vector<uint8_t> got(length);
    DWORD n = 12345;
    ASSERT_EQ(volume.ReadNT(got.data(), length, &n), 0u);
    EXPECT_EQ(n, length);
    EXPECT_EQ(got, Stored(position, length));
    EXPECT_EQ(volume.m_llPos, position + length);
  }

  // The sizes of the device reads made since the calls were last cleared.
  std::vector<uint64_t> ReadSizes() const {
    std::vector<uint64_t> sizes;
    for (const Call* call : fake.CallsOf(Kernel32Call::ReadFile)) sizes.push_back(call->args[0]);
    return sizes;
  }

  // Fails the next pointer move to `target` (any move when it is -1).
  void FailPointerMove(LONGLONG target = -1) {
    fake.intercept = [target, done = false](const Call& call) mutable -> std::optional<Outcome> {
      if (done || call.kind != Kernel32Call::SetFilePointerEx) return std::nullopt;
      if (target != -1 && call.args[0] != static_cast<uint64_t>(target)) return std::nullopt;
      done = true;
      return Outcome::Failure(ERROR_INVALID_PARAMETER);
    };
  }
};

TEST_F(NtRead, ReadAheadFillsTheBufferAndTheNextReadIsServedFromIt) {
  ExpectRead(1000, 100);
  EXPECT_EQ(ReadSizes(), std::vector<uint64_t>{kBufferSize});
  EXPECT_EQ(volume.m_bWindowValid, 1);
  EXPECT_EQ(volume.m_llWindowStart, 512u);
  EXPECT_EQ(volume.m_llWindowLength, kBufferSize);
  EXPECT_EQ(volume.m_llWindowStart + volume.m_llWindowLength, 66048u);
  EXPECT_EQ(0, std::memcmp(volume.m_pBuffer + 488, Stored(1000, 100).data(), 100));

  fake.ClearCalls();
  std::vector<uint8_t> next(100);
  DWORD n = 0;
  ASSERT_EQ(volume.ReadNT(next.data(), 100, &n), 0u);
  EXPECT_EQ(next, Stored(1100, 100));
  EXPECT_EQ(volume.m_llPos, 1200u);
  // The hit's only platform call is the advancing pointer move, user-space arithmetic on POSIX.
  EXPECT_EQ(fake.CallNames(), std::vector<std::string>{"SetFilePointerEx"});
}

TEST_F(NtRead, WithLessThanABufferLeftOnlyTheSpannedSectorsAreRead) {
  volume.m_llVolumeSize = 32768;
  ExpectRead(1000, 100);
  EXPECT_EQ(ReadSizes(), std::vector<uint64_t>{1024});
  EXPECT_EQ(volume.m_llWindowStart, 512u);
  EXPECT_EQ(volume.m_llWindowLength, 1024u);
}

TEST_F(NtRead, TheZeroCopyReadPointsIntoTheStagingBuffer) {
  At(1000);
  void* data = nullptr;
  DWORD n = 0;
  ASSERT_EQ(volume.ReadNT(nullptr, 100, &n, &data), 0u);
  EXPECT_EQ(n, 100u);
  EXPECT_EQ(data, volume.m_pBuffer + 488);
  EXPECT_EQ(0, std::memcmp(data, Stored(1000, 100).data(), 100));
  EXPECT_EQ(ReadSizes(), std::vector<uint64_t>{1024});
  EXPECT_EQ(volume.m_llPos, 1100u);

  void* untouched = &n;
  fake.Script(Kernel32Call::ReadFile, Outcome::Failure(ERROR_CRC));
  EXPECT_EQ(volume.ReadNT(nullptr, 100, nullptr, &untouched), KESTRO_ERR_READ);
  EXPECT_EQ(untouched, &n);
}

TEST_F(NtRead, AHitMayEndAtTheWindowsEndAndTheNextReadMisses) {
  ExpectRead(1000, 100);
  fake.ClearCalls();
  ExpectRead(66048 - 100, 100);
  EXPECT_TRUE(ReadSizes().empty());
  ExpectRead(66048, 1);
  EXPECT_EQ(ReadSizes(), std::vector<uint64_t>{kBufferSize});
  EXPECT_EQ(volume.m_llWindowStart, 66048u);
}

TEST_F(NtRead, SeekingBackIntoTheWindowIsAHitAndAWriteEndsIt) {
  ExpectRead(70000, 10);  // the window is [69632, 135168)
  fake.ClearCalls();
  ExpectRead(100000, 10);
  ExpectRead(69632 + 100, 10);
  EXPECT_TRUE(ReadSizes().empty());

  At(kVolumeSize);
  EXPECT_EQ(volume.WriteNT(nullptr, 0), 0u);  // nothing written, the window still goes
  EXPECT_EQ(volume.m_bWindowValid, 0);
  ExpectRead(69632 + 100, 10);
  EXPECT_EQ(ReadSizes().size(), 1u);
}

TEST_F(NtRead, RequestsAreClampedAtTheEndOfTheVolume) {
  At(kVolumeSize - 300);
  std::vector<uint8_t> got(1000, 0xEE);
  DWORD n = 0;
  ASSERT_EQ(volume.ReadNT(got.data(), 1000, &n), 0u);
  EXPECT_EQ(n, 300u);
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 300), Stored(kVolumeSize - 300, 300));
  EXPECT_EQ(got[300], 0xEE);
  EXPECT_EQ(volume.m_llPos, kVolumeSize);
  EXPECT_EQ(ReadSizes(), std::vector<uint64_t>{512});

  volume.m_bWindowValid = 0;
  fake.ClearCalls();
  n = 7;
  EXPECT_EQ(volume.ReadNT(got.data(), 100, &n), 0u);
  EXPECT_EQ(n, 0u);
  At(5);
  n = 7;
  EXPECT_EQ(volume.ReadNT(got.data(), 0, &n), 0u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(ReadSizes().size(), 0u);
}

TEST_F(NtRead, EveryReadAcceptsANullCount) {
  std::vector<uint8_t> got(100);
  void* data = nullptr;
  At(10);
  EXPECT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);
  EXPECT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);  // a hit
  EXPECT_EQ(volume.Read2K(got.data(), 100, nullptr), 0u);
  EXPECT_EQ(volume.ReadNT(nullptr, 100, nullptr, &data), 0u);
  EXPECT_EQ(volume.m_llPos, 410u);
}

TEST_F(NtRead, AFailedDeviceReadReportsTheClampedLengthAndClearsTheWindow) {
  ExpectRead(0, 10);
  At(kVolumeSize - 50);
  std::vector<uint8_t> got(100, 0xEE);
  DWORD n = 0;
  // The platform wrote into the staging buffer before it failed.
  Outcome failure = Outcome::Failure(ERROR_CRC);
  failure.transfer = 512;
  fake.Script(Kernel32Call::ReadFile, failure);
  EXPECT_EQ(volume.ReadNT(got.data(), 100, &n), KESTRO_ERR_READ);
  EXPECT_EQ(n, 50u);
  EXPECT_EQ(volume.m_llPos, kVolumeSize - 50);
  EXPECT_EQ(volume.m_bWindowValid, 0);
  EXPECT_EQ(got, std::vector<uint8_t>(100, 0xEE));

  fake.ClearCalls();
  ExpectRead(kVolumeSize - 50, 50);  // the device is asked again
  EXPECT_EQ(ReadSizes().size(), 1u);
}

TEST_F(NtRead, AShortReadKeepsOnlyTheWholeSectorsThatArrived) {
  At(1000);
  std::vector<uint8_t> got(100);
  fake.Script(Kernel32Call::ReadFile, Outcome::Short(4096 + 100));
  ASSERT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);
  EXPECT_EQ(got, Stored(1000, 100));
  EXPECT_EQ(volume.m_llWindowLength, 4096u);

  // 1000..1100 needs sectors 1 and 2; only sector 1 arrives.
  At(1000);
  volume.m_bWindowValid = 0;
  std::vector<uint8_t> untouched(100, 0xEE);
  got = untouched;
  DWORD n = 0;
  fake.Script(Kernel32Call::ReadFile, Outcome::Short(512));
  EXPECT_EQ(volume.ReadNT(got.data(), 100, &n), KESTRO_ERR_READ);
  EXPECT_EQ(n, 100u);
  EXPECT_EQ(got, untouched);
  EXPECT_EQ(volume.m_llPos, 1000u);
  EXPECT_EQ(volume.m_bWindowValid, 1);
  EXPECT_EQ(volume.m_llWindowStart, 512u);
  EXPECT_EQ(volume.m_llWindowLength, 512u);

  for (DWORD delivered : {0u, 100u}) {
    fake.Script(Kernel32Call::ReadFile, Outcome::Short(delivered));
    EXPECT_EQ(volume.Read2K(got.data(), 100, &n), KESTRO_ERR_READ);
    EXPECT_EQ(volume.m_bWindowValid, 0);
    EXPECT_EQ(got, untouched);
  }
}

TEST_F(NtRead, RequestsLargerThanTheBufferAreRefusedBeforeTheDevice) {
  ExpectRead(0, 10);
  const ULONGLONG windowStart = volume.m_llWindowStart;
  At(kBufferSize * 2 + 100);
  fake.ClearCalls();
  std::vector<uint8_t> got(kBufferSize);
  DWORD n = 0;
  void* data = nullptr;
  EXPECT_EQ(volume.ReadNT(got.data(), kBufferSize - 99, &n), KESTRO_ERR_READ);
  EXPECT_EQ(n, kBufferSize - 99);
  EXPECT_EQ(volume.ReadNT(got.data(), kBufferSize - 99, &n, &data), KESTRO_ERR_READ);
  EXPECT_TRUE(fake.calls().empty());
  EXPECT_EQ(volume.m_llPos, kBufferSize * 2 + 100);
  EXPECT_EQ(volume.m_bWindowValid, 1);
  EXPECT_EQ(volume.m_llWindowStart, windowStart);

  ExpectRead(kBufferSize * 2 + 100, kBufferSize - 100);  // exactly the buffer's sectors
}

TEST_F(NtRead, AMissingBufferOrHandleFailsTheRead) {
  std::vector<uint8_t> got(10);
  DWORD n = 0;
  BYTE* buffer = volume.m_pBuffer;
  volume.m_pBuffer = nullptr;  // as after an allocation that failed
  EXPECT_EQ(volume.ReadNT(got.data(), 10, &n), KESTRO_ERR_READ);
  EXPECT_EQ(n, 10u);
  volume.m_pBuffer = buffer;

  const HANDLE handle = volume.m_hDisk;
  volume.m_hDisk = INVALID_HANDLE_VALUE;
  fake.ClearCalls();
  EXPECT_EQ(volume.ReadNT(got.data(), 10, &n), KESTRO_ERR_READ);
  EXPECT_TRUE(fake.calls().empty());
  volume.m_hDisk = handle;
}

TEST_F(NtRead, AFailedAdvancingMoveDoesNotMisplaceTheNextRead) {
  At(0);
  FailPointerMove(512);  // the move after the read, to the sector holding byte 600
  std::vector<uint8_t> got(600);
  ASSERT_EQ(volume.ReadNT(got.data(), 600, nullptr), 0u);
  EXPECT_EQ(volume.m_llPos, 600u);
  volume.m_bWindowValid = 0;
  ASSERT_EQ(volume.ReadNT(got.data(), 600, nullptr), 0u);
  EXPECT_EQ(got, Stored(600, 600));
}

TEST_F(NtRead, AReadThatFailedAfterMovingThePointerDoesNotMisplaceTheNextOne) {
  At(4096);
  Outcome failure = Outcome::Failure(ERROR_CRC);
  failure.transfer = 1024;
  fake.Script(Kernel32Call::ReadFile, failure);
  std::vector<uint8_t> got(100);
  EXPECT_EQ(volume.ReadNT(got.data(), 100, nullptr), KESTRO_ERR_READ);
  EXPECT_EQ(volume.m_llPos, 4096u);
  ASSERT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);
  EXPECT_EQ(got, Stored(4096, 100));
}

TEST_F(NtRead, AFailedPositioningMoveFailsTheReadBeforeTheDevice) {
  ExpectRead(0, 10);
  At(kVolumeSize - 10);
  FailPointerMove();
  fake.ClearCalls();
  std::vector<uint8_t> got(10);
  EXPECT_EQ(volume.ReadNT(got.data(), 10, nullptr), KESTRO_ERR_READ);
  EXPECT_EQ(fake.CountOf(Kernel32Call::ReadFile), 0u);
  EXPECT_EQ(volume.m_bWindowValid, 1);
}

TEST_F(NtRead, CopiesSharingTheBufferNeverServeEachOthersBytes) {
  ExpectRead(0, 100);
  CKestro32 copy(volume);
  // The copy reads elsewhere into the shared staging buffer.
  std::vector<uint8_t> got(100);
  ASSERT_EQ(copy.SeekNT(500000, 0), 1);
  ASSERT_EQ(copy.ReadNT(got.data(), 100, nullptr), 0u);
  EXPECT_EQ(got, Stored(500000, 100));
  // The original's window still says [0, 64 KiB), but the buffer no longer holds it.
  fake.ClearCalls();
  ExpectRead(100, 100);
  EXPECT_EQ(ReadSizes().size(), 1u);
  // Reads interleave on the one handle, each at its own position.
  ASSERT_EQ(copy.ReadNT(got.data(), 100, nullptr), 0u);
  EXPECT_EQ(got, Stored(500100, 100));
}

// A copy made before Initial shares only the handle; one made after shares the buffer too.
// Whichever copy writes, no other serves the old bytes from its window.
TEST_F(NtRead, AWriteThroughAnyCopyDropsTheWindowsOfTheOthers) {
  CKestro32 handleOnly(volume);
  handleOnly.Initial(kBufferSize);
  CKestro32 sharing(volume);
  std::vector<uint8_t> got(100);
  const auto expectFresh = [&](CKestro32& reader, ULONGLONG at) {
    ASSERT_EQ(reader.SeekNT(static_cast<LONGLONG>(at), 0), 1);
    ASSERT_EQ(reader.ReadNT(got.data(), 100, nullptr), 0u);
    EXPECT_EQ(got, Stored(at, 100));
  };
  expectFresh(handleOnly, 1000);
  expectFresh(sharing, 1000);
  At(1000);
  ASSERT_EQ(volume.WriteNT(Fresh(100).data(), 100), 100u);
  expectFresh(handleOnly, 1000);
  expectFresh(sharing, 1000);

  // An aligned write needs no staging buffer, yet drops the windows all the same.
  expectFresh(volume, 0);
  ASSERT_EQ(handleOnly.SeekNT(0, 0), 1);
  ASSERT_EQ(handleOnly.WriteNT(Fresh(512).data(), 512), 512u);
  expectFresh(volume, 0);
  expectFresh(sharing, 0);
}

TEST_F(NtRead, SmallSequentialReadsCostOneDeviceReadPerBuffer) {
  At(0);
  constexpr ULONGLONG kSpan = kVolumeSize / 2;  // at least a buffer is always left
  std::vector<uint8_t> got(100);
  for (ULONGLONG at = 0; at < kSpan; at += 100) {
    ASSERT_EQ(volume.ReadNT(got.data(), 100, nullptr), 0u);
    ASSERT_EQ(got, Stored(at, 100));
  }
  // A refill starts at the sector holding the first byte not yet read, so a buffer yields at
  // least 127 new sectors.
  const size_t reads = fake.CountOf(Kernel32Call::ReadFile);
  EXPECT_LE(reads, kSpan / (kBufferSize - 512) + 1);
  EXPECT_GE(reads, kSpan / kBufferSize);
  for (const Call* call : fake.CallsOf(Kernel32Call::ReadFile))
    EXPECT_EQ(call->args[0], kBufferSize);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualAlloc), 0u);
}

class LegacyRead : public kestro::testing::LegacyVolume {
 protected:
  DWORD Read(ULONGLONG position, DWORD length, DWORD* n = nullptr) {
    At(position);
    got.assign(length, 0xEE);
    return volume.ReadNT(got.data(), length, n);
  }

  std::vector<uint8_t> got;
};

TEST_F(LegacyRead, AStartInsideASectorReadsOneSectorMore) {
  volume.m_llVolumeSize = 32768;
  ASSERT_EQ(Read(256, 256), 0u);
  EXPECT_EQ(got, Stored(256, 256));
  ASSERT_EQ(vwin32.transfers().size(), 1u);
  const kestro::testing::SectorTransfer& transfer = vwin32.transfers()[0];
  EXPECT_EQ(transfer.code, VWIN32_DIOC_DOS_DRIVEINFO);
  EXPECT_FALSE(transfer.write);
  EXPECT_EQ(transfer.firstSector, 0u);
  EXPECT_EQ(transfer.sectors, 2u);
  EXPECT_EQ(volume.m_llWindowLength, 1024u);
  EXPECT_EQ(fake.CallNames(),
            (std::vector<std::string>{"VirtualLock", "DeviceIoControl", "VirtualUnlock"}));
  EXPECT_EQ(fake.CallsOf(Kernel32Call::VirtualLock)[0]->args[1], 1024u);
  EXPECT_EQ(fake.CallsOf(Kernel32Call::VirtualUnlock)[0]->args[1], 1024u);
  EXPECT_EQ(vwin32.foreignBuffers, 0);
}

TEST_F(LegacyRead, WithLessThanABufferLeftTheSpanIsRead) {
  volume.m_llVolumeSize = 32768;
  ASSERT_EQ(Read(1000, 100), 0u);  // pRead may be null
  EXPECT_EQ(got, Stored(1000, 100));
  EXPECT_EQ(vwin32.transfers().at(0).firstSector, 1u);
  EXPECT_EQ(vwin32.transfers().at(0).sectors, 2u);
  EXPECT_EQ(volume.m_llWindowStart, 512u);
  EXPECT_EQ(volume.m_llWindowLength, 1024u);
}

TEST_F(LegacyRead, ReadAheadFetchesAWholeBuffer) {
  ASSERT_EQ(Read(1000, 100), 0u);
  EXPECT_EQ(got, Stored(1000, 100));
  EXPECT_EQ(vwin32.transfers().at(0).sectors, 128u);
  EXPECT_EQ(volume.m_llWindowStart, 512u);
  EXPECT_EQ(volume.m_llWindowLength, kBufferSize);
  vwin32.ClearTransfers();
  ASSERT_EQ(Read(60000, 100), 0u);
  EXPECT_EQ(got, Stored(60000, 100));
  EXPECT_TRUE(vwin32.transfers().empty());
}

TEST_F(LegacyRead, AReadEndingOnTheLastByteStopsAtTheLastSector) {
  DWORD n = 0;
  ASSERT_EQ(Read(kVolumeSize - 256, 256, &n), 0u);
  EXPECT_EQ(n, 256u);
  EXPECT_EQ(got, Stored(kVolumeSize - 256, 256));
  EXPECT_EQ(vwin32.transfers().at(0).sectors, 1u);
  EXPECT_EQ(volume.m_llWindowLength, 512u);
  EXPECT_EQ(vwin32.pastTheEnd, 0);
}

TEST_F(LegacyRead, WithoutAStagingBufferTheStatusIsOne) {
  volume.m_pBuffer = nullptr;
  DWORD n = 0;
  EXPECT_EQ(Read(10, 5000, &n), 1u);
  EXPECT_EQ(n, 5000u);
  EXPECT_TRUE(fake.calls().empty());
  volume.m_pBuffer = static_cast<BYTE*>(const_cast<void*>(vwin32.stagingBuffer));
}

TEST_F(LegacyRead, AFailedPinReadsNothing) {
  fake.Script(Kernel32Call::VirtualLock, Outcome::Failure(ERROR_NOT_ENOUGH_MEMORY));
  DWORD n = 0;
  EXPECT_EQ(Read(10, 100, &n), KESTRO_ERR_READ);
  EXPECT_EQ(n, 100u);
  EXPECT_EQ(fake.CallNames(), (std::vector<std::string>{"VirtualLock"}));
  EXPECT_EQ(volume.m_llPos, 10u);
}

TEST_F(LegacyRead, AFailedDosCallClearsTheWindowAndUnpins) {
  ASSERT_EQ(Read(0, 10), 0u);
  for (Fault fault : {Fault::kCarry, Fault::kDeviceCallFails}) {
    vwin32.fault = [fault](const kestro::testing::SectorTransfer&) { return fault; };
    fake.ClearCalls();
    DWORD n = 0;
    EXPECT_EQ(Read(kVolumeSize - 100, 100, &n), KESTRO_ERR_READ);
    EXPECT_EQ(n, 100u);
    EXPECT_EQ(got, std::vector<uint8_t>(100, 0xEE));
    EXPECT_EQ(volume.m_bWindowValid, 0);
    EXPECT_EQ(volume.m_llPos, kVolumeSize - 100);
    EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualUnlock), 1u);
  }
}

TEST_F(LegacyRead, TransfersThePacketCannotCarryAreRefused) {
  // A first sector beyond 32 bits.
  volume.m_llVolumeSize = 1ull << 42;
  volume.m_llPos = (1ull << 41) + 512;
  volume.m_llSector = volume.m_llPos >> 9;
  got.resize(100);
  DWORD n = 0;
  EXPECT_EQ(volume.ReadNT(got.data(), 100, &n), KESTRO_ERR_READ);
  // Bytes running past the buffer's sectors from inside a sector.
  volume.m_llVolumeSize = kVolumeSize;
  EXPECT_EQ(Read(kVolumeSize - kBufferSize - 1, kBufferSize - 1), KESTRO_ERR_READ);
  EXPECT_TRUE(fake.calls().empty());
  EXPECT_EQ(volume.m_llPos, kVolumeSize - kBufferSize - 1);
}

TEST_F(LegacyRead, ReadAheadFromA32MiBBufferStopsAtThePacketsLargestCount) {
  constexpr DWORD kBigBuffer = 0x2000000;
  drive = kestro::testing::Pattern(0, kBigBuffer + kBufferSize, 7);
  volume.m_llVolumeSize = kBigBuffer + kBufferSize;
  volume.Initial(kBigBuffer);
  vwin32.stagingBuffer = volume.m_pBuffer;
  ASSERT_EQ(Read(1000, 100), 0u);
  EXPECT_EQ(got, Stored(1000, 100));
  ASSERT_EQ(vwin32.transfers().size(), 1u);
  EXPECT_EQ(vwin32.transfers()[0].sectors, 0xFFFFu);
  EXPECT_EQ(volume.m_llWindowLength, 0xFFFFu * 512);
  EXPECT_EQ(fake.CallsOf(Kernel32Call::VirtualLock).at(0)->args[1], 0xFFFFu * 512);
  vwin32.ClearTransfers();
  ASSERT_EQ(Read(0xFFFFu * 512 - 100, 100), 0u);
  EXPECT_EQ(got, Stored(0xFFFFu * 512 - 100, 100));
  EXPECT_TRUE(vwin32.transfers().empty());
}

// A host's own sector calls into the staging buffer replace what the window describes, and
// every write, whatever buffer it names, replaces volume bytes the window may hold.
TEST_F(LegacyRead, SectorCallsThroughTheStagingBufferDropTheWindow) {
  std::vector<uint8_t> elsewhere(512);
  const auto packet = [](const void* buffer) {
    _DISKIO io = {};
    io.dwStartSector = 100;
    io.wSectors = 1;
    io.dwBuffer = static_cast<DWORD>(reinterpret_cast<uintptr_t>(buffer));
    return io;
  };
  ASSERT_EQ(Read(0, 10), 0u);
  vwin32.stagingBuffer = elsewhere.data();
  _DISKIO io = packet(elsewhere.data());
  ASSERT_EQ(volume.NewWriteSector(&io, 3, 0), 1);
  EXPECT_EQ(volume.m_bWindowValid, 0);

  vwin32.stagingBuffer = volume.m_pBuffer;
  ASSERT_EQ(Read(0, 10), 0u);
  io = packet(volume.m_pBuffer + kBufferSize - 512);
  vwin32.stagingBuffer = volume.m_pBuffer + kBufferSize - 512;
  ASSERT_EQ(volume.NewReadSector(&io, 3), 1);
  EXPECT_EQ(volume.m_bWindowValid, 0);
  vwin32.stagingBuffer = volume.m_pBuffer;
  vwin32.ClearTransfers();
  ASSERT_EQ(Read(kBufferSize - 512, 10), 0u);
  EXPECT_EQ(got, Stored(kBufferSize - 512, 10));
  EXPECT_EQ(vwin32.transfers().size(), 1u);
}

TEST_F(LegacyRead, TheZeroCopyReadIsNotAvailableWithoutAnNtHandle) {
  volume.m_hDisk = INVALID_HANDLE_VALUE;
  void* data = nullptr;
  EXPECT_EQ(volume.ReadNT(nullptr, 100, nullptr, &data), KESTRO_ERR_READ);
  EXPECT_EQ(data, nullptr);
}

}  // namespace
