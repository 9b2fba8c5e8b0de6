// fdn_manager_bench.cpp: the FDN manager on SQLite, each figure against a
// baseline measured in the same run.
//
//   BM_FdnManagerInit1M     init over 1 000 000 rows of tbl_fdn_mgr: time, and
//                           the peak resident memory it added (VmHWM after the
//                           high-water mark was reset, minus VmRSS before).
//   BM_GetIntFdnKnownVsHashMap  GetIntFdn of known FDNs (manager loaded with the
//                           million rows) against std::unordered_map::find of the
//                           same strings.
//   BM_GetFdnLikeSet10k     GetFdnLikeSet of a subtree of 10 000 FDNs.
//   BM_AddNewFdnsVsSociBatch  GetIntFdnList of 100 000 new FDNs (ids given,
//                           written in batches of 1000) against a plain SOCI
//                           batched insert of the same rows, 1000 per transaction.
//
// The database files live in a scratch KYRO_ROOT under /tmp.
#include <benchmark/benchmark.h>

#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <set>
#include <sys/wait.h>
#include <unistd.h>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/KyroTrace.h"

namespace {

using Clock = std::chrono::steady_clock;
using Kyrofm::CFdnManager;
using Kyrofmdb::CDBMaintain;

constexpr long kRows = 1000000;
constexpr long kNew = 100000;

// "SUB=<s>,NE=<n>,P=<p>": 100 subtrees of 10 000 FDNs each.
std::string fdnOf(long i) {
  return "SUB=" + std::to_string(i / 10000) + ",NE=" + std::to_string((i / 100) % 100) + ",P=" +
         std::to_string(i % 100);
}

const std::string& root() {
  static const std::string dir = [] {
    std::string d = "/tmp/fm_fdnbench_" + std::to_string(::getpid());
    std::filesystem::create_directories(d + "/var/fm");
    ::setenv("KYRO_ROOT", d.c_str(), 1);
    Kyrofm::KyroTrace::setMinLevel(5);
    std::atexit([] {
      CFdnManager::Destroy();
      CDBMaintain::instance()->setDBUrl("");
      std::error_code ec;
      std::filesystem::remove_all("/tmp/fm_fdnbench_" + std::to_string(::getpid()), ec);
    });
    return d;
  }();
  return dir;
}

std::string dbPath(const char* name) { return root() + "/" + name + ".db"; }

void useDb(const char* name) {
  CFdnManager::Destroy();
  CDBMaintain::instance()->setDBUrl("sqlite3://db=" + dbPath(name));
  CDBMaintain::instance()->Init(5);  // creates the tables
}

// Inserts rows [first, first + n) through SOCI, `perTx` rows per transaction.
void sociInsert(const std::string& path, const std::vector<std::string>& names, long firstId, size_t perTx) {
  soci::session sql(soci::sqlite3, "db=" + path + " timeout=30");
  // The same durability as the pooled connections of the database layer.
  sql << "PRAGMA journal_mode=WAL";
  sql << "PRAGMA synchronous=NORMAL";
  for (size_t k = 0; k < names.size(); k += perTx) {
    size_t end = std::min(names.size(), k + perTx);
    std::vector<long long> ids;
    std::vector<std::string> chunk(names.begin() + static_cast<long>(k), names.begin() + static_cast<long>(end));
    for (size_t i = k; i < end; ++i) ids.push_back(firstId + static_cast<long long>(i));
    soci::transaction tr(sql);
    sql << "insert into tbl_fdn_mgr(fdnid, fdnname) values(:id, :name)", soci::use(ids), soci::use(chunk);
    tr.commit();
  }
}

const std::vector<std::string>& millionNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    v.reserve(kRows);
    for (long i = 0; i < kRows; ++i) v.push_back(fdnOf(i));
    return v;
  }();
  return names;
}

// The million rows are written by a child process, so that the heap of this
// process holds nothing that a later init could reuse unseen.
void ensureMillionDb() {
  static bool done = false;
  useDb("million");
  if (done) return;
  Kyrofmdb::CFMDBTools::ExecuteSQL("delete from tbl_fdn_mgr");
  CDBMaintain::instance()->Reset();
  pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<std::string> names;
    names.reserve(kRows);
    for (long i = 0; i < kRows; ++i) names.push_back(fdnOf(i));
    sociInsert(dbPath("million"), names, 1, static_cast<size_t>(kRows));
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  CDBMaintain::instance()->Init(5);
  done = true;
}

long statusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size());
  }
  return -1;
}

void BM_FdnManagerInit1M(benchmark::State& state) {
  ensureMillionDb();
  double ms = 0, peakMb = 0, rssMb = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CFdnManager::Destroy();
    std::ofstream("/proc/self/clear_refs") << "5";  // resets VmHWM to VmRSS
    long base = statusKb("VmRSS:");
    state.ResumeTiming();
    auto t0 = Clock::now();
    CFdnManager* m = CFdnManager::instance();
    auto t1 = Clock::now();
    state.PauseTiming();
    if (m->getCurMaxFdnId() != kRows + 1) state.SkipWithError("init did not load every row");
    ms += std::chrono::duration<double, std::milli>(t1 - t0).count();
    peakMb += static_cast<double>(statusKb("VmHWM:") - base) / 1024.0;
    rssMb += static_cast<double>(statusKb("VmRSS:") - base) / 1024.0;
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["init_ms"] = ms / n;
  state.counters["peak_rss_added_MB"] = peakMb / n;
  state.counters["rss_added_after_MB"] = rssMb / n;
  state.counters["rows"] = static_cast<double>(kRows);
}
// One iteration: a second init in the same process reuses the heap the first
// one gave back, which would hide the memory it needs.
BENCHMARK(BM_FdnManagerInit1M)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_GetIntFdnKnownVsHashMap(benchmark::State& state) {
  ensureMillionDb();
  CFdnManager* m = CFdnManager::instance();
  const auto& names = millionNames();
  std::unordered_map<std::string, long> hash;
  hash.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) hash.emplace(names[i], static_cast<long>(i) + 1);
  std::vector<std::string> probe;
  std::mt19937 rng(7);
  for (int i = 0; i < 4096; ++i) probe.push_back(names[rng() % names.size()]);
  Clock::duration mgrTime{}, mapTime{};
  for (auto _ : state) {
    long sum = 0;
    auto t0 = Clock::now();
    for (const auto& f : probe) sum += m->GetIntFdn(f);
    auto t1 = Clock::now();
    for (const auto& f : probe) sum += hash.find(f)->second;
    auto t2 = Clock::now();
    mgrTime += t1 - t0;
    mapTime += t2 - t1;
    benchmark::DoNotOptimize(sum);
  }
  const double count = static_cast<double>(state.iterations()) * static_cast<double>(probe.size());
  const double mgrNs = std::chrono::duration<double, std::nano>(mgrTime).count() / count;
  const double mapNs = std::chrono::duration<double, std::nano>(mapTime).count() / count;
  state.counters["mgr_ns_per_lookup"] = mgrNs;
  state.counters["hashmap_ns_per_lookup"] = mapNs;
  state.counters["ratio_mgr_to_hashmap"] = mapNs > 0 ? mgrNs / mapNs : 0;
}
BENCHMARK(BM_GetIntFdnKnownVsHashMap);

void BM_GetFdnLikeSet10k(benchmark::State& state) {
  ensureMillionDb();
  CFdnManager* m = CFdnManager::instance();
  size_t got = 0;
  for (auto _ : state) {
    std::set<long> ids;
    m->GetFdnLikeSet({"SUB=42"}, ids);
    got = ids.size();
    benchmark::DoNotOptimize(ids);
  }
  if (got != 10000) state.SkipWithError("subtree is not 10000 FDNs");
  state.counters["ids"] = static_cast<double>(got);
  state.counters["ns_per_id"] =
      benchmark::Counter(static_cast<double>(got) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GetFdnLikeSet10k)->Unit(benchmark::kMicrosecond);

void BM_AddNewFdnsVsSociBatch(benchmark::State& state) {
  std::vector<std::string> names;
  for (long i = 0; i < kNew; ++i) names.push_back("NEW=" + std::to_string(i % 1000) + ",P=" + std::to_string(i));
  std::list<std::string> asList(names.begin(), names.end());
  useDb("adds");
  double mgrMs = 0, sociMs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CFdnManager::Destroy();
    Kyrofmdb::CFMDBTools::ExecuteSQL("delete from tbl_fdn_mgr");
    CFdnManager* m = CFdnManager::instance();
    std::list<long> ids;
    state.ResumeTiming();
    auto t0 = Clock::now();
    long rc = m->GetIntFdnList(asList, ids);
    auto t1 = Clock::now();
    state.PauseTiming();
    if (rc != Kyrofm::FM_SUCCESS || ids.size() != names.size()) state.SkipWithError("GetIntFdnList failed");
    CFdnManager::Destroy();
    Kyrofmdb::CFMDBTools::ExecuteSQL("delete from tbl_fdn_mgr");
    state.ResumeTiming();
    auto t2 = Clock::now();
    sociInsert(dbPath("adds"), names, 1, 1000);
    auto t3 = Clock::now();
    mgrMs += std::chrono::duration<double, std::milli>(t1 - t0).count();
    sociMs += std::chrono::duration<double, std::milli>(t3 - t2).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["mgr_ms"] = mgrMs / n;
  state.counters["soci_batch_ms"] = sociMs / n;
  state.counters["ratio_mgr_to_soci"] = sociMs > 0 ? mgrMs / sociMs : 0;
}
BENCHMARK(BM_AddNewFdnsVsSociBatch)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
