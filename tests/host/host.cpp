// A host of the library as an application links it: it reads the sample exports, constructs,
// copies and assigns volume objects, opens drive Z: (which cannot be measured under Wine nor when
// unmapped on Linux), has the library print one diagnostic line, and moves a file pointer with
// MySetFilePointerEx on a scratch file, writing a mark where the pointer landed so that the
// caller can check the move and the line.
//
//   kestro-host SCRATCH-FILE     (the absolute path of a file of at least 8 KiB)
#include <Kestro32.h>

#include <cstdio>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <win32/utf.h>
#endif

using namespace win32;

namespace {

constexpr LONGLONG kMarkOffset = 3072;
constexpr char kMark[] = "KESTRO";

int failures = 0;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "kestro-host: %s\n", what);
    ++failures;
  }
}

std::basic_string<WCHAR> WidePath(const char* path) {
#ifdef _WIN32
  std::wstring wide(std::strlen(path) + 1, L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), int(wide.size()));
  wide.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
  return wide;
#else
  return kestro::FromUtf8(path);
#endif
}

LONGLONG Move(HANDLE file, LONGLONG distance, DWORD method) {
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER moved;
  moved.QuadPart = -1;
  return MySetFilePointerEx(file, move, &moved, method) ? moved.QuadPart : -1;
}

void CheckObjects() {
  CKestro32 first;
  Check(first.m_bReady == 0 && first.m_hDisk == INVALID_HANDLE_VALUE,
        "a default-constructed object holds a device");
  CKestro32 copy(first);
  CKestro32 assigned;
  assigned = copy;
  Check(copy.m_bWin9x == first.m_bWin9x && assigned.m_hDisk == INVALID_HANDLE_VALUE,
        "copies differ from their source");

  // Without a device the query fails and says so on standard output.
  PARTITION_INFORMATION_EX info = {};
  Check(first.GetPartitionInfoEx(&info) == 0, "a query without a device succeeded");

  CKestro32 drive(26, 0);
  std::printf("kestro-host: drive Z: ready %d\n", drive.m_bReady);
}

void CheckFilePointer(const char* path) {
  const HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Check(false, "cannot open the scratch file");
    return;
  }
  Check(Move(file, 4096, FILE_BEGIN) == 4096, "a move from the start went astray");
  Check(Move(file, -1024, FILE_CURRENT) == kMarkOffset, "a move back went astray");
  DWORD written = 0;
  Check(WriteFile(file, kMark, DWORD(std::strlen(kMark)), &written, nullptr) &&
            written == std::strlen(kMark),
        "cannot write the mark");
  Check(Move(file, 0, FILE_END) >= 8192, "a move to the end went astray");
  CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestro-host SCRATCH-FILE\n");
    return 2;
  }
  Check(nKestro32 == 0, "nKestro32 is not zero after load");
  Check(fnKestro32() == 42 && fnKestro32() == 42, "fnKestro32 does not return 42");
  CheckObjects();
  CheckFilePointer(argv[1]);
  if (failures == 0) std::printf("kestro-host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
