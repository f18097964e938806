// kestro info VOLUME: what the volume object learned when it opened the volume.
#include <cstdio>

#include "commands.h"
#include "errors.h"
#include "report.h"

namespace kestro::cli {

namespace {

// Enough for one sector; info transfers nothing.
constexpr uint64_t kInfoBufferSize = uint64_t{64} * 1024;

}  // namespace

int RunInfo(const InfoOptions& options) {
  Volume volume(options.volume, OpenOptions{options.snapshot, kInfoBufferSize});
  if (volume.claims_more_than_held()) {
    Warn(volume.name(), volume.OversizeText() + "; the volume size shown is what the device holds");
  }
  const nlohmann::ordered_json report = DescribeVolume(volume);
  if (options.json) {
    std::printf("%s\n",
                report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    PrintReport(report, stdout);
  }
  return kExitSuccess;
}

}  // namespace kestro::cli
