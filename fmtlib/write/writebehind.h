// A data file's blocks written by a thread of their own while the run
// formats the next ones, so that the kernel's copy of the output and the
// formatting overlap on two cores. The blocks reach the stream whole and in
// the order they were handed over, so the bytes are those of a plain write.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tx {

struct write_behind {
  // Blocks the writer makes beside those its callers fill. Once all of them
  // are handed over and not yet written, a caller waits for one.
  static constexpr std::size_t extra_blocks = 3;

  // Starts the thread that writes to stream; interrupts never reach it, so
  // the run's handler and held interrupts stay with the thread that runs it.
  explicit write_behind(std::FILE* stream);
  // Ends the thread; blocks not yet written are dropped (the run has
  // stopped, or every block was waited for).
  ~write_behind();
  write_behind(const write_behind&) = delete;
  write_behind& operator=(const write_behind&) = delete;

  // Hands over the bytes of `block` from `begin` to `used` and returns an
  // empty block of at least its size for the next bytes.
  std::vector<char> hand_over(std::vector<char> block, std::size_t used, std::size_t begin = 0);
  // Returns once every block handed over is written (or dropped after a
  // failed write).
  void wait();
  // errno of the first failed write, 0 while all succeeded. After a failure
  // the blocks that follow are dropped: the file is lost anyway.
  int error();

 private:
  struct pending_block {
    std::vector<char> bytes;
    std::size_t begin;
    std::size_t used;
  };
  void run();
  // Starts the kernel writing back the file's bytes written since the last
  // time, once there are writeback_bytes of them; errno of a failed flush.
  int start_writeback(std::size_t bytes);
  static constexpr std::size_t writeback_bytes = std::size_t{8} << 20;
  std::size_t unflushed_ = 0;  // bytes written since the last writeback
  long long flushed_ = 0;      // the file offset written back up to

  std::FILE* stream_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<pending_block> pending_;  // handed over, oldest first
  std::vector<std::vector<char>> free_;
  std::size_t blocks_ = 0;  // blocks made so far
  bool writing_ = false;    // the thread holds a block outside pending_
  bool closing_ = false;
  int error_ = 0;
  std::thread thread_;
};

}  // namespace tx
