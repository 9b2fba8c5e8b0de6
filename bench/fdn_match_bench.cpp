// fdn_match_bench.cpp: XRFMFdnMatch::match against a linear scan over the same
// patterns (prefix of components, the test a caller without the matcher would
// write), for 10, 1 000 and 100 000 patterns. Half of the FDNs tested lie below
// some pattern, half lie beside all of them. In BM_FdnMatchTree and
// BM_FdnMatchLinearScan one iteration is one match; BM_FdnMatchTreeVsLinear
// runs both over the same 1024 FDNs, alternating within each iteration, checks
// that they agree and reports the thread CPU time per match of each and the
// ratio, so that the machine's load does not skew the comparison.
#include <benchmark/benchmark.h>

#include <time.h>

#include <random>
#include <string>
#include <vector>

#include "fm_common/fmcommon/XRFMFdnMatch.h"

namespace {

struct Workload {
  std::vector<std::string> patterns;
  std::vector<std::string> fdns;
};

// Patterns are managed elements of a network: SubNetwork=s,ManagedElement=m.
const Workload& workload(size_t count) {
  static std::vector<std::pair<size_t, Workload>> cache;
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

void BM_FdnMatchTree(benchmark::State& state) {
  const Workload& w = workload(static_cast<size_t>(state.range(0)));
  Kyrofm::XRFMFdnMatch matcher(',');
  for (const auto& p : w.patterns) matcher.addPattern(p.c_str());
  size_t i = 0, hits = 0;
  for (auto _ : state) {
    bool m = matcher.match(w.fdns[i].c_str(), false);
    hits += m;
    benchmark::DoNotOptimize(m);
    i = (i + 1) & 1023;
  }
  state.counters["hit_ratio"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
}

void BM_FdnMatchLinearScan(benchmark::State& state) {
  const Workload& w = workload(static_cast<size_t>(state.range(0)));
  size_t i = 0, hits = 0;
  for (auto _ : state) {
    bool m = linearMatch(w.patterns, w.fdns[i]);
    hits += m;
    benchmark::DoNotOptimize(m);
    i = (i + 1) & 1023;
  }
  state.counters["hit_ratio"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
}

double cpuNs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

void BM_FdnMatchTreeVsLinear(benchmark::State& state) {
  const Workload& w = workload(static_cast<size_t>(state.range(0)));
  Kyrofm::XRFMFdnMatch matcher(',');
  for (const auto& p : w.patterns) matcher.addPattern(p.c_str());
  for (const auto& f : w.fdns) {
    if (matcher.match(f.c_str(), false) != linearMatch(w.patterns, f)) {
      state.SkipWithError("matcher and linear scan disagree");
      return;
    }
  }
  double treeNs = 0, linearNs = 0;
  for (auto _ : state) {
    size_t n = 0;
    double t0 = cpuNs();
    for (const auto& f : w.fdns) n += matcher.match(f.c_str(), false);
    double t1 = cpuNs();
    for (const auto& f : w.fdns) n += linearMatch(w.patterns, f);
    double t2 = cpuNs();
    treeNs += t1 - t0;
    linearNs += t2 - t1;
    benchmark::DoNotOptimize(n);
  }
  const double count = static_cast<double>(state.iterations()) * static_cast<double>(w.fdns.size());
  state.counters["tree_ns_per_match"] = treeNs / count;
  state.counters["linear_ns_per_match"] = linearNs / count;
  state.counters["ratio_linear_to_tree"] = treeNs > 0 ? linearNs / treeNs : 0;
}

BENCHMARK(BM_FdnMatchTree)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_FdnMatchLinearScan)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_FdnMatchTreeVsLinear)->Arg(10)->Arg(1000)->Arg(100000);

}  // namespace
