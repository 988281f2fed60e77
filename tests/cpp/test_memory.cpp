#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "memory.hpp"

namespace {

// How many of the pages of [p, p + bytes) are resident.
std::size_t resident_pages(const void* p, std::size_t bytes) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto first = reinterpret_cast<std::uintptr_t>(p) / page * page;
  const auto last = (reinterpret_cast<std::uintptr_t>(p) + bytes + page - 1) / page * page;
  std::vector<unsigned char> in((last - first) / page);
  if (::mincore(reinterpret_cast<void*>(first), last - first, in.data()) != 0) return 0;
  std::size_t n = 0;
  for (const unsigned char b : in) n += b & 1;
  return n;
}

TEST(PageFaulter, FaultsInFromTheFrontUntilStoppedAndOnlyLargeRanges) {
  const std::size_t bytes = std::size_t{48} << 20;
  void* map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  char* p = static_cast<char*>(map) + 100;  // not on a page boundary, as records never are
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  {
    heliodex::PageFaulter small;
    small.start(p, heliodex::PageFaulter::kMinBytes - 1);
    EXPECT_FALSE(small.working_on(p));
    EXPECT_EQ(small.stop(), 0u);
  }
  heliodex::PageFaulter faulter;
  faulter.start(p, bytes - 100);
  EXPECT_TRUE(faulter.working_on(p));
  EXPECT_FALSE(faulter.working_on(p + 1));
  while (resident_pages(p, bytes - 100) < (bytes >> 21)) ::usleep(100);
  const std::size_t done = faulter.stop();
  EXPECT_FALSE(faulter.working_on(p));
  EXPECT_EQ(faulter.stop(), 0u);  // stopping twice is harmless
  // What it reports as done is resident, and it never goes past the range's last 2 MiB line.
  ASSERT_GT(done, 0u);
  EXPECT_LE(done, bytes - 100);
  EXPECT_EQ(resident_pages(p, done), (done + 100 + page - 1) / page);
  for (std::size_t i = 0; i < done; i += page) ASSERT_EQ(p[i], 0) << i;  // and still zero
  ::munmap(map, bytes);
}

}  // namespace
