// A file read in blocks by a thread of its own, ahead of the run that
// decodes it, so that the kernel's copy of the input and the decoding
// overlap on two cores. The run receives the bytes in the file's order, as a
// plain read gives them.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace tx {

struct read_ahead {
  static constexpr std::size_t block_size = 256 * 1024;
  // Blocks read and not yet taken; the thread waits beyond this many.
  static constexpr std::size_t max_ready = 3;

  // Starts the thread that reads stream from its current position to its
  // end; interrupts never reach it.
  explicit read_ahead(std::FILE* stream);
  // Ends the thread; what it read and was not taken is dropped.
  ~read_ahead();
  read_ahead(const read_ahead&) = delete;
  read_ahead& operator=(const read_ahead&) = delete;

  // The next block of the file: block_size bytes, fewer only in the last
  // block (where the end of the file or a failed read cut it), none after
  // it. A block stays valid until the next call.
  std::span<const std::uint8_t> next();
  // errno of a read that failed, 0 when the last block ended at the end of
  // the file. Known once next() has given the last block.
  int error();

 private:
  struct ready_block {
    std::vector<std::uint8_t> bytes;
    std::size_t size;  // bytes read into it; less than block_size at the end
  };
  void run();

  std::FILE* stream_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<ready_block> ready_;  // read, oldest first
  std::vector<std::vector<std::uint8_t>> free_;
  bool closing_ = false;
  int error_ = 0;
  ready_block current_{{}, 0};  // the block the last call gave
  bool done_ = false;           // that block was the last
  std::thread thread_;
};

}  // namespace tx
