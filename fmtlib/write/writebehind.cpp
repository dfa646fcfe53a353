#include "write/writebehind.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/misc.h"

namespace tx {

write_behind::write_behind(std::FILE* stream)
    : stream_(stream), thread_(start_thread([this] { run(); })) {}

write_behind::~write_behind() { end_thread(lock_, changed_, closing_, thread_); }

void write_behind::run() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return closing_ || !pending_.empty(); });
    if (closing_) return;
    pending_block block = std::move(pending_.front());
    pending_.pop_front();
    writing_ = true;
    const bool failed = error_ != 0;
    guard.unlock();
    int reason = 0;
    const std::size_t n = block.used - block.begin;
    if (!failed) {
      if (std::fwrite(block.bytes.data() + block.begin, 1, n, stream_) != n)
        reason = errno != 0 ? errno : EIO;
      // After a failed write the blocks are only dropped: nothing to flush.
      if (reason == 0) reason = start_writeback(n);
    }
    guard.lock();
    if (reason != 0 && error_ == 0) error_ = reason;
    writing_ = false;
    free_.push_back(std::move(block.bytes));
    changed_.notify_all();
  }
}

// A file system flushes an output when it is renamed over the old one (ext4
// does so for every replaced file), which made the commit wait for the
// whole file. Writing back every few MiB as the pass goes lets that work
// overlap with the formatting; nothing waits for the disk here.
int write_behind::start_writeback(std::size_t bytes) {
  unflushed_ += bytes;
  if (unflushed_ < writeback_bytes) return 0;
  unflushed_ = 0;
  if (std::fflush(stream_) != 0) return errno != 0 ? errno : EIO;
#ifdef SYNC_FILE_RANGE_WRITE
  const int fd = fileno(stream_);
  const off_t end = lseek(fd, 0, SEEK_CUR);  // -1 on a pipe: nothing to write back
  if (end > flushed_) {
    sync_file_range(fd, flushed_, end - flushed_, SYNC_FILE_RANGE_WRITE);
    flushed_ = end;
  }
#endif
  return 0;
}

std::vector<char> write_behind::hand_over(std::vector<char> block, std::size_t used,
                                          std::size_t begin) {
  const std::size_t size = block.size();
  std::unique_lock<std::mutex> guard(lock_);
  pending_.push_back({std::move(block), begin, used});
  changed_.notify_all();
  if (free_.empty() && blocks_ < extra_blocks) {
    ++blocks_;
    guard.unlock();
    return std::vector<char>(size);
  }
  changed_.wait(guard, [this] { return !free_.empty(); });
  std::vector<char> next = std::move(free_.back());
  free_.pop_back();
  guard.unlock();
  if (next.size() < size) next.resize(size);
  return next;
}

void write_behind::wait() {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return pending_.empty() && !writing_; });
}

int write_behind::error() {
  const std::lock_guard<std::mutex> guard(lock_);
  return error_;
}

}  // namespace tx
