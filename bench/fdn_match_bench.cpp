// fdn_match_bench.cpp: XRFMFdnMatch::match for 10, 1 000 and 100 000 patterns,
// and against a linear scan over the same patterns (prefix of components, the
// test a caller without the matcher would write).
//
// Patterns are managed elements "SubNetwork=s,ManagedElement=m"; of the 1024
// FDNs tested per pattern count, half lie below some pattern and half beside
// all of them (an unknown element of an existing subnetwork). Before any
// timing, every answer of the matcher is compared with the linear scan's.
//
//   BM_FdnMatch/<n>           one iteration is one match (information).
//   BM_FdnMatchScaling        passes over the 1024 FDNs with 10 and with
//                             100 000 patterns, alternating; the median thread
//                             CPU time per match of each and their ratio.
//   BM_FdnMatchColdVsLinear   100 000 patterns: each pass over the 1024 FDNs
//                             starts with the caches evicted, the matcher's and
//                             the linear scan's passes alternating; the ratio
//                             of their medians.
#include <benchmark/benchmark.h>

#include <list>
#include <random>
#include <string>
#include <vector>

#include "BenchGoal.h"
#include "fm_common/fmcommon/XRFMFdnMatch.h"

namespace {

using fmbench::cpuNs;
using fmbench::median;

struct Workload {
  std::vector<std::string> patterns;
  std::vector<std::string> fdns;
};

const Workload& workload(size_t count) {
  // A list: a workload stays where it is while others are added.
  static std::list<std::pair<size_t, Workload>> cache;
  for (const auto& kv : cache)
    if (kv.first == count) return kv.second;
  Workload w;
  std::mt19937 rng(static_cast<unsigned>(count));
  const size_t perSubnet = 100;
  for (size_t i = 0; i < count; ++i)
    w.patterns.push_back("SubNetwork=" + std::to_string(i / perSubnet) + ",ManagedElement=" +
                         std::to_string(i % perSubnet));
  for (size_t q = 0; q < 1024; ++q) {
    const std::string& p = w.patterns[rng() % count];
    if (q % 2 == 0)
      w.fdns.push_back(p + ",Equipment=1,Rack=" + std::to_string(rng() % 8) + ",Board=" + std::to_string(rng() % 16));
    else  // a managed element that is not a pattern, in an existing subnetwork
      w.fdns.push_back(p.substr(0, p.find(',')) + ",ManagedElement=" + std::to_string(perSubnet + rng() % 1000) +
                       ",Equipment=1");
  }
  cache.emplace_back(count, std::move(w));
  return cache.back().second;
}

bool linearMatch(const std::vector<std::string>& patterns, const std::string& fdn) {
  for (const std::string& p : patterns) {
    if (fdn.size() >= p.size() && fdn.compare(0, p.size(), p) == 0 &&
        (fdn.size() == p.size() || fdn[p.size()] == ','))
      return true;
  }
  return false;
}

Kyrofm::XRFMFdnMatch matcherOf(const Workload& w) {
  Kyrofm::XRFMFdnMatch m(',');
  for (const auto& p : w.patterns) m.addPattern(p.c_str());
  return m;
}

// Compares the matcher with the linear scan on every FDN of the workload.
bool agree(const Kyrofm::XRFMFdnMatch& m, const Workload& w) {
  for (const auto& f : w.fdns)
    if (m.match(f.c_str(), false) != linearMatch(w.patterns, f)) return false;
  return true;
}

void BM_FdnMatch(benchmark::State& state) {
  const Workload& w = workload(static_cast<size_t>(state.range(0)));
  const Kyrofm::XRFMFdnMatch matcher = matcherOf(w);
  if (!agree(matcher, w)) {
    state.SkipWithError("matcher and linear scan disagree");
    return;
  }
  size_t i = 0, hits = 0;
  for (auto _ : state) {
    bool m = matcher.match(w.fdns[i].c_str(), false);
    hits += m;
    benchmark::DoNotOptimize(m);
    i = (i + 1) & 1023;
  }
  state.counters["hit_ratio"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FdnMatch)->Arg(10)->Arg(1000)->Arg(100000);

// Thread CPU time of one pass of the matcher over the workload's FDNs.
double matcherPass(const Kyrofm::XRFMFdnMatch& m, const Workload& w, size_t& hits) {
  double t0 = cpuNs();
  for (const auto& f : w.fdns) hits += m.match(f.c_str(), false);
  return cpuNs() - t0;
}

void BM_FdnMatchScaling(benchmark::State& state) {
  const Workload& small = workload(10);
  const Workload& large = workload(100000);
  const Kyrofm::XRFMFdnMatch m10 = matcherOf(small), mLarge = matcherOf(large);
  if (!agree(m10, small) || !agree(mLarge, large)) {
    state.SkipWithError("matcher and linear scan disagree");
    return;
  }
  std::vector<double> t10, tLarge;
  size_t hits = 0;
  for (auto _ : state) {
    for (int rep = 0; rep < 101; ++rep) {
      if (rep % 2) {
        t10.push_back(matcherPass(m10, small, hits));
        tLarge.push_back(matcherPass(mLarge, large, hits));
      } else {
        tLarge.push_back(matcherPass(mLarge, large, hits));
        t10.push_back(matcherPass(m10, small, hits));
      }
    }
  }
  benchmark::DoNotOptimize(hits);
  const double ns10 = median(t10) / 1024, nsLarge = median(tLarge) / 1024;
  const double ratio = ns10 > 0 ? nsLarge / ns10 : 0;
  state.counters["ns_per_match_10"] = ns10;
  state.counters["ns_per_match_100000"] = nsLarge;
  state.counters["ratio"] = ratio;
  fmbench::goal("XRFMFdnMatch::match, 100 000 patterns against 10 (" + fmbench::fixed(ns10, 1) + " ns -> " +
                     fmbench::fixed(nsLarge, 1) + " ns)",
                 "<= 2x", fmbench::fixed(ratio, 2, "x"), ratio <= 2 ? "met" : "missed");
}
BENCHMARK(BM_FdnMatchScaling)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_FdnMatchColdVsLinear(benchmark::State& state) {
  const Workload& w = workload(100000);
  const Kyrofm::XRFMFdnMatch m = matcherOf(w);
  if (!agree(m, w)) {
    state.SkipWithError("matcher and linear scan disagree");
    return;
  }
  std::vector<double> tm, tl;
  size_t hits = 0;
  auto linearPass = [&]() {
    double t0 = cpuNs();
    for (const auto& f : w.fdns) hits += linearMatch(w.patterns, f);
    return cpuNs() - t0;
  };
  for (auto _ : state) {
    for (int rep = 0; rep < 9; ++rep) {
      for (int side = 0; side < 2; ++side) {
        fmbench::evictCaches();
        if ((side + rep) % 2) tm.push_back(matcherPass(m, w, hits));
        else tl.push_back(linearPass());
      }
    }
  }
  benchmark::DoNotOptimize(hits);
  const double nsM = median(tm) / 1024, nsL = median(tl) / 1024;
  const double ratio = nsM > 0 ? nsL / nsM : 0;
  state.counters["matcher_ns_per_match"] = nsM;
  state.counters["linear_ns_per_match"] = nsL;
  state.counters["ratio_linear_to_matcher"] = ratio;
  fmbench::goal("XRFMFdnMatch::match against a linear scan, 100 000 patterns, cold cache (" +
                     fmbench::fixed(nsL / 1000, 1) + " us -> " + fmbench::fixed(nsM, 1) + " ns)",
                 ">= 1000x", fmbench::fixed(ratio, 0, "x"), ratio >= 1000 ? "met" : "missed");
}
BENCHMARK(BM_FdnMatchColdVsLinear)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
