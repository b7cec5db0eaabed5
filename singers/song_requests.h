// Songs the singers asked for from their phones, waiting for the host: each is accepted (the
// singer joins the queue as if the host had typed the name) or declined. The list is program-wide
// like the queue and, like it, empty at every start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/result_set.h"

namespace velloran {

struct SongRequest {
  uint64_t Id = 0;  // counts up from 1 through the run, never reused
  std::string Name;
  ResultRow Song;
  std::string From;  // the phone's network address
};

class PendingRequests {
 public:
  const std::vector<SongRequest>& all() const { return waiting_; }
  int count() const { return static_cast<int>(waiting_.size()); }
  // Adds a request at the end and returns its id.
  uint64_t Add(const std::string& name, const ResultRow& song, const std::string& from);
  // Takes request `k` (0-based) out of the list; false when there is none such.
  bool Take(int k, SongRequest& taken);

 private:
  std::vector<SongRequest> waiting_;
  uint64_t next_id_ = 1;
};

}  // namespace velloran
