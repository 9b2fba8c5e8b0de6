// BenchGoal.h: what the benchmarks share: GOAL lines printed when the program
// ends (scripts/bench gathers them), thread CPU time, medians and a cache
// eviction.
#ifndef FM_BENCH_BENCHGOAL_H
#define FM_BENCH_BENCHGOAL_H

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace fmbench {

// (what, line) in the order first reported; a figure reported again replaces
// its line (the last run of a benchmark counts).
inline std::vector<std::pair<std::string, std::string>>& goalLines() {
  static std::vector<std::pair<std::string, std::string>> lines;
  return lines;
}

inline std::mutex& goalMutex() {
  static std::mutex m;
  return m;
}

inline void printGoals() {
  std::lock_guard<std::mutex> guard(goalMutex());
  for (const auto& l : goalLines()) std::printf("%s\n", l.second.c_str());
  std::fflush(stdout);
}

// Records "GOAL | what | goal | measured | verdict"; printed at exit.
inline void goal(const std::string& what, const std::string& target, const std::string& measured,
                 const std::string& verdict) {
  std::lock_guard<std::mutex> guard(goalMutex());
  auto& lines = goalLines();
  if (lines.empty()) std::atexit(printGoals);  // runs before the vector is destroyed
  const std::string line = "GOAL | " + what + " | " + target + " | " + measured + " | " + verdict;
  for (auto& l : lines) {
    if (l.first == what) {
      l.second = line;
      return;
    }
  }
  lines.emplace_back(what, line);
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

}  // namespace fmbench

#endif
