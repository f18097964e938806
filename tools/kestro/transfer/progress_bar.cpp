#include "transfer/progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "support/sizes.h"

namespace kestro::cli {
namespace {

constexpr int kDefaultWidth = 80;
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

int Percent(uint64_t done, uint64_t total) {
  if (total == 0) return 100;
  return static_cast<int>(static_cast<double>(std::min(done, total)) * 100 /
                          static_cast<double>(total));
}

std::string FormatDuration(double seconds) {
  const long total = std::lround(seconds);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

int TerminalWidth(FILE* out) {
  struct winsize size {};
  if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultWidth;
}

}  // namespace

std::string RenderProgress(uint64_t done, uint64_t total, double seconds, int width) {
  const int percent = Percent(done, total);
  char left[8];
  std::snprintf(left, sizeof left, " %3d%%", percent);
  std::string right =
      "  " + FormatBytes(done) + " / " + FormatBytes(total) + "  " + FormatRate(done, seconds);
  if (done >= total) {
    right += "  " + FormatDuration(seconds);
  } else if (done > 0 && seconds > 0) {
    const double rate = static_cast<double>(done) / seconds;
    right += "  " + FormatDuration(static_cast<double>(total - done) / rate) + " left";
  }
  const int barWidth = width - static_cast<int>(std::strlen(left) + right.size()) - 2;
  std::string line;
  if (barWidth >= 10) {
    const auto filled = static_cast<size_t>(barWidth * percent / 100);
    line.append(1, '[').append(filled, '#').append(static_cast<size_t>(barWidth) - filled, '.');
    line.append(1, ']');
  }
  return line.append(left).append(right);
}

ProgressBar::ProgressBar(FILE* out, bool enabled, uint64_t total)
    : out_(out),
      drawing_(enabled && isatty(fileno(out))),
      total_(total),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

ProgressBar::~ProgressBar() {
  // A transfer that stopped early leaves the bar where it was and moves to a fresh line.
  if (lineOpen_) std::fputc('\n', out_);
}

void ProgressBar::Update(uint64_t done) {
  // The end is drawn once, by Finish.
  if (!drawing_ || done >= total_) return;
  const auto now = std::chrono::steady_clock::now();
  if (Percent(done, total_) == lastPercent_ && now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  Draw(done);
}

void ProgressBar::Finish() {
  if (!drawing_) return;
  Draw(total_);
  std::fputc('\n', out_);
  std::fflush(out_);
  lineOpen_ = false;
}

double ProgressBar::seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ProgressBar::Draw(uint64_t done) {
  lastPercent_ = Percent(done, total_);
  const std::string line = RenderProgress(done, total_, seconds(), TerminalWidth(out_) - 1);
  std::fprintf(out_, "\r%s\033[K", line.c_str());
  std::fflush(out_);
  lineOpen_ = true;
}

}  // namespace kestro::cli
