#include "memory.hpp"

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

void advise_huge_pages(const void* p, std::size_t bytes) noexcept {
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

void PageFaulter::start(const void* p, std::size_t bytes) noexcept {
#if defined(__linux__)
#ifndef MADV_POPULATE_WRITE
  constexpr int MADV_POPULATE_WRITE = 23;  // Linux 5.14; older kernels refuse it (EINVAL)
#endif
  stop();
  if (bytes < kMinBytes) return;
  constexpr std::uintptr_t kStep = std::uintptr_t{2} << 20;
  const auto first = reinterpret_cast<std::uintptr_t>(p);
  // Steps end on 2 MiB lines, so that a step never takes half a huge page.
  const std::uintptr_t last = (first + bytes) & ~(kStep - 1);
  if (last <= first) return;
  base_ = p;
  stopping_.store(false, std::memory_order_relaxed);
  done_.store(0, std::memory_order_relaxed);
  try {
    const auto page = static_cast<std::uintptr_t>(std::max(::sysconf(_SC_PAGESIZE), 1L));
    worker_ = std::thread([this, first, last, page] {
      // madvise wants a page boundary: the first step starts at the page that holds p.
      std::uintptr_t at = first / page * page;
      while (at < last && !stopping_.load(std::memory_order_relaxed)) {
        const std::uintptr_t next = std::min((at + kStep) & ~(kStep - 1), last);
        // A step that fails may have faulted in part of its pages: it counts as done.
        const bool ok = ::madvise(reinterpret_cast<void*>(at), next - at, MADV_POPULATE_WRITE) == 0;
        at = next;
        done_.store(at - first, std::memory_order_relaxed);
        if (!ok) break;
      }
    });
  } catch (const std::system_error&) {
    base_ = nullptr;  // no thread: the writes fault the pages in themselves
  }
#else
  (void)p;
  (void)bytes;
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
