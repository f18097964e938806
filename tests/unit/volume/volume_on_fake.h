// Volume objects over the fake backend for the read and write tests: an NT-family volume on a
// fake volume device, and a legacy-family one whose VWIN32 handle reaches a scripted responder.
// Both volumes carry a recognisable pattern and a guard sector behind their end.
#pragma once

#include <Kestro32.h>

#include <cstring>
#include <vector>

#include <fake_world.h>
#include <fixtures.h>
#include <scripted_vwin32.h>

namespace kestro::testing {

inline constexpr win32::ULONGLONG kVolumeSize = 1 << 20;
inline constexpr win32::DWORD kBufferSize = 64 * 1024;
inline constexpr size_t kGuard = 512;

class VolumeTest : public FakeWorld {
 protected:
  // The volume's bytes as the device holds them now.
  virtual std::vector<uint8_t>& Device() = 0;

  std::vector<uint8_t> Stored(uint64_t at, size_t length) {
    const auto first = Device().begin() + static_cast<ptrdiff_t>(at);
    return std::vector<uint8_t>(first, first + static_cast<ptrdiff_t>(length));
  }

  // The device as it was before any write.
  std::vector<uint8_t> Original() const { return Pattern(0, kVolumeSize + kGuard, 7); }

  void At(win32::ULONGLONG position) {
    ASSERT_EQ(volume.SeekNT(static_cast<win32::LONGLONG>(position), 0), 1);
  }

  // Bytes the test writes: a second pattern, so they differ from what they replace.
  static std::vector<uint8_t> Fresh(size_t length) { return Pattern(0, length, 99); }

  CKestro32 volume;
};

class NtVolume : public VolumeTest {
 protected:
  void SetUp() override {
    volume.m_hDisk = OpenDevice(kName, Original());
    volume.m_llVolumeSize = kVolumeSize;
    volume.Initial(kBufferSize);
    fake.ClearCalls();
  }

  std::vector<uint8_t>& Device() override { return fake.DeviceBytes(kName); }

  static constexpr const char16_t* kName = u"\\\\.\\C:";
};

class LegacyVolume : public VolumeTest {
 protected:
  void SetUp() override {
    SetRelease(10, u" A");  // Windows 98 Second Edition
    volume.m_hDisk = OpenDevice(u"\\\\.\\VWIN32", {});
    volume.m_nDrive = 3;
    volume.m_llVolumeSize = kVolumeSize;
    volume.Initial(kBufferSize);
    vwin32.stagingBuffer = volume.m_pBuffer;
    fake.ClearCalls();
  }

  // Reports a legacy-family release from now on, as a freshly constructed object reads it.
  void SetRelease(win32::DWORD minor, std::u16string_view csd) {
    using namespace win32;
    fake.version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    fake.version.dwMajorVersion = 4;
    fake.version.dwMinorVersion = minor;
    std::memset(fake.version.szCSDVersion, 0, sizeof fake.version.szCSDVersion);
    std::copy(csd.begin(), csd.end(), fake.version.szCSDVersion);
    CKestro32 refill;
    volume.m_bWin9x = refill.m_bWin9x;
  }

  std::vector<uint8_t>& Device() override { return drive; }

  std::vector<uint8_t> drive = Original();
  ScriptedVwin32 vwin32{fake, drive};
};

}  // namespace kestro::testing
