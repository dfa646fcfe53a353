// A file read in blocks by a thread of its own, ahead of the run that
// decodes it, so that the kernel's copy of the input and the decoding
// overlap on two cores. The run receives the bytes in the file's order, as a
// plain read gives them.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
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

  // Copies the next bytes of the file to `to`, at most n; fewer only at the
  // end of the file, or where a read failed.
  std::size_t read(char* to, std::size_t n);

 private:
  struct ready_block {
    std::vector<char> bytes;
    std::size_t size;  // bytes read into it; less than block_size at the end
  };
  void run();

  std::FILE* stream_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<ready_block> ready_;  // read, oldest first
  std::vector<std::vector<char>> free_;
  bool closing_ = false;
  ready_block current_{{}, 0};  // the block being taken, from `at` on
  std::size_t at_ = 0;
  bool done_ = false;  // the run has taken the last block
  std::thread thread_;
};

}  // namespace tx
