// The progress bar of a long transfer: percent, bytes, throughput and time left, redrawn in
// place on a terminal. Off the terminal, or when asked to be quiet, it draws nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kestro::cli {

// One line of the bar for `done` of `total` bytes after `seconds`, at most `width` columns.
std::string RenderProgress(uint64_t done, uint64_t total, double seconds, int width);

class ProgressBar {
 public:
  // Draws on `out` only when `enabled` and `out` is a terminal.
  ProgressBar(FILE* out, bool enabled, uint64_t total);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws when the whole percent changed or a quarter second has passed.
  void Update(uint64_t done);

  // Draws the final state and ends the line.
  void Finish();

  double seconds() const;

 private:
  void Draw(uint64_t done);

  FILE* out_;
  bool drawing_;
  uint64_t total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
  int lastPercent_ = -1;
  bool lineOpen_ = false;
};

}  // namespace kestro::cli
