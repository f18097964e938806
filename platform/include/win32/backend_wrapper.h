// A backend that passes every call to another one. A wrapper that changes a few calls
// (diagnostics, fault injection) derives from it and overrides only those.
#pragma once

#include <win32/backend.h>

namespace win32 {

class BackendWrapper : public Backend {
 public:
  explicit BackendWrapper(Backend& target) : target_(target) {}

  // The backend every call goes to.
  Backend& target() const { return target_; }

#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) \
  result name parameters override {                               \
    return target_.name arguments;                                \
  }
#include <win32/kernel32_calls.def>

  void WriteStandardOutput(std::string_view utf8) override {
    target_.WriteStandardOutput(utf8);
  }

 private:
  Backend& target_;
};

}  // namespace win32
