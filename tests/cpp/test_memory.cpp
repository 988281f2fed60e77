#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
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
  // Once resident, the range has nothing to clear: no thread.
  std::memset(p, 1, bytes - 100);
  faulter.start(p, bytes - 100);
  EXPECT_FALSE(faulter.working_on(p));
  ::munmap(map, bytes);
}

// Several ranges are all faulted in, each from its page to its last 2 MiB line, and the
// bytes around them are left alone.
TEST(PageFaulter, FaultsInEveryRangeAndNothingBesides) {
  const std::size_t mib = std::size_t{1} << 20, bytes = 64 * mib;
  void* map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  ::madvise(map, bytes, MADV_NOHUGEPAGE);  // so that residence is counted page by page
  char* const p = static_cast<char*>(map);
  const auto line = [&](std::size_t at) {  // the 2 MiB line at or after p + at
    const auto a = reinterpret_cast<std::uintptr_t>(p + at);
    return static_cast<std::size_t>(((a + 2 * mib - 1) & ~(2 * mib - 1)) - reinterpret_cast<std::uintptr_t>(p));
  };
  // A 4 MiB range, a 40 MiB one and one too short to reach a 2 MiB line, apart.
  const std::size_t a = line(0) + 100, b = line(a + 4 * mib + 1) + 4096 + 8, c = line(b + 40 * mib) + 4096;
  ASSERT_LT(c + mib, bytes);
  heliodex::PageFaulter::Range ranges[] = {{p + a, 4 * mib}, {p + b, 40 * mib}, {p + c, mib}};
  heliodex::PageFaulter faulter;
  faulter.start(ranges, 3);
  const auto whole = [&](std::size_t from, std::size_t n) {  // pages to the last 2 MiB line
    return (line(from + n + 1) - 2 * mib - from / 4096 * 4096) / 4096;
  };
  const std::size_t want = whole(a, 4 * mib) + whole(b, 40 * mib);
  for (int i = 0; i < 20000 && resident_pages(p, bytes) < want; ++i) ::usleep(100);
  EXPECT_EQ(faulter.stop(), line(a + 4 * mib + 1) - 2 * mib - a);
  EXPECT_EQ(resident_pages(p + a, 4 * mib), whole(a, 4 * mib));
  EXPECT_EQ(resident_pages(p + b, 40 * mib), whole(b, 40 * mib));
  EXPECT_EQ(resident_pages(p, bytes), want);  // nothing before, between or after
  ::munmap(map, bytes);
}

}  // namespace
