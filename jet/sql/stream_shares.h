// How two threads share the pages of a table they stream (folded_columns.cpp): each takes
// pieces, one from the front, the other from the back, until they meet; a thread with no piece
// left then takes the back half of what the other has not begun reading of its share, so that
// both end within a run of each other rather than one idling through the other's last piece.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace jet::folding {

// `Carried`: what the thread streaming a share keeps with it (its builder, its pages' digests).
template <typename Carried>
class StreamShares {
 public:
  // Pages [begin, end) of the table's list, streamed by one thread. `end` only comes down, when
  // the other thread takes the pages past it; it and `claimed` change under the lock only.
  struct Share {
    size_t begin = 0, end = 0;
    size_t claimed = 0;  // up to where its thread reads or has read
    // A piece the front takes: all of them lie before every other share, in the order taken.
    bool front = false;
    Carried carried{};
  };

  // `pages` of the table shared in `pieces` pieces.
  StreamShares(size_t pages, size_t pieces)
      : pages_(pages),
        piece_((pages + pieces - 1) / pieces),
        least_(std::clamp<size_t>(piece_ / 4, 1, 64)),
        back_((pages + piece_ - 1) / piece_) {}

  // The pages a thread reads at once: at most an eighth of a piece, so that its last pages may be
  // shared too; at most `most`.
  uint32_t RunPages(uint32_t most) const { return static_cast<uint32_t>(std::clamp<size_t>(piece_ / 8, 1, most)); }

  // The next share of the thread that takes pieces from the front or from the back, with its
  // pages [begin, end) as they are when taken: a piece while any is left (the first always the
  // front's), else the back half of what the other thread has not claimed of its share; null
  // when nothing worth taking is left.
  Share* Next(bool front, size_t* begin, size_t* end) {
    std::lock_guard<std::mutex> lock(mutex_);
    Share*& mine = current_[front ? 0 : 1];
    mine = nullptr;
    if (front_ < back_ && (front || back_ > 1)) {
      const size_t piece = front ? front_++ : --back_;
      mine = &shares_.emplace_back();
      mine->begin = mine->claimed = piece * piece_;
      mine->end = std::min(pages_, mine->begin + piece_);
      mine->front = front;
    } else if (Share* other = current_[front ? 1 : 0]; other != nullptr && other->end - other->claimed >= least_) {
      mine = &shares_.emplace_back();
      mine->begin = mine->claimed = other->claimed + (other->end - other->claimed) / 2;
      mine->end = other->end;
      other->end = mine->begin;
    }
    if (mine == nullptr) return nullptr;
    *begin = mine->begin;
    *end = mine->end;
    return mine;
  }

  // Before `share`'s thread reads its pages [from, to) (counted from its begin): where it may
  // read up to; `from` when the rest was taken.
  size_t Claim(Share& share, size_t from, size_t to) {
    std::lock_guard<std::mutex> lock(mutex_);
    to = std::max(from, std::min(to, share.end - share.begin));
    share.claimed = share.begin + to;
    return to;
  }

  // The shares that are not the front's pieces, in the order of their pages; once both threads
  // are done.
  std::vector<Share*> Later() {
    std::vector<Share*> later;
    for (Share& share : shares_) {
      if (!share.front) later.push_back(&share);
    }
    std::sort(later.begin(), later.end(), [](const Share* a, const Share* b) { return a->begin < b->begin; });
    return later;
  }

 private:
  std::mutex mutex_;
  // least_: fewer pages left than this are read by whoever has them, since taking them costs a
  // builder of their own.
  const size_t pages_, piece_, least_;
  size_t front_ = 0, back_;
  std::deque<Share> shares_;  // where they stay while they are taken and streamed
  Share* current_[2] = {};    // each thread's share under way: the front's, the back's
};

}  // namespace jet::folding
