// The pager owns the database file and hands out its pages. Everything above it reads the file
// only through ReadPage, which checks that the page exists, so a structure that points past the
// end of the file is reported instead of read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/format.h"
#include "jet/header.h"
#include "jet/status.h"

namespace jet {

class Pager {
 public:
  ~Pager();
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  // Opens `path` for reading and decodes its header.
  static Result<std::unique_ptr<Pager>> Open(const std::string& path);

  const std::string& path() const { return path_; }
  const Format& format() const { return *format_; }
  const DatabaseHeader& header() const { return header_; }
  uint32_t page_size() const { return format_->page_size; }
  uint32_t page_count() const { return page_count_; }

  // The bytes of `page` (page_size of them), valid for the pager's lifetime.
  Result<const uint8_t*> ReadPage(uint32_t page);
  // ReadPage plus a check of the page's type byte.
  Result<const uint8_t*> ReadPageOfType(uint32_t page, uint8_t type, const char* what);

  // An error that names this file and `page`.
  Error Corrupt(uint32_t page, const std::string& what) const;

 private:
  Pager(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  std::string path_;
  int fd_ = -1;
  const Format* format_ = nullptr;
  DatabaseHeader header_;
  uint32_t page_count_ = 0;
  std::vector<std::unique_ptr<uint8_t[]>> cache_;  // by page number, loaded on first use
};

}  // namespace jet
