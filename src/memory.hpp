#pragma once
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <thread>
#include <vector>

namespace heliodex {

// Asks the kernel to back the whole 2 MiB pages inside [p, p + bytes) with huge pages when
// they are first touched. Loading a million-row file writes hundreds of megabytes of fresh
// memory, and taking it 4 KiB page fault by page fault costs about as much as the parse.
// Only a hint: where it is refused or unknown, nothing changes.
void advise_huge_pages(void* p, std::size_t bytes) noexcept;

// Gives the whole pages inside [p, p + bytes) back to the kernel: memory that an allocation
// still owns but no longer uses stops counting as resident, and reads as zeros when it is
// next touched. Only where the kernel offers it; elsewhere nothing changes.
void release_pages(void* p, std::size_t bytes) noexcept;

// Faults fresh pages in ahead of the code that fills them. The kernel clears every page that
// an allocation first touches, and for a list of hundreds of megabytes the clearing costs
// about as much as filling it; on one thread the two add up. start() has a second thread
// take the ranges from their fronts, about 2 MiB at a time in all, while the caller writes
// behind it: ranges filled side by side (the columns of an export) are taken at the same
// pace, each step the same share of each. Only ranges that are not resident yet count (the
// C library often hands out memory again), and only at least kMinBytes of them get the
// thread: for less, starting it and waking the other core can cost more than it saves.
// Only a hint: where a thread cannot start or the kernel lacks the advice, the caller's
// writes fault as before.
class PageFaulter {
 public:
  static constexpr std::size_t kMinBytes = std::size_t{32} << 20;
  static constexpr std::size_t kMaxRanges = 16;
  struct Range {
    const void* p;
    std::size_t bytes;
  };

  PageFaulter() = default;
  PageFaulter(const PageFaulter&) = delete;
  PageFaulter& operator=(const PageFaulter&) = delete;
  ~PageFaulter() { stop(); }

  void start(const void* p, std::size_t bytes) noexcept { start({{p, bytes}}); }
  // At most kMaxRanges; nothing happens for more.
  void start(std::initializer_list<Range> ranges) noexcept { start(ranges.begin(), ranges.size()); }
  void start(const Range* ranges, std::size_t n) noexcept;
  // Whether a thread is at work on the pages from p (the first range's start).
  bool working_on(const void* p) const noexcept { return worker_.joinable() && p == base_; }
  // Stops the thread and waits for it. Returns how many bytes from the first range's start
  // it faulted in.
  std::size_t stop() noexcept;

 private:
  std::thread worker_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> done_{0};
  const void* base_ = nullptr;
};

// Reserves room in records for a file of file_size bytes whose first sample_bytes hold
// sample_lines lines, with a tenth to spare (the last lines of a published CelesTrak file,
// its predictions, are the shortest): pages that no record reaches are never touched, so
// cost no memory. Huge pages are asked for only where records are expected, since a huge
// page is all touched at once; faulter faults them in, when there are enough. Nothing when
// the size is unknown (0).
template <class T>
void reserve_for_file(std::vector<T>& records, PageFaulter& faulter, std::uint64_t file_size,
                      std::size_t sample_bytes, std::size_t sample_lines) {
  if (file_size == 0) return;
  const double per_byte = sample_bytes >= 4096 && sample_lines > 0
                              ? 1.1 * static_cast<double>(sample_lines) / static_cast<double>(sample_bytes)
                              : 1.0 / 32;
  const double guess = static_cast<double>(file_size) * per_byte + 64;
  records.reserve(static_cast<std::size_t>(std::min(guess, static_cast<double>(file_size) + 1)));
  const std::size_t expected = records.capacity() * 10 / 11 * sizeof(T);
  advise_huge_pages(records.data(), expected);
  faulter.start(records.data(), expected);
}

// Ends faulter's work on records: stops its thread and gives back the pages it faulted in
// past the last record (the list's spare room, where the file had fewer lines than guessed).
template <class T>
void finish_faulting(PageFaulter& faulter, std::vector<T>& records) noexcept {
  if (!faulter.working_on(records.data())) {
    faulter.stop();
    return;
  }
  const std::size_t used = records.size() * sizeof(T), done = faulter.stop();
  if (done > used) release_pages(reinterpret_cast<char*>(records.data()) + used, done - used);
}

}  // namespace heliodex
