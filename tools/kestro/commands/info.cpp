// kestro info VOLUME: what the volume object learned when it opened the volume.
#include <cstdio>

#include "commands/commands.h"
#include "commands/options.h"
#include "support/errors.h"
#include "volume/report.h"

namespace kestro::cli {

namespace {

struct InfoOptions {
  VolumeArgs volume;
  bool json = false;
  bool snapshot = false;
};

// Enough for one sector; info transfers nothing.
constexpr uint64_t kInfoBufferSize = uint64_t{64} * 1024;

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

}  // namespace

Command AddInfo(CLI::App& app) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* info = app.add_subcommand("info", "Show what the volume object reports about a volume");
  AddVolume(*info, options->volume);
  info->add_flag("--json", options->json, "Print one JSON document, for scripts");
  info->add_flag("--snapshot", options->snapshot, "Open the volume through a snapshot");
  return {info, [options] { return RunInfo(*options); }};
}

}  // namespace kestro::cli
