// Thumbnails already made, kept within a memory budget: the least recently
// used go first when a new one would exceed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "host/files/file_io.h"

class ThumbnailCache {
 public:
  explicit ThumbnailCache(std::size_t budget) : budget_(budget) {}

  // The thumbnail of the key, or null.
  std::shared_ptr<const Bytes> Find(std::uint64_t key) {
    const std::lock_guard lock(mutex_);
    const auto found = index_.find(key);
    if (found == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return found->second->second;
  }

  // Keeps the thumbnail unless it alone exceeds the budget.
  void Put(std::uint64_t key, std::shared_ptr<const Bytes> thumbnail) {
    const std::lock_guard lock(mutex_);
    if (thumbnail->size() > budget_ || index_.count(key) != 0) return;
    while (used_ + thumbnail->size() > budget_) {
      used_ -= order_.back().second->size();
      index_.erase(order_.back().first);
      order_.pop_back();
    }
    used_ += thumbnail->size();
    order_.emplace_front(key, std::move(thumbnail));
    index_[key] = order_.begin();
  }

  std::size_t used() const {
    const std::lock_guard lock(mutex_);
    return used_;
  }

 private:
  using Entry = std::pair<std::uint64_t, std::shared_ptr<const Bytes>>;
  mutable std::mutex mutex_;
  std::size_t budget_;
  std::size_t used_ = 0;
  std::list<Entry> order_;  // most recently used first
  std::unordered_map<std::uint64_t, std::list<Entry>::iterator> index_;
};
