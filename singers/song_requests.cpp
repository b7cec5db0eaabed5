#include "singers/song_requests.h"

namespace velloran {

uint64_t PendingRequests::Add(const std::string& name, const ResultRow& song, const std::string& from) {
  waiting_.push_back(SongRequest{next_id_, name, song, from});
  return next_id_++;
}

bool PendingRequests::Take(int k, SongRequest& taken) {
  if (k < 0 || k >= count()) return false;
  taken = std::move(waiting_[static_cast<size_t>(k)]);
  waiting_.erase(waiting_.begin() + k);
  return true;
}

}  // namespace velloran
