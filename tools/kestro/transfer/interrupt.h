// Ctrl-C and termination requests: the handler only raises a flag, and the long loops check it
// between blocks and unwind normally, so that every object cleans up after itself (a partial
// image is removed, a snapshot released).
#pragma once

#include <string>

namespace kestro::cli {

// Routes SIGINT, SIGTERM and SIGHUP (the terminal went away) to the flag.
void InstallInterruptHandler();

bool InterruptRequested();

// Throws Failure("<subject>: interrupted") once an interrupt was requested.
void StopIfInterrupted(const std::string& subject);

}  // namespace kestro::cli
