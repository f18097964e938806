// Why a structure read from a disk was refused, and the result type every parser returns.
#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace kestro::ondisk {

enum class Fault {
  kReadFailed,    // the bytes could not be read
  kOutOfRange,    // a read, run, table or record reaches past the end of the volume or disk
  kBadSignature,  // a magic value or signature is missing
  kBadValue,      // a field holds a value the format does not allow
  kChecksum,      // a checksum does not match
  kChainLoop,     // a chain of records comes back to one already read, or runs too long
  kUnsupported,   // valid, but a form these parsers do not read (compressed data, ...)
};

struct Error {
  Fault fault;
  const char* reason;  // a fixed text naming the field or check that failed
};

// Success, or the error that stopped the work.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(error) {}

  bool ok() const { return !error_; }
  const Error& error() const { return *error_; }

 private:
  std::optional<Error> error_;
};

// A value, or the error that prevented it.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(error) {}

  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return std::get<Error>(state_); }

  T& operator*() { return std::get<T>(state_); }
  const T& operator*() const { return std::get<T>(state_); }
  T* operator->() { return &std::get<T>(state_); }
  const T* operator->() const { return &std::get<T>(state_); }

 private:
  std::variant<T, Error> state_;
};

}  // namespace kestro::ondisk
