// The classic LZSS encoder of GP8 pixel streams, as the textbooks have it: a
// 4096-byte ring buffer with an 18-byte look-ahead, and a binary search tree
// of the strings that start at each of its positions, rooted by first byte.
// Every byte read is inserted into the tree (the search and the insertion
// are one walk), the oldest is deleted; so it reaches 4,078 bytes back, not
// the whole window. In greedy mode it takes the longest match at each byte;
// in lazy mode it first looks one byte on and, if the match there is longer,
// puts out a literal instead. The yardstick the host's encoder is timed and
// sized against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace classic_tree_detail {

constexpr int kRing = 4096;
constexpr int kLookAhead = 18;
constexpr int kShortest = 3;
constexpr int kNil = kRing;  // no node

class Encoder {
 public:
  explicit Encoder(std::span<const unsigned char> data) : data_(data) {
    for (int i = kRing + 1; i <= kRing + 256; ++i) right_[i] = kNil;
    for (int i = 0; i < kRing; ++i) parent_[i] = kNil;
    std::memset(text_, 0, sizeof text_);  // the never-written window reads as 0
  }

  std::vector<unsigned char> Run(bool lazy) {
    r_ = kRing - kLookAhead;
    while (ahead_ < kLookAhead && read_ < data_.size()) text_[r_ + ahead_++] = data_[read_++];
    if (ahead_ == 0) return std::move(stream_);
    for (int i = 1; i <= kLookAhead; ++i) Insert(r_ - i);
    Insert(r_);
    while (ahead_ > 0) {
      int length = std::min(match_length_, ahead_);
      if (length < kShortest) {
        Literal(text_[r_]);
        Advance();
        continue;
      }
      const int position = match_position_;
      if (lazy) {
        const unsigned char first = text_[r_];
        Advance();
        if (ahead_ > 0 && std::min(match_length_, ahead_) > length) {
          Literal(first);  // the match one byte on is longer: take that instead
          continue;
        }
        Match(position, length);
        while (--length > 0) Advance();
        continue;
      }
      Match(position, length);
      while (length-- > 0) Advance();
    }
    return std::move(stream_);
  }

 private:
  // Moves the look-ahead on by one byte: the oldest string leaves the tree,
  // the next byte of the data (if any) enters the buffer, and the string at
  // the new position is inserted, which also finds its longest match.
  void Advance() {
    Delete(s_);
    if (read_ < data_.size()) {
      const unsigned char c = data_[read_++];
      text_[s_] = c;
      if (s_ < kLookAhead - 1) text_[s_ + kRing] = c;  // the mirror past the end
    } else {
      --ahead_;
    }
    s_ = (s_ + 1) & (kRing - 1);
    r_ = (r_ + 1) & (kRing - 1);
    if (ahead_ > 0) Insert(r_);
  }

  void Insert(int r) {
    int cmp = 1;
    const unsigned char* key = &text_[r];
    int p = kRing + 1 + key[0];
    right_[r] = left_[r] = kNil;
    match_length_ = 0;
    for (;;) {
      if (cmp >= 0) {
        if (right_[p] == kNil) {
          right_[p] = r;
          parent_[r] = p;
          return;
        }
        p = right_[p];
      } else {
        if (left_[p] == kNil) {
          left_[p] = r;
          parent_[r] = p;
          return;
        }
        p = left_[p];
      }
      int i = 1;
      for (; i < kLookAhead; ++i) {
        if ((cmp = key[i] - text_[p + i]) != 0) break;
      }
      if (i > match_length_) {
        match_position_ = p;
        if ((match_length_ = i) >= kLookAhead) break;
      }
    }
    // The same 18 bytes: the new string takes the old one's place.
    parent_[r] = parent_[p];
    left_[r] = left_[p];
    right_[r] = right_[p];
    parent_[left_[p]] = r;
    parent_[right_[p]] = r;
    if (right_[parent_[p]] == p) {
      right_[parent_[p]] = r;
    } else {
      left_[parent_[p]] = r;
    }
    parent_[p] = kNil;
  }

  void Delete(int p) {
    if (parent_[p] == kNil) return;
    int q;
    if (right_[p] == kNil) {
      q = left_[p];
    } else if (left_[p] == kNil) {
      q = right_[p];
    } else {
      q = left_[p];
      if (right_[q] != kNil) {
        do q = right_[q];
        while (right_[q] != kNil);
        right_[parent_[q]] = left_[q];
        parent_[left_[q]] = parent_[q];
        left_[q] = left_[p];
        parent_[left_[p]] = q;
      }
      right_[q] = right_[p];
      parent_[right_[p]] = q;
    }
    parent_[q] = parent_[p];
    if (right_[parent_[p]] == p) {
      right_[parent_[p]] = q;
    } else {
      left_[parent_[p]] = q;
    }
    parent_[p] = kNil;
  }

  void Item(bool literal) {
    if (items_ % 8 == 0) {
      flag_at_ = stream_.size();
      stream_.push_back(0);
    }
    if (literal) stream_[flag_at_] = static_cast<unsigned char>(stream_[flag_at_] | 1u << items_ % 8);
    ++items_;
  }
  void Literal(unsigned char c) {
    Item(true);
    stream_.push_back(c);
  }
  void Match(int position, int length) {
    Item(false);
    stream_.push_back(static_cast<unsigned char>(position & 0xFF));
    stream_.push_back(static_cast<unsigned char>((position >> 8) << 4 | (length - kShortest)));
  }

  std::span<const unsigned char> data_;
  std::size_t read_ = 0;
  int ahead_ = 0;  // bytes in the look-ahead
  int r_ = 0;      // where the look-ahead starts
  int s_ = 0;      // the oldest position, where the next byte goes
  int match_position_ = 0;
  int match_length_ = 0;
  unsigned char text_[kRing + kLookAhead - 1];
  int left_[kRing + 1];
  int right_[kRing + 257];  // the 256 roots follow the nodes
  int parent_[kRing + 1];
  std::vector<unsigned char> stream_;
  std::size_t flag_at_ = 0;
  std::size_t items_ = 0;
};

}  // namespace classic_tree_detail

inline std::vector<unsigned char> ClassicTreeLzssEncode(std::span<const unsigned char> data,
                                                        bool lazy = false) {
  // About 70 KB of tree and buffer: on the heap, not the stack.
  auto encoder = std::make_unique<classic_tree_detail::Encoder>(data);
  return encoder->Run(lazy);
}
