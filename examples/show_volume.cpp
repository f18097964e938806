// A minimal host: opens one drive the way a backup application does and prints what the
// object learned about it.
//
//   KESTRO_DRIVE_C=/path/to/volume.img show-volume C
#include <Kestro32.h>

#include <win32/utf.h>

#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace {

unsigned DriveNumber(const char* argument) {
  const int letter = std::toupper(static_cast<unsigned char>(argument[0]));
  return letter >= 'A' && letter <= 'Z' ? static_cast<unsigned>(letter - 'A' + 1) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned drive = DriveNumber(argc > 1 ? argv[1] : "C");
  if (drive == 0) {
    std::fprintf(stderr, "usage: show-volume [DRIVE-LETTER]\n");
    return 2;
  }
  CKestro32 volume(drive, 0);
  volume.Initial(64 * 1024);
  std::printf("drive            %c:\n", static_cast<char>('A' + drive - 1));
  std::printf("ready            %d\n", volume.m_bReady);
  std::printf("legacy family    %d\n", volume.m_bWin9x);
  std::printf("file system      %u\n", static_cast<unsigned>(volume.m_nFsType));
  std::printf("partition offset %" PRIu64 "\n", static_cast<uint64_t>(volume.m_llPartOffset));
  std::printf("total sectors    %" PRIu64 "\n", static_cast<uint64_t>(volume.m_llTotalSectors));
  std::printf("volume size      %" PRIu64 "\n", static_cast<uint64_t>(volume.m_llVolumeSize));
  std::printf("used bytes       %" PRIu64 "\n", static_cast<uint64_t>(volume.m_llUsedBytes));
  std::printf("free bytes       %" PRIu64 "\n", static_cast<uint64_t>(volume.m_llFreeBytes));
  std::printf("staging buffer   %" PRIu64 " bytes\n", static_cast<uint64_t>(volume.m_llBufferSize));
  std::printf("snapshot         %d %s\n", volume.m_bVssActive,
              kestro::ToUtf8(volume.m_szSnapshotPath).c_str());
  return volume.m_bReady ? 0 : 1;
}
