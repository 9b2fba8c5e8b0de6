// FdnBenchGoal.h: helpers of the FDN benchmarks: GOAL lines printed when the
// program ends, thread CPU time, medians and a cache eviction.
#ifndef FM_BENCH_FDNBENCHGOAL_H
#define FM_BENCH_FDNBENCHGOAL_H

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fdnbench {

inline std::vector<std::string>& goalLines() {
  static std::vector<std::string> lines;
  return lines;
}

inline void printGoals() {
  for (const auto& l : goalLines()) std::printf("%s\n", l.c_str());
  std::fflush(stdout);
}

// Records "GOAL | what | goal | measured | verdict"; printed at exit.
inline void goal(const std::string& what, const std::string& target, const std::string& measured,
                 const std::string& verdict) {
  static bool registered = false;
  std::vector<std::string>& lines = goalLines();
  if (!registered) {
    registered = true;
    std::atexit(printGoals);  // runs before the vector is destroyed
  }
  lines.push_back("GOAL | " + what + " | " + target + " | " + measured + " | " + verdict);
}

inline std::string fixed(double v, int decimals, const char* suffix = "") {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f%s", decimals, v, suffix);
  return buf;
}

inline double cpuNs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

inline double wallNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Writes every line of a buffer larger than the caches, so that what a test
// reads next comes from memory.
inline void evictCaches() {
  static std::vector<char> buf(256u << 20);
  for (size_t i = 0; i < buf.size(); i += 64) buf[i] = static_cast<char>(buf[i] + 1);
  asm volatile("" : : "r"(buf.data()) : "memory");
}

}  // namespace fdnbench

#endif
