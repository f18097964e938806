// The base of tests that map drives onto image files: a temporary folder for the images, the
// usual calls on a handle, and every drive mapping undone when the test ends, however it ends.
#pragma once

#include <win32/drive_map.h>
#include <win32/utf.h>
#include <win32/windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "open_shared.h"

namespace kestro::testing {

template <class Base = ::testing::Test>
class MappedDrives : public Base {
 protected:
  ~MappedDrives() override { kestro::ClearMappedDrives(); }

  // A sparse file of `size` bytes in the test's folder.
  std::string Image(const std::string& name, uint64_t size) {
    const std::string path = dir.File(name);
    CreateSparseFile(path, size);
    return path;
  }

  static win32::HANDLE Open(const win32::WCHAR* name, win32::DWORD flags = 0) {
    return OpenShared(name, flags);
  }

  static bool Seek(win32::HANDLE h, win32::LONGLONG to, win32::DWORD method) {
    win32::LARGE_INTEGER distance;
    distance.QuadPart = to;
    return win32::SetFilePointerEx(h, distance, nullptr, method);
  }

  static bool Seek(win32::HANDLE h, win32::LONGLONG to) {
    using namespace win32;
    return Seek(h, to, FILE_BEGIN);
  }

  // A control code without buffers; ERROR_SUCCESS or the call's error.
  static win32::DWORD Control(win32::HANDLE h, win32::DWORD code) {
    using namespace win32;
    DWORD bytes = 0;
    return DeviceIoControl(h, code, nullptr, 0, nullptr, 0, &bytes, nullptr) ? ERROR_SUCCESS
                                                                             : GetLastError();
  }

  // Writes `bytes` at `offset`; ERROR_SUCCESS or the first failing call's error.
  static win32::DWORD WriteAt(win32::HANDLE h, win32::LONGLONG offset,
                              const std::vector<uint8_t>& bytes) {
    using namespace win32;
    DWORD done = 0;
    if (!Seek(h, offset)) return GetLastError();
    return WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
  }

  // One sector of 0x5A written at `offset`; ERROR_SUCCESS or the first failing call's error.
  static win32::DWORD WriteAt(win32::HANDLE h, uint64_t offset) {
    return WriteAt(h, static_cast<win32::LONGLONG>(offset), std::vector<uint8_t>(512, 0x5A));
  }

  // One sector read at `offset`; ERROR_SUCCESS only when all of it came.
  static win32::DWORD ReadAt(win32::HANDLE h, uint64_t offset) {
    using namespace win32;
    std::vector<uint8_t> sector(512);
    DWORD done = 0;
    if (!Seek(h, static_cast<LONGLONG>(offset))) return GetLastError();
    return ReadFile(h, sector.data(), 512, &done, nullptr) && done == 512 ? ERROR_SUCCESS
                                                                          : GetLastError();
  }

  // Opens a POSIX path: an image file or a block device.
  static win32::HANDLE OpenPath(const std::string& path) {
    return OpenShared(kestro::FromUtf8(path).c_str());
  }
  static win32::HANDLE OpenPath(const std::string& path, win32::DWORD access) {
    return OpenShared(kestro::FromUtf8(path).c_str(), 0, access);
  }

  // Opens `path`, writes a sector at `offset` and closes it again.
  static win32::DWORD WriteThrough(const std::string& path, uint64_t offset) {
    using namespace win32;
    HANDLE h = OpenPath(path);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    const DWORD result = WriteAt(h, offset);
    CloseHandle(h);
    return result;
  }

  TempDir dir;
};

using MappedDriveTest = MappedDrives<>;

}  // namespace kestro::testing
