#include "memory.hpp"

#include <cstdint>

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

void release_pages(void* p, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_DONTNEED)
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page > 0) advise_whole_pages(p, bytes, static_cast<std::uintptr_t>(page), MADV_DONTNEED);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace heliodex
