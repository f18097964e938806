#include "handles/device_name.h"

#include <cctype>

#include <win32/utf.h>

namespace kestro::posix {
namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) !=
        std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

bool AllDigits(const std::string& text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

DeviceName ParseLocalDevice(const std::string& rest) {
  DeviceName name;
  if (rest.size() == 2 && IsAsciiLetter(rest[0]) && rest[1] == ':') {
    name.kind = NameKind::kVolume;
    name.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
  } else if (StartsWithIgnoringCase(rest, "PHYSICALDRIVE") && AllDigits(rest.substr(13))) {
    name.kind = NameKind::kPhysicalDrive;
    name.number = std::stoi(rest.substr(13));
  } else if (rest.size() == 6 && StartsWithIgnoringCase(rest, "VWIN32")) {
    name.kind = NameKind::kLegacyDevice;
  }
  return name;
}

}  // namespace

DeviceName ParseDeviceName(LPCWSTR wide) {
  if (wide == nullptr) return DeviceName();
  const std::string text = ToUtf8(wide);
  static const std::string kGlobalRoot = "\\\\?\\GLOBALROOT\\Device\\";
  if (text.rfind("\\\\.\\", 0) == 0) return ParseLocalDevice(text.substr(4));
  DeviceName name;
  if (StartsWithIgnoringCase(text, kGlobalRoot) && text.size() > kGlobalRoot.size()) {
    name.kind = NameKind::kDeviceObject;
    name.detail = text.substr(kGlobalRoot.size());
  } else if (!text.empty() && text[0] == '/') {
    name.kind = NameKind::kPosixPath;
    name.detail = text;
  }
  return name;
}

char ParseRootPath(LPCWSTR root) {
  if (root == nullptr || root[0] > 0x7F || !IsAsciiLetter(static_cast<char>(root[0])) ||
      root[1] != u':') {
    return 0;
  }
  if (root[2] != 0 && !(root[2] == u'\\' && root[3] == 0)) return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
}

}  // namespace kestro::posix
