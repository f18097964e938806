#include "support/standard_streams.h"

#include <cerrno>
#include <cstdio>

#include "support/errors.h"

namespace kestro::cli {
namespace {

bool outputFaultTaken = false;

}  // namespace

std::optional<std::string> FlushStandardOutput() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return std::nullopt;
  const int error = errno;
  const bool first = !outputFaultTaken;
  outputFaultTaken = true;
  if (!first) return std::nullopt;
  return error != 0 ? DescribeErrno(error) : std::string("an earlier write failed");
}

int FinishStandardStreams(int status) {
  std::optional<std::string> fault = FlushStandardOutput();
  bool outputFailed = outputFaultTaken;
  if (std::fclose(stdout) != 0 && !outputFailed) {
    fault = DescribeErrno(errno);
    outputFailed = true;
  }
  if (fault) std::fprintf(stderr, "kestro: standard output: cannot write: %s\n", fault->c_str());
  const bool errorFailed = std::fflush(stderr) != 0 || std::ferror(stderr);
  return (outputFailed || errorFailed) && status == kExitSuccess ? kExitFailure : status;
}

}  // namespace kestro::cli
