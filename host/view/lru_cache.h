// Things already made (thumbnails, archives opened inside others), kept
// within a memory budget: the least recently used go first when a new one
// would exceed it. Keyed by the member's address in the listing.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>

template <class Value>
class LruCache {
 public:
  explicit LruCache(std::size_t budget) : budget_(budget) {}

  // The value of the key, or null.
  std::shared_ptr<const Value> Find(const std::string& key) {
    const std::lock_guard lock(mutex_);
    const auto found = index_.find(key);
    if (found == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return std::get<1>(*found->second);
  }

  // Keeps the value, counted as `bytes`, unless it alone exceeds the budget.
  void Put(const std::string& key, std::shared_ptr<const Value> value, std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    if (bytes > budget_ || index_.count(key) != 0) return;
    while (used_ + bytes > budget_) {
      used_ -= std::get<2>(order_.back());
      index_.erase(std::get<0>(order_.back()));
      order_.pop_back();
    }
    used_ += bytes;
    order_.emplace_front(key, std::move(value), bytes);
    index_[key] = order_.begin();
  }

  std::size_t used() const {
    const std::lock_guard lock(mutex_);
    return used_;
  }

 private:
  using Entry = std::tuple<std::string, std::shared_ptr<const Value>, std::size_t>;
  mutable std::mutex mutex_;
  std::size_t budget_;
  std::size_t used_ = 0;
  std::list<Entry> order_;  // most recently used first
  std::unordered_map<std::string, typename std::list<Entry>::iterator> index_;
};
