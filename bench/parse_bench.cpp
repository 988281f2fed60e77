// Times the core parsers against reading the same file whole and counting its lines.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "parsers/celestrak.hpp"
#include "parsers/set.hpp"
#include "store/heliodex_store.hpp"

namespace {

double median_seconds(int repeats, const std::function<void()>& f) {
  std::vector<double> t;
  for (int i = 0; i < repeats; ++i) {
    const auto a = std::chrono::steady_clock::now();
    f();
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::size_t read_and_count(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::fseek(f, 0, SEEK_END);
  const long n = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  std::string buf(static_cast<std::size_t>(n), '\0');
  const std::size_t got = std::fread(buf.data(), 1, buf.size(), f);
  std::fclose(f);
  std::size_t lines = 0;
  const char* p = buf.data();
  const char* end = p + got;
  while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))))) {
    ++lines;
    ++p;
  }
  return lines;
}

std::string generated_csv(std::size_t rows) {
  std::string s =
      "DATE,BSRN,ND,KP1,KP2,KP3,KP4,KP5,KP6,KP7,KP8,KP_SUM,AP1,AP2,AP3,AP4,AP5,AP6,AP7,AP8,"
      "AP_AVG,CP,C9,ISN,F10.7_OBS,F10.7_ADJ,F10.7_DATA_TYPE,F10.7_OBS_CENTER81,F10.7_OBS_LAST81,"
      "F10.7_ADJ_CENTER81,F10.7_ADJ_LAST81\n";
  char line[256];
  for (std::size_t i = 0; i < rows; ++i) {
    const int year = 1000 + static_cast<int>(i / 336), month = 1 + static_cast<int>(i / 28 % 12),
              day = 1 + static_cast<int>(i % 28);
    std::snprintf(line, sizeof line,
                  "%04d-%02d-%02d,1700,19,43,40,30,20,37,23,43,37,273,32,27,15,7,22,9,32,22,21,"
                  "1.1,5,334,%d.%d,269.8,OBS,266.6,230.9,266.8,235.5\n",
                  year, month, day, 60 + static_cast<int>(i % 200), static_cast<int>(i % 10));
    s += line;
  }
  return s;
}

}  // namespace

int main() {
  const std::string dir = HELIODEX_SHARED_DATA;
  const std::string sw = dir + "/SW-All.csv";
  const std::string text = read_file(sw);
  if (text.empty()) {
    std::printf("shared data not found at %s; real-file timings skipped\n", dir.c_str());
  } else {
    // As the module loads a file: read() a block at a time into the loader.
    const double parse = median_seconds(51, [&] {
      const int fd = ::open(sw.c_str(), O_RDONLY);
      struct stat st {};
      if (fd < 0 || ::fstat(fd, &st) != 0) std::abort();
      heliodex::celestrak::Loader loader(static_cast<std::uint64_t>(st.st_size));
      for (;;) {
        const std::span<char> room = loader.space();
        const ssize_t n = ::read(fd, room.data(), room.size());
        if (n < 0) std::abort();
        if (n == 0) break;
        loader.commit(static_cast<std::size_t>(n));
      }
      ::close(fd);
      if (!loader.finish()) std::abort();
    });
    const double count = median_seconds(51, [&] {
      if (read_and_count(sw) == 0) std::abort();
    });
    std::printf("SW-All.csv: read+parse %.3f ms, read+count lines %.3f ms, ratio %.2f\n",
                parse * 1e3, count * 1e3, parse / count);
    using heliodex::celestrak::detail::Reader;
    for (const Reader reader : {Reader::wide, Reader::half_wide, Reader::portable}) {
      if (!heliodex::celestrak::detail::can_run(reader)) continue;
      const double t = median_seconds(101, [&] {
        if (!heliodex::celestrak::detail::parse_lines(text, reader)) std::abort();
      });
      std::printf("SW-All.csv: parse of the bytes in memory, %s line reader %.3f ms\n",
                  reader == Reader::wide        ? "wide"
                  : reader == Reader::half_wide ? "half-wide"
                                                : "portable",
                  t * 1e3);
    }
    for (const char* name : {"SOLFSMY.TXT", "DTCFILE.TXT"}) {
      const std::string bytes = read_file(dir + "/" + name);
      const bool sol = name[0] == 'S';
      const double t = median_seconds(51, [&] {
        auto r = sol ? heliodex::set::parse_solfsmy(bytes) : heliodex::set::parse_dtcfile(bytes);
        if (!r) std::abort();
      });
      std::printf("%s: parse %.3f ms\n", name, t * 1e3);
    }
  }
  for (std::size_t rows : {10'000u, 100'000u, 1'000'000u}) {
    const std::string csv = generated_csv(rows);
    const double t = median_seconds(rows >= 1'000'000 ? 5 : 21, [&] {
      auto r = heliodex::celestrak::parse(csv);
      if (!r || r->size() != rows) std::abort();
      auto store = heliodex::HeliodexStore::make(std::move(*r));
    });
    std::printf("generated %7zu rows: parse+store %.1f ns/row\n", rows, t / rows * 1e9);
  }
}
