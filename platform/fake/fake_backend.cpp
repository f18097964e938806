#include "fake_backend.h"

#include <algorithm>
#include <new>
#include <cstring>
#include <sstream>

#include <win32/sector.h>
#include <win32/utf.h>

namespace win32::testing {
using kestro::FromUtf8, kestro::ToUtf8, kestro::Utf16, kestro::platform::kSectorSize;
namespace {

constexpr size_t kPage = 4096;

std::u16string Key(const std::u16string& name) {
  std::u16string key = name;
  for (char16_t& c : key) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return key;
}

// Blocks of whole pages on a page boundary, as VirtualAlloc gives them.
void FreePages(void* block) {
  ::operator delete(block, std::align_val_t(kPage));
}

uintptr_t Address(const void* pointer) {
  return reinterpret_cast<uintptr_t>(pointer);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

void CopyName(const std::u16string& text, LPWSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return;
  const size_t n = std::min<size_t>(text.size(), size - 1);
  std::copy_n(text.begin(), n, buffer);
  buffer[n] = 0;
}

}  // namespace

std::string Call::ToString() const {
  std::ostringstream out;
  out << function << "(";
  const char* separator = "";
  if (handle) {
    out << "h" << reinterpret_cast<uintptr_t>(handle);
    separator = ", ";
  }
  if (!name.empty()) {
    out << separator << '"' << ToUtf8(name) << '"';
    separator = ", ";
  }
  for (uint64_t arg : args) {
    out << separator << arg;
    separator = ", ";
  }
  out << ")";
  return out.str();
}

Outcome Outcome::Failure(DWORD error) {
  Outcome outcome;
  outcome.result = FALSE;
  outcome.error = error;
  outcome.transfer = 0;
  return outcome;
}

Outcome Outcome::Success() {
  Outcome outcome;
  outcome.result = TRUE;
  return outcome;
}

Outcome Outcome::Short(DWORD bytes) {
  Outcome outcome = Success();
  outcome.transfer = bytes;
  return outcome;
}

Outcome Outcome::Reply(const void* record, size_t size) {
  Outcome outcome = Success();
  const uint8_t* bytes = static_cast<const uint8_t*>(record);
  outcome.output.assign(bytes, bytes + size);
  return outcome;
}

FakeBackend::FakeBackend() {
  version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  version.dwMajorVersion = 10;
  version.dwMinorVersion = 0;
  version.dwBuildNumber = 19045;
  version.dwPlatformId = VER_PLATFORM_WIN32_NT;
}

FakeBackend::~FakeBackend() {
  for (auto& [address, size] : allocations_) FreePages(reinterpret_cast<void*>(address));
}

void FakeBackend::AddDevice(const std::u16string& name, std::vector<uint8_t> bytes,
                            DeviceKind kind) {
  devices_[Key(name)] = Device{std::move(bytes), kind};
}

std::vector<uint8_t>& FakeBackend::DeviceBytes(const std::u16string& name) {
  return devices_.at(Key(name)).bytes;
}

void FakeBackend::SetVolumeInfo(const std::u16string& root, FakeVolumeInfo info) {
  volumeInfo_[Key(root)] = std::move(info);
}

void FakeBackend::SetFreeSpace(const std::u16string& root, FakeFreeSpace space) {
  freeSpace_[Key(root)] = space;
}

void FakeBackend::SetIoctlReply(DWORD code, Outcome outcome) {
  ioctlReplies_[code] = std::move(outcome);
}

void FakeBackend::HideExport(const std::string& procName) {
  hiddenExports_.insert(procName);
}

void FakeBackend::Script(Kernel32Call call, Outcome outcome) {
  scripts_[call].push_back(std::move(outcome));
}

std::vector<const Call*> FakeBackend::CallsOf(Kernel32Call kind) const {
  std::vector<const Call*> result;
  for (const Call& call : calls_) {
    if (call.kind == kind) result.push_back(&call);
  }
  return result;
}

size_t FakeBackend::CountOf(Kernel32Call call) const {
  return CallsOf(call).size();
}

std::vector<std::string> FakeBackend::CallNames() const {
  std::vector<std::string> names;
  for (const Call& call : calls_) names.push_back(call.function);
  return names;
}

std::optional<Outcome> FakeBackend::Record(Kernel32Call kind, HANDLE handle, std::u16string name,
                                           std::vector<uint64_t> args, std::vector<uint8_t> data) {
  calls_.push_back(Call{Kernel32CallName(kind), handle, std::move(name), std::move(args),
                        std::move(data), kind});
  auto queued = scripts_.find(kind);
  if (queued != scripts_.end() && !queued->second.empty()) {
    Outcome outcome = std::move(queued->second.front());
    queued->second.pop_front();
    return outcome;
  }
  return intercept ? intercept(calls_.back()) : std::nullopt;
}

BOOL FakeBackend::Finish(const Outcome& outcome) {
  SetLastError(outcome.error);
  return outcome.result;
}

FakeBackend::OpenHandle* FakeBackend::FindHandle(HANDLE handle) {
  auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
  return found == handles_.end() ? nullptr : &found->second;
}

FakeBackend::Device* FakeBackend::FindDevice(const std::u16string& name) {
  auto found = devices_.find(name);
  return found == devices_.end() ? nullptr : &found->second;
}

HANDLE FakeBackend::CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                                DWORD disposition, DWORD flags, HANDLE) {
  auto scripted =
      Record(Kernel32Call::CreateFileW, nullptr, Utf16(name), {access, share, disposition, flags});
  if (scripted && !scripted->result) {
    Finish(*scripted);
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string key = Key(Utf16(name));
  if (!scripted && !FindDevice(key)) {
    Fail(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const uintptr_t value = nextHandle_;
  nextHandle_ += 4;
  handles_[value] = OpenHandle{key, 0, (access & GENERIC_READ) != 0, (access & GENERIC_WRITE) != 0,
                               (flags & FILE_FLAG_NO_BUFFERING) != 0};
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HANDLE>(value);
}

DWORD FakeBackend::CheckTransfer(const OpenHandle& open, const Device& device, const void* buffer,
                                 DWORD size, DWORD* allowed) {
  *allowed = size;
  const bool sectorsOnly = device.kind != DeviceKind::kFile || open.noBuffering;
  if (sectorsOnly && (open.pointer % kSectorSize || size % kSectorSize))
    return ERROR_INVALID_PARAMETER;
  if (open.noBuffering && Address(buffer) % kSectorSize) return ERROR_INVALID_PARAMETER;
  if (buffer == nullptr && size > 0) return ERROR_NOACCESS;
  const uint64_t length = device.bytes.size();
  const uint64_t left = open.pointer >= length ? 0 : length - open.pointer;
  if (device.kind == DeviceKind::kVolume)
    *allowed = static_cast<DWORD>(std::min<uint64_t>(size, left));
  if (device.kind == DeviceKind::kDisk && size > left) return ERROR_SECTOR_NOT_FOUND;
  return ERROR_SUCCESS;
}

BOOL FakeBackend::Transfer(HANDLE file, void* readInto, const void* writeFrom, DWORD size,
                           LPDWORD done, const std::optional<Outcome>& scripted) {
  if (done) *done = 0;
  OpenHandle* open = FindHandle(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  Device* device = FindDevice(open->device);
  if (!device) return scripted ? Finish(*scripted) : Fail(ERROR_NOT_READY);
  if (!(writeFrom ? open->canWrite : open->canRead)) return Fail(ERROR_ACCESS_DENIED);
  DWORD allowed = 0;
  const DWORD error =
      CheckTransfer(*open, *device, writeFrom ? writeFrom : readInto, size, &allowed);
  if (error != ERROR_SUCCESS) return Fail(error);
  if (scripted && scripted->transfer) allowed = std::min(allowed, *scripted->transfer);
  if (scripted && !scripted->transfer && !scripted->result) allowed = 0;
  std::vector<uint8_t>& bytes = device->bytes;
  if (writeFrom) {
    if (open->pointer + allowed > bytes.size())
      bytes.resize(static_cast<size_t>(open->pointer + allowed));
    std::memcpy(bytes.data() + open->pointer, writeFrom, allowed);
  } else {
    const uint64_t left = open->pointer >= bytes.size() ? 0 : bytes.size() - open->pointer;
    allowed = static_cast<DWORD>(std::min<uint64_t>(allowed, left));
    std::memcpy(readInto, bytes.data() + open->pointer, allowed);
  }
  open->pointer += allowed;
  if (done) *done = allowed;
  return scripted ? Finish(*scripted) : (SetLastError(ERROR_SUCCESS), TRUE);
}

BOOL FakeBackend::ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED) {
  auto scripted = Record(Kernel32Call::ReadFile, file, {}, {size, Address(buffer)});
  if (scripted && !scripted->output.empty()) {
    const size_t n = std::min<size_t>(scripted->output.size(), size);
    std::memcpy(buffer, scripted->output.data(), n);
    if (done) *done = scripted->transfer.value_or(static_cast<DWORD>(n));
    return Finish(*scripted);
  }
  return Transfer(file, buffer, nullptr, size, done, scripted);
}

BOOL FakeBackend::WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED) {
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  std::vector<uint8_t> data =
      bytes ? std::vector<uint8_t>(bytes, bytes + size) : std::vector<uint8_t>();
  auto scripted =
      Record(Kernel32Call::WriteFile, file, {}, {size, Address(buffer)}, std::move(data));
  return Transfer(file, nullptr, buffer, size, done, scripted);
}

BOOL FakeBackend::SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPointer,
                                   DWORD method) {
  auto scripted = Record(Kernel32Call::SetFilePointerEx, file, {},
                         {static_cast<uint64_t>(distance.QuadPart), method});
  if (scripted) return Finish(*scripted);
  OpenHandle* open = FindHandle(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  const Device* device = FindDevice(open->device);
  const int64_t end = device ? static_cast<int64_t>(device->bytes.size()) : 0;
  int64_t origin = method == FILE_BEGIN     ? 0
                   : method == FILE_CURRENT ? static_cast<int64_t>(open->pointer)
                                            : end;
  if (method > FILE_END) return Fail(ERROR_INVALID_PARAMETER);
  const int64_t target = origin + distance.QuadPart;
  if (target < 0) return Fail(ERROR_NEGATIVE_SEEK);
  open->pointer = static_cast<uint64_t>(target);
  if (newPointer) newPointer->QuadPart = target;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD FakeBackend::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  auto scripted = Record(Kernel32Call::SetFilePointer, file, {},
                         {static_cast<uint32_t>(distance),
                          distanceHigh ? static_cast<uint32_t>(*distanceHigh) : 0u, method});
  if (scripted) {
    Finish(*scripted);
    return scripted->result ? static_cast<DWORD>(scripted->transfer.value_or(0))
                            : INVALID_SET_FILE_POINTER;
  }
  OpenHandle* open = FindHandle(file);
  if (!open) {
    Fail(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  const Device* device = FindDevice(open->device);
  const int64_t end = device ? static_cast<int64_t>(device->bytes.size()) : 0;
  const int64_t move =
      distanceHigh
          ? static_cast<int64_t>((uint64_t(uint32_t(*distanceHigh)) << 32) | uint32_t(distance))
          : distance;
  const int64_t origin = method == FILE_BEGIN     ? 0
                         : method == FILE_CURRENT ? static_cast<int64_t>(open->pointer)
                                                  : end;
  const int64_t target = origin + move;
  if (target < 0 || (!distanceHigh && target > 0xFFFFFFFELL)) {
    Fail(target < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  open->pointer = static_cast<uint64_t>(target);
  if (distanceHigh) *distanceHigh = static_cast<LONG>(target >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(target);
}

BOOL FakeBackend::GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  auto scripted = Record(Kernel32Call::GetFileSizeEx, file, {}, {});
  if (scripted) return Finish(*scripted);
  OpenHandle* open = FindHandle(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  const Device* device = FindDevice(open->device);
  size->QuadPart = device ? static_cast<LONGLONG>(device->bytes.size()) : 0;
  return TRUE;
}

BOOL FakeBackend::FlushFileBuffers(HANDLE file) {
  auto scripted = Record(Kernel32Call::FlushFileBuffers, file, {}, {});
  if (scripted) return Finish(*scripted);
  return FindHandle(file) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL FakeBackend::CloseHandle(HANDLE object) {
  auto scripted = Record(Kernel32Call::CloseHandle, object, {}, {});
  const bool known = handles_.erase(reinterpret_cast<uintptr_t>(object)) > 0;
  if (scripted) return Finish(*scripted);
  return known ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL FakeBackend::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                  DWORD outSize, LPDWORD returned, LPOVERLAPPED) {
  const uint8_t* input = static_cast<const uint8_t*>(in);
  std::vector<uint8_t> data =
      input ? std::vector<uint8_t>(input, input + inSize) : std::vector<uint8_t>();
  auto scripted =
      Record(Kernel32Call::DeviceIoControl, device, {}, {code, inSize, outSize}, std::move(data));
  if (returned) *returned = 0;
  if (!scripted) {
    if (!FindHandle(device)) return Fail(ERROR_INVALID_HANDLE);
    if (controlResponder) return controlResponder(calls_.back(), in, out, outSize, returned);
    auto reply = ioctlReplies_.find(code);
    if (reply == ioctlReplies_.end()) return Fail(ERROR_INVALID_FUNCTION);
    scripted = reply->second;
  }
  const size_t n = std::min<size_t>(scripted->output.size(), out ? outSize : 0);
  if (n) std::memcpy(out, scripted->output.data(), n);
  if (returned) *returned = scripted->returned.value_or(static_cast<DWORD>(n));
  return Finish(*scripted);
}

LPVOID FakeBackend::VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  auto scripted =
      Record(Kernel32Call::VirtualAlloc, nullptr, {}, {Address(address), size, type, protect});
  if (scripted && !scripted->result) {
    Finish(*scripted);
    return nullptr;
  }
  if (size == 0 || size > allocationLimit || !(type & MEM_COMMIT)) {
    Fail(size == 0 ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const size_t rounded = (size + kPage - 1) / kPage * kPage;
  void* block = ::operator new(rounded, std::align_val_t(kPage));
  std::memset(block, 0, rounded);
  allocations_[Address(block)] = size;
  return block;
}

BOOL FakeBackend::VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  auto scripted = Record(Kernel32Call::VirtualFree, nullptr, {}, {Address(address), size, type});
  auto found = allocations_.find(Address(address));
  if (found == allocations_.end() || type != MEM_RELEASE || size != 0) {
    return Fail(found == allocations_.end() ? ERROR_INVALID_ADDRESS : ERROR_INVALID_PARAMETER);
  }
  FreePages(address);
  allocations_.erase(found);
  return scripted ? Finish(*scripted) : TRUE;
}

BOOL FakeBackend::VirtualLock(LPVOID address, SIZE_T size) {
  auto scripted = Record(Kernel32Call::VirtualLock, nullptr, {}, {Address(address), size});
  return scripted ? Finish(*scripted) : TRUE;
}

BOOL FakeBackend::VirtualUnlock(LPVOID address, SIZE_T size) {
  auto scripted = Record(Kernel32Call::VirtualUnlock, nullptr, {}, {Address(address), size});
  return scripted ? Finish(*scripted) : TRUE;
}

BOOL FakeBackend::GetVersionExW(LPOSVERSIONINFOW info) {
  auto scripted =
      Record(Kernel32Call::GetVersionExW, nullptr, {}, {info ? info->dwOSVersionInfoSize : 0u});
  if (scripted) return Finish(*scripted);
  const DWORD size = info->dwOSVersionInfoSize;
  *info = version;
  info->dwOSVersionInfoSize = size;
  return TRUE;
}

BOOL FakeBackend::GetVolumeInformationW(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize,
                                        LPDWORD serial, LPDWORD maxComponent, LPDWORD flags,
                                        LPWSTR fileSystemName, DWORD fileSystemNameSize) {
  auto scripted = Record(Kernel32Call::GetVolumeInformationW, nullptr, Utf16(root),
                         {volumeNameSize, fileSystemNameSize});
  if (scripted) {
    CopyName(FromUtf8(std::string(scripted->output.begin(), scripted->output.end())),
             fileSystemName, fileSystemNameSize);
    return Finish(*scripted);
  }
  auto found = volumeInfo_.find(Key(Utf16(root)));
  if (found == volumeInfo_.end()) return Fail(ERROR_PATH_NOT_FOUND);
  if (found->second.fileSystem.empty()) return Fail(ERROR_UNRECOGNIZED_VOLUME);
  CopyName(found->second.label, volumeName, volumeNameSize);
  CopyName(found->second.fileSystem, fileSystemName, fileSystemNameSize);
  if (serial) *serial = found->second.serial;
  if (maxComponent) *maxComponent = 255;
  if (flags) *flags = 0;
  return TRUE;
}

BOOL FakeBackend::GetDiskFreeSpaceW(LPCWSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                                    LPDWORD freeClusters, LPDWORD totalClusters) {
  auto scripted = Record(Kernel32Call::GetDiskFreeSpaceW, nullptr, Utf16(root), {});
  if (scripted) return Finish(*scripted);
  auto found = freeSpace_.find(Key(Utf16(root)));
  if (found == freeSpace_.end()) return Fail(ERROR_PATH_NOT_FOUND);
  const FakeFreeSpace& space = found->second;
  if (sectorsPerCluster) *sectorsPerCluster = space.sectorsPerCluster;
  if (bytesPerSector) *bytesPerSector = space.bytesPerSector;
  if (freeClusters) *freeClusters = space.freeClusters;
  if (totalClusters) *totalClusters = space.totalClusters;
  return TRUE;
}

BOOL FakeBackend::GetDiskFreeSpaceExW(LPCWSTR root, PULARGE_INTEGER availableToCaller,
                                      PULARGE_INTEGER totalBytes, PULARGE_INTEGER freeBytes) {
  auto scripted = Record(Kernel32Call::GetDiskFreeSpaceExW, nullptr, Utf16(root), {});
  if (scripted) return Finish(*scripted);
  auto found = freeSpace_.find(Key(Utf16(root)));
  if (found == freeSpace_.end()) return Fail(ERROR_PATH_NOT_FOUND);
  if (availableToCaller) availableToCaller->QuadPart = found->second.availableBytes;
  if (totalBytes) totalBytes->QuadPart = found->second.totalBytes;
  if (freeBytes) freeBytes->QuadPart = found->second.freeBytes;
  return TRUE;
}

HMODULE FakeBackend::GetModuleHandleW(LPCWSTR moduleName) {
  auto scripted = Record(Kernel32Call::GetModuleHandleW, nullptr, Utf16(moduleName), {});
  if (scripted && !scripted->result) {
    Finish(*scripted);
    return nullptr;
  }
  if (Key(Utf16(moduleName)) == u"kernel32.dll") return Kernel32ModuleHandle();
  Fail(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC FakeBackend::GetProcAddress(HMODULE module, const char* procName) {
  auto scripted =
      Record(Kernel32Call::GetProcAddress, module, FromUtf8(procName ? procName : ""), {});
  if (scripted && !scripted->result) {
    Finish(*scripted);
    return nullptr;
  }
  if (module != Kernel32ModuleHandle() || procName == nullptr || hiddenExports_.count(procName)) {
    Fail(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  FARPROC address = LookupKernel32Export(procName);
  if (!address) Fail(ERROR_PROC_NOT_FOUND);
  return address;
}

void FakeBackend::WriteStandardOutput(std::string_view utf8) {
  calls_.push_back(Call{"WriteStandardOutput", nullptr, FromUtf8(utf8), {}, {}, std::nullopt});
  output.emplace_back(utf8);
}

}  // namespace win32::testing
