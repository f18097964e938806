// A backend for tests. It keeps in-memory devices with Windows' transfer rules, records every
// call in order, and lets a test script any call's result, output, transfer count and error.
//
//   win32::testing::FakeBackend fake;
//   win32::ScopedBackend use(fake);
//   fake.AddDevice(u"\\\\.\\C:", std::vector<uint8_t>(1 << 20), DeviceKind::kVolume);
//   fake.Script(Kernel32Call::ReadFile, Outcome::Failure(ERROR_CRC));   // the next ReadFile fails
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <win32/backend.h>
#include <win32/kernel32_call.h>
#include <win32/windows.h>

namespace win32::testing {

struct Call {
  std::string function;  // the call's name, or the test's own event
  HANDLE handle = nullptr;
  std::u16string name;               // a path, root path, module or procedure name
  std::vector<uint64_t> args;        // the numeric arguments, in order (see each method)
  std::vector<uint8_t> data;         // bytes written, or the input of a control request
  std::optional<Kernel32Call> kind;  // empty for diagnostic output and the test's own events
  std::string ToString() const;
};

// What a scripted call does instead of the model's answer.
struct Outcome {
  BOOL result = FALSE;
  DWORD error = ERROR_SUCCESS;
  // Transfers: how many bytes the model really moves before returning `result`.
  std::optional<DWORD> transfer;
  // Control requests and ReadFile: bytes copied to the output buffer.
  std::vector<uint8_t> output;
  // Control requests: the byte count reported; defaults to output.size().
  std::optional<DWORD> returned;

  static Outcome Failure(DWORD error);
  static Outcome Success();
  // A transfer that moves only `bytes` and still succeeds.
  static Outcome Short(DWORD bytes);
  // A control request answered with `record`.
  static Outcome Reply(const void* record, size_t size);
  template <typename Record>
  static Outcome Reply(const Record& record) {
    return Reply(&record, sizeof record);
  }
};

enum class DeviceKind {
  kVolume,  // transfers stop at the end; sector-aligned offsets and lengths
  kDisk,    // transfers past the end fail with ERROR_SECTOR_NOT_FOUND
  kFile,    // a plain file: any offset, writes extend it
};

struct FakeVolumeInfo {
  std::u16string fileSystem;  // empty: the query fails with ERROR_UNRECOGNIZED_VOLUME
  std::u16string label;
  DWORD serial = 0;
};

struct FakeFreeSpace {
  ULONGLONG totalBytes = 0;
  ULONGLONG freeBytes = 0;
  ULONGLONG availableBytes = 0;
  DWORD sectorsPerCluster = 8;
  DWORD bytesPerSector = 512;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
};

class FakeBackend : public Backend {
 public:
  FakeBackend();
  ~FakeBackend() override;

  // --- The model -------------------------------------------------------------------------
  // Adds a device or file under `name` (compared without regard to case).
  void AddDevice(const std::u16string& name, std::vector<uint8_t> bytes, DeviceKind kind);
  std::vector<uint8_t>& DeviceBytes(const std::u16string& name);
  void SetVolumeInfo(const std::u16string& root, FakeVolumeInfo info);
  void SetFreeSpace(const std::u16string& root, FakeFreeSpace space);
  // Control requests of `code` on any handle get `outcome`, every time.
  void SetIoctlReply(DWORD code, Outcome outcome);
  // Makes GetProcAddress answer as if kernel32 had no export of this name.
  void HideExport(const std::string& procName);
  // The version record GetVersionExW reports.
  OSVERSIONINFOW version{};
  // VirtualAlloc fails for any size above this.
  SIZE_T allocationLimit = SIZE_T(1) << 31;

  // --- Scripting ---------------------------------------------------------------------------
  // The next call of `call` returns `outcome`; several queue up in order.
  void Script(Kernel32Call call, Outcome outcome);
  // Consulted before the model on every call; returning an outcome overrides the model.
  std::function<std::optional<Outcome>(const Call&)> intercept;
  // Answers control requests on open handles in place of SetIoctlReply, working on the
  // request's own buffers as a test's device emulator would (scripts and `intercept` come first).
  std::function<BOOL(const Call&, LPVOID in, LPVOID out, DWORD outSize, LPDWORD returned)>
      controlResponder;

  // --- What happened -----------------------------------------------------------------------
  const std::vector<Call>& calls() const { return calls_; }
  std::vector<const Call*> CallsOf(Kernel32Call call) const;
  size_t CountOf(Kernel32Call call) const;
  std::vector<std::string> CallNames() const;
  void ClearCalls() { calls_.clear(); }
  // Adds an event of the test's own (a requester call, say) to the same ordered log.
  void Note(const std::string& event) {
    calls_.push_back(Call{event, nullptr, {}, {}, {}, std::nullopt});
  }
  // Diagnostic lines written through wprintf, as UTF-8.
  std::vector<std::string> output;
  // Handles open now.
  size_t OpenHandleCount() const { return handles_.size(); }
  // Blocks committed by VirtualAlloc and not yet released.
  size_t LiveAllocationCount() const { return allocations_.size(); }

  // --- Backend -----------------------------------------------------------------------------
#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) result name parameters override;
#include <win32/kernel32_calls.def>
  void WriteStandardOutput(std::string_view utf8) override;

 private:
  struct Device {
    std::vector<uint8_t> bytes;
    DeviceKind kind = DeviceKind::kVolume;
  };
  struct OpenHandle {
    std::u16string device;  // key into devices_
    uint64_t pointer = 0;
    bool canRead = false;
    bool canWrite = false;
    bool noBuffering = false;
  };

  // Records a call of `kind` and returns the outcome a script or the interceptor chose, if any.
  std::optional<Outcome> Record(Kernel32Call kind, HANDLE handle, std::u16string name,
                                std::vector<uint64_t> args, std::vector<uint8_t> data = {});
  BOOL Finish(const Outcome& outcome);
  OpenHandle* FindHandle(HANDLE handle);
  Device* FindDevice(const std::u16string& name);
  // Checks Windows' rules for a transfer of `size` and returns how much of it may move.
  DWORD CheckTransfer(const OpenHandle& open, const Device& device, const void* buffer, DWORD size,
                      DWORD* allowed);
  BOOL Transfer(HANDLE file, void* readInto, const void* writeFrom, DWORD size, LPDWORD done,
                const std::optional<Outcome>& scripted);

  std::vector<Call> calls_;
  std::map<Kernel32Call, std::deque<Outcome>> scripts_;
  std::map<std::u16string, Device> devices_;
  std::map<std::u16string, FakeVolumeInfo> volumeInfo_;
  std::map<std::u16string, FakeFreeSpace> freeSpace_;
  std::map<DWORD, Outcome> ioctlReplies_;
  std::set<std::string> hiddenExports_;
  std::map<uintptr_t, OpenHandle> handles_;
  uintptr_t nextHandle_ = 0x1000;
  std::map<uintptr_t, size_t> allocations_;  // blocks of whole pages, by address
};

}  // namespace win32::testing
