// A test fixture in which the library sees only fakes: the fake backend for every platform call
// and the fake requester for snapshots, both logging into one ordered call list.
#pragma once

#include <Kestro32.h>

#include <fake_backend.h>
#include <gtest/gtest.h>
#include <win32/utf.h>

#include "fake_requester.h"
#include "open_shared.h"

namespace kestro::testing {

class FakeWorld : public ::testing::Test {
 protected:
  win32::testing::FakeBackend fake;
  win32::ScopedBackend useFake{fake};
  FakeRequester requester{&fake};

  // Adds a device under `name` and opens it as a handle of the fake.
  win32::HANDLE OpenDevice(const std::u16string& name, std::vector<uint8_t> bytes,
                           win32::testing::DeviceKind kind = win32::testing::DeviceKind::kVolume) {
    using namespace win32;
    fake.AddDevice(name, std::move(bytes), kind);
    return OpenShared(ToWide(name).c_str());
  }
};

}  // namespace kestro::testing
