// Writes to standard output and standard error are checked, as the coreutils check them when
// they close standard output: a line lost to a full disk or a closed pipe fails the command.
#pragma once

#include <optional>
#include <string>

namespace kestro::cli {

// Flushes standard output; the reason when this or an earlier write to it failed. A failure is
// given once: FinishStandardStreams then leaves it to whoever took it to say so.
std::optional<std::string> FlushStandardOutput();

// At exit: flushes and closes standard output and checks standard error. A write to either
// that failed turns a successful `status` into a failure, said on standard error while it works.
int FinishStandardStreams(int status);

}  // namespace kestro::cli
