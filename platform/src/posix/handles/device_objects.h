// The device objects published under \\?\GLOBALROOT\Device\: volumes held by a snapshot.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "storage/drive_map.h"

namespace kestro::posix {

// A published device object. Each handle opened through it keeps it, and the last keeper to let
// go of a withdrawn one tells its publisher.
struct DeviceObject {
  VolumeTarget target;
  std::function<void()> onLastClose;

  DeviceObject(VolumeTarget volume, std::function<void()> notify)
      : target(std::move(volume)), onLastClose(std::move(notify)) {}
  DeviceObject(const DeviceObject&) = delete;
  DeviceObject& operator=(const DeviceObject&) = delete;
  ~DeviceObject() {
    if (onLastClose) onLastClose();
  }
};

// The device object `name` stands for, matched without regard to case, or null.
std::shared_ptr<const DeviceObject> FindDeviceObject(const std::string& name);

}  // namespace kestro::posix
