#include "read/readahead.h"

#include <cerrno>
#include <utility>

#include "base/misc.h"

namespace tx {

read_ahead::read_ahead(std::FILE* stream)
    : stream_(stream), thread_(start_thread([this] { run(); })) {}

read_ahead::~read_ahead() { end_thread(lock_, changed_, closing_, thread_); }

void read_ahead::run() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return closing_ || ready_.size() < max_ready; });
    if (closing_) return;
    std::vector<std::uint8_t> block;
    if (!free_.empty()) {
      block = std::move(free_.back());
      free_.pop_back();
    }
    guard.unlock();
    block.resize(block_size);
    const std::size_t got = std::fread(block.data(), 1, block.size(), stream_);
    const int reason =
        got < block_size && std::ferror(stream_) != 0 ? (errno != 0 ? errno : EIO) : 0;
    guard.lock();
    error_ = reason;
    ready_.push_back({std::move(block), got});
    changed_.notify_all();
    if (got < block_size) return;
  }
}

std::span<const std::uint8_t> read_ahead::next() {
  std::unique_lock<std::mutex> guard(lock_);
  if (!current_.bytes.empty()) free_.push_back(std::move(current_.bytes));
  current_.size = 0;
  if (done_) return {};
  changed_.wait(guard, [this] { return !ready_.empty(); });
  current_ = std::move(ready_.front());
  ready_.pop_front();
  changed_.notify_all();
  // A short block is the last: the thread read up to the end.
  done_ = current_.size < block_size;
  return {current_.bytes.data(), current_.size};
}

int read_ahead::error() {
  const std::lock_guard<std::mutex> guard(lock_);
  return error_;
}

}  // namespace tx
