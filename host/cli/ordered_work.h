// Work done on up to `jobs` threads at once, its results taken in the order
// it was given, on the calling thread. Decoding pictures through the image
// plug-in (which may run on several threads) and compressing PNG files run
// side by side; reading archives through the archive plug-in (one thread at
// a time), writing files, messages and counts stay on the calling thread and
// in order. At most `jobs` pieces of work are under way, so at most that many
// inputs and results are held.
#pragma once

#include <deque>
#include <functional>
#include <future>
#include <utility>

template <typename Result>
class OrderedWork {
 public:
  // `finish` takes each result in turn; get() on it gives the result or
  // throws what the work threw.
  OrderedWork(unsigned jobs, std::function<void(std::future<Result>&)> finish)
      : jobs_(jobs == 0 ? 1 : jobs), finish_(std::move(finish)) {}
  ~OrderedWork() {
    // Whatever is still under way ends before its inputs go.
    for (std::future<Result>& left : under_way_)
      if (left.valid()) left.wait();
  }
  OrderedWork(const OrderedWork&) = delete;
  OrderedWork& operator=(const OrderedWork&) = delete;

  // Starts the work, after finishing the oldest when `jobs` are under way.
  // With one job the work runs when it is finished, on this thread.
  void Add(std::function<Result()> work) {
    while (under_way_.size() >= jobs_) FinishOldest();
    under_way_.push_back(
        std::async(jobs_ == 1 ? std::launch::deferred : std::launch::async, std::move(work)));
  }

  // Finishes everything under way.
  void Drain() {
    while (!under_way_.empty()) FinishOldest();
  }

 private:
  void FinishOldest() {
    std::future<Result> oldest = std::move(under_way_.front());
    under_way_.pop_front();
    finish_(oldest);
  }

  unsigned jobs_;
  std::function<void(std::future<Result>&)> finish_;
  std::deque<std::future<Result>> under_way_;
};
