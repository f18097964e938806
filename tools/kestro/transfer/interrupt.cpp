#include "transfer/interrupt.h"

#include <signal.h>

#include "support/errors.h"

namespace kestro::cli {
namespace {

volatile sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
  g_interrupted = 1;
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

bool InterruptRequested() {
  return g_interrupted != 0;
}

void StopIfInterrupted(const std::string& subject) {
  if (InterruptRequested()) throw Failure(subject, "interrupted");
}

}  // namespace kestro::cli
