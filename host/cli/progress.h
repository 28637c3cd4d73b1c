// A progress bar on standard error for work that takes a while. It shows
// only when standard error is a terminal, and only once the work has run
// for half a second, so quick jobs and redirected output stay clean.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ProgressBar {
 public:
  // With items, the bar counts them ("3/7 members"); without (0), `noun`
  // alone says what is under way ("encoding pixels").
  ProgressBar(std::uint64_t total_bytes, std::uint64_t total_items, std::string noun);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Update(std::uint64_t done_bytes, std::uint64_t done_items);
  // For work whose size is learnt only once it has begun.
  void SetTotal(std::uint64_t total_bytes) { total_bytes_ = total_bytes; }
  // Clears the bar's line, if one was drawn.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;

  bool enabled_;
  bool drawn_ = false;
  int shown_ = 0;  // characters of the line last drawn
  std::uint64_t total_bytes_;
  std::uint64_t total_items_;
  std::string noun_;
  Clock::time_point started_;
  Clock::time_point last_drawn_;
};
