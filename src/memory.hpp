#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace heliodex {

// Gives the whole pages inside [p, p + bytes) back to the kernel: memory that an allocation
// still owns but no longer uses stops counting as resident, and reads as zeros when it is
// next touched. Only where the kernel offers it; elsewhere nothing changes.
void release_pages(void* p, std::size_t bytes) noexcept;

// Asks the CPU for the cache lines of the element that list will take sixteen appends from
// now, to be written. A loaded list is larger than the cache and written once from end to
// end; a store to a line that is not in the cache waits for it to come from RAM, one line
// after another, while a prefetch lets those reads overlap with the parse (a load after
// other work has emptied the cache took a sixth less time). Past the allocation, a prefetch
// only warms a line: it never faults.
template <class T>
[[gnu::always_inline]] inline void prefetch_for_append(const std::vector<T>& list) noexcept {
  constexpr std::size_t kAhead = 16, kLine = 64;
  const std::uintptr_t at =
      reinterpret_cast<std::uintptr_t>(list.data() + list.size()) + kAhead * sizeof(T);
#if defined(__GNUC__)
  // Lines of one element's size from its start: over the appends they cover every line.
  for (std::size_t line = 0; line < (sizeof(T) + kLine - 1) / kLine; ++line)
    __builtin_prefetch(reinterpret_cast<const void*>(at + line * kLine), 1);
#else
  (void)at;
#endif
}

// Reserves room in records for a file of file_size bytes whose first sample_bytes hold
// sample_lines lines, with a tenth to spare (the last lines of a published CelesTrak file,
// its predictions, are the shortest): pages that no record reaches are never touched, so
// cost no memory. Nothing when the size is unknown (0).
//
// No huge pages are asked for, here or for any other buffer. Where the kernel hands them
// out, a virtual machine whose host takes back the guest's free memory (free page reporting)
// gives out 2 MiB blocks that the host must then fault in anew: a load of 10^6 rows in a new
// process took 0.9 to 1.0 s that way against 0.16 to 0.23 s in 4 KiB pages, and four in ten of
// the first loads of SW-All.csv took 12 to 21 ms against at most 6 ms.
template <class T>
void reserve_for_file(std::vector<T>& records, std::uint64_t file_size, std::size_t sample_bytes,
                      std::size_t sample_lines) {
  if (file_size == 0) return;
  const double per_byte = sample_bytes >= 4096 && sample_lines > 0
                              ? 1.1 * static_cast<double>(sample_lines) / static_cast<double>(sample_bytes)
                              : 1.0 / 32;
  const double guess = static_cast<double>(file_size) * per_byte + 64;
  records.reserve(static_cast<std::size_t>(std::min(guess, static_cast<double>(file_size) + 1)));
}

}  // namespace heliodex
