#include "host/cli/progress.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <utility>

#if defined(_WIN32)
#include <io.h>
#define VYN_ISATTY _isatty
#define VYN_FILENO _fileno
#else
#include <unistd.h>
#define VYN_ISATTY isatty
#define VYN_FILENO fileno
#endif

namespace {

constexpr auto kQuietPeriod = std::chrono::milliseconds(500);
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

}  // namespace

ProgressBar::ProgressBar(std::uint64_t total_bytes, std::uint64_t total_items, std::string noun)
    : enabled_(VYN_ISATTY(VYN_FILENO(stderr)) != 0),
      total_bytes_(total_bytes),
      total_items_(total_items),
      noun_(std::move(noun)),
      started_(Clock::now()),
      last_drawn_(started_) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(std::uint64_t done_bytes, std::uint64_t done_items) {
  if (!enabled_) return;
  const auto now = Clock::now();
  if (now - started_ < kQuietPeriod || (drawn_ && now - last_drawn_ < kRedrawPeriod)) return;
  last_drawn_ = now;
  drawn_ = true;
  // Bytes measure the work best; a job of empty items goes by their count.
  const double share =
      total_bytes_ != 0   ? static_cast<double>(done_bytes) / static_cast<double>(total_bytes_)
      : total_items_ != 0 ? static_cast<double>(done_items) / static_cast<double>(total_items_)
                          : 1.0;
  const int filled = static_cast<int>(share * kBarWidth);
  std::string bar(static_cast<std::size_t>(kBarWidth), '.');
  bar.replace(0, static_cast<std::size_t>(filled), static_cast<std::size_t>(filled), '#');
  // Through std::cerr, which writes to a Windows console in UTF-16, as the
  // noun may hold a file's name.
  std::string line = "\r[" + bar + "] ";
  const std::string percent = std::to_string(static_cast<int>(share * 100));
  line += std::string(percent.size() < 3 ? 3 - percent.size() : 0, ' ') + percent + "%  ";
  if (total_items_ != 0) line += std::to_string(done_items) + "/" + std::to_string(total_items_) + " ";
  line += noun_;
  std::cerr << line << std::flush;
  shown_ = static_cast<int>(line.size()) - 1;
}

void ProgressBar::Finish() {
  if (!drawn_) return;
  drawn_ = false;
  std::cerr << '\r' << std::string(static_cast<std::size_t>(shown_), ' ') << '\r' << std::flush;
}
