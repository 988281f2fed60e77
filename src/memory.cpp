#include "memory.hpp"

#include <array>
#include <cstdint>
#include <system_error>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace heliodex {
namespace {

#if defined(__linux__)
// Gives the kernel the advice for the whole pages of `page` bytes inside [p, p + bytes).
void advise_whole_pages(const void* p, std::size_t bytes, std::uintptr_t page,
                        int advice) noexcept {
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
  const std::uintptr_t last = (begin + bytes) & ~(page - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, advice);
}
#endif

}  // namespace

void advise_huge_pages(void* p, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  advise_whole_pages(p, bytes, std::uintptr_t{2} << 20, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

void release_pages(void* p, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_DONTNEED)
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page > 0) advise_whole_pages(p, bytes, static_cast<std::uintptr_t>(page), MADV_DONTNEED);
#else
  (void)p;
  (void)bytes;
#endif
}

void PageFaulter::start(const Range* ranges, std::size_t n) noexcept {
#if defined(__linux__)
#ifndef MADV_POPULATE_WRITE
  constexpr int MADV_POPULATE_WRITE = 23;  // Linux 5.14; older kernels refuse it (EINVAL)
#endif
  stop();
  if (n == 0 || n > kMaxRanges) return;
  constexpr std::uintptr_t kStep = std::uintptr_t{2} << 20;
  const auto page = static_cast<std::uintptr_t>(std::max(::sysconf(_SC_PAGESIZE), 1L));
  // Each range from the page that holds its first byte (madvise wants a page boundary) to
  // its last 2 MiB line; every step of it ends on a 2 MiB line too, so that a step never
  // takes half a huge page.
  struct Span {
    std::uintptr_t first, at, last;
  };
  std::array<Span, kMaxRanges> spans{};
  std::size_t total = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto first = reinterpret_cast<std::uintptr_t>(ranges[i].p);
    const std::uintptr_t at = first / page * page, last = (first + ranges[i].bytes) & ~(kStep - 1);
    spans[i] = {first, at, at};  // nothing, short of a 2 MiB line or where already resident
    if (last <= first) continue;
    // Memory that the C library hands out again is resident already, and then its middle
    // page is too: nothing to clear, so no thread to start for it.
    unsigned char resident = 0;
    const std::uintptr_t middle = (at + (last - at) / 2) / page * page;
    if (::mincore(reinterpret_cast<void*>(middle), page, &resident) == 0 && (resident & 1)) continue;
    spans[i].last = last;
    total += ranges[i].bytes;
  }
  if (total < kMinBytes) return;
  base_ = ranges[0].p;
  stopping_.store(false, std::memory_order_relaxed);
  done_.store(0, std::memory_order_relaxed);
  try {
    worker_ = std::thread([this, spans, n, steps = total / kStep + 1]() mutable {
      for (std::size_t k = 1; k <= steps; ++k) {
        for (std::size_t i = 0; i < n; ++i) {
          if (stopping_.load(std::memory_order_relaxed)) return;
          Span& s = spans[i];
          const std::uintptr_t share = s.first + (s.last - s.first) / steps * k;
          const std::uintptr_t end = k == steps ? s.last : std::min(share & ~(kStep - 1), s.last);
          if (end <= s.at) continue;
          // A step that fails may have faulted in part of its pages: it counts as done.
          const bool ok = ::madvise(reinterpret_cast<void*>(s.at), end - s.at, MADV_POPULATE_WRITE) == 0;
          s.at = end;
          if (i == 0) done_.store(end - s.first, std::memory_order_relaxed);
          if (!ok) return;
        }
      }
    });
  } catch (const std::system_error&) {
    base_ = nullptr;  // no thread: the writes fault the pages in themselves
  }
#else
  (void)ranges;
  (void)n;
#endif
}

std::size_t PageFaulter::stop() noexcept {
  if (!worker_.joinable()) return 0;
  stopping_.store(true, std::memory_order_relaxed);
  worker_.join();
  base_ = nullptr;
  return done_.load(std::memory_order_relaxed);
}

}  // namespace heliodex
