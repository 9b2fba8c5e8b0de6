// filter_bench.cpp: the cost of evaluating an alarm filter tree in memory,
// against a hand-written predicate that tests the same fields on the same
// records.
//
// The filter is "(level in {1, 2} and FDN contains no 'Lab') or FDN contains
// 'CoreRouter'", as a tree of And/Or/Not over a level leaf and two FDN-text
// leaves. BM_FilterTreeVsPredicate times both over the same 4096 generated
// records in one run and reports the ratio (tree time / predicate time).
// BM_FilterTreeVsSql runs the same filter as SQL on the embedded SQLite
// database: the records are written to tbl_cur_alm once and the tree's WHERE
// text selects them; it reports the time per record of both ways.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"

namespace {

using Kyrofm::AlarmExp;
using Kyrofm::AlmRecord_t;

class LevelLeaf : public Kyrofm::BasicExp {
 public:
  LevelLeaf(char op, std::set<long> v) : BasicExp("level", op), m_values(std::move(v)) {}
  bool evaluate(const AlmRecord_t& r) const override { return evaluateInt(r.getLevel(), m_values); }
  std::string sqlWhereCond(const std::string& t) const override { return createIntSqlCond(t, "AlmLevel", m_values); }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_values.size()); }
  AlarmExp* copy() const override { return new LevelLeaf(*this); }
  bool setStringContent(const std::string&) override { return false; }
  bool setFilter(const std::list<std::string>&, bool) override { return false; }

 private:
  std::set<long> m_values;
};

class FdnTextLeaf : public Kyrofm::BasicExp {
 public:
  FdnTextLeaf(const std::string& name, char op, std::set<std::string> v) : BasicExp(name, op), m_values(std::move(v)) {
    setPriority(1);
  }
  bool evaluate(const AlmRecord_t& r) const override { return evaluateStr(r.getMoDn(), m_values); }
  std::string sqlWhereCond(const std::string& t) const override { return createStrSqlCond(t, "MoDn", m_values); }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_values.size()); }
  AlarmExp* copy() const override { return new FdnTextLeaf(*this); }
  bool setStringContent(const std::string&) override { return false; }
  bool setFilter(const std::list<std::string>&, bool) override { return false; }

 private:
  std::set<std::string> m_values;
};

std::unique_ptr<AlarmExp> makeTree() {
  return std::make_unique<Kyrofm::OrAlarmExp>(
      std::make_unique<Kyrofm::AndAlarmExp>(
          std::make_unique<LevelLeaf>(1, std::set<long>{1, 2}),
          std::make_unique<Kyrofm::NotAlarmExp>(
              std::make_unique<FdnTextLeaf>("lab", 7, std::set<std::string>{"Lab"}))),
      std::make_unique<FdnTextLeaf>("core", 7, std::set<std::string>{"CoreRouter"}));
}

// The same filter written by hand, reading the fields through the same getters.
bool handPredicate(const AlmRecord_t& r) {
  const long level = r.getLevel();
  if (level == 1 || level == 2) {
    if (r.getMoDn().find("Lab") == std::string::npos) return true;
  }
  return r.getMoDn().find("CoreRouter") != std::string::npos;
}

const std::vector<AlmRecord_t>& records() {
  static const std::vector<AlmRecord_t> recs = [] {
    std::mt19937 gen(42);
    std::uniform_int_distribution<int> level(1, 6);
    const std::vector<std::string> nes = {"Paris", "Lab7", "CoreRouter", "Lyon", "Berlin", "LabEast", "Oslo"};
    std::uniform_int_distribution<size_t> ne(0, nes.size() - 1);
    std::uniform_int_distribution<int> board(1, 16);
    std::vector<AlmRecord_t> v;
    for (int i = 0; i < 4096; ++i) {
      AlmRecord_t r;
      r.setLogId(i + 1);
      r.setSeverity(static_cast<char>(level(gen)));
      r.setMoDn("NE=" + nes[ne(gen)] + ",Shelf=1,Board=" + std::to_string(board(gen)));
      v.push_back(r);
    }
    return v;
  }();
  return recs;
}

void BM_HandPredicate(benchmark::State& state) {
  const auto& recs = records();
  for (auto _ : state) {
    long n = 0;
    for (const auto& r : recs) n += handPredicate(r) ? 1 : 0;
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(recs.size()));
}
BENCHMARK(BM_HandPredicate);

void BM_FilterTree(benchmark::State& state) {
  const auto& recs = records();
  auto tree = makeTree();
  for (auto _ : state) {
    long n = 0;
    for (const auto& r : recs) n += tree->evaluate(r) ? 1 : 0;
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(recs.size()));
}
BENCHMARK(BM_FilterTree);

// Both in one run, alternating, so that the ratio is not skewed by the
// machine's load changing between two benchmarks.
void BM_FilterTreeVsPredicate(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto& recs = records();
  auto tree = makeTree();
  long treeHits = 0;
  long handHits = 0;
  for (const auto& r : recs) {
    treeHits += tree->evaluate(r) ? 1 : 0;
    handHits += handPredicate(r) ? 1 : 0;
  }
  if (treeHits != handHits) {
    state.SkipWithError("tree and predicate disagree");
    return;
  }
  Clock::duration treeTime{};
  Clock::duration handTime{};
  for (auto _ : state) {
    long n = 0;
    auto t0 = Clock::now();
    for (const auto& r : recs) n += tree->evaluate(r) ? 1 : 0;
    auto t1 = Clock::now();
    for (const auto& r : recs) n += handPredicate(r) ? 1 : 0;
    auto t2 = Clock::now();
    treeTime += t1 - t0;
    handTime += t2 - t1;
    benchmark::DoNotOptimize(n);
  }
  const double count = static_cast<double>(state.iterations()) * static_cast<double>(recs.size());
  const double treeNs = std::chrono::duration<double, std::nano>(treeTime).count() / count;
  const double handNs = std::chrono::duration<double, std::nano>(handTime).count() / count;
  state.counters["tree_ns_per_record"] = treeNs;
  state.counters["hand_ns_per_record"] = handNs;
  state.counters["ratio_tree_to_hand"] = handNs > 0 ? treeNs / handNs : 0;
  state.counters["accepted"] = static_cast<double>(treeHits);
}
BENCHMARK(BM_FilterTreeVsPredicate);

// The filter in memory against the same filter as SQL over the same records in
// SQLite: a scratch database of the benchmark's own (never the site's), removed
// at exit.
void BM_FilterTreeVsSql(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  using Kyrofmdb::FMAlarmTableIO;
  const auto& recs = records();
  auto* db = Kyrofmdb::CDBMaintain::instance();
  static const std::string scratch = [] {
    char dir[] = "/tmp/fm_filterbench_XXXXXX";
    std::string d = ::mkdtemp(dir) ? dir : "";
    std::atexit([] {
      Kyrofmdb::CDBMaintain::instance()->setDBUrl("");
      std::error_code ec;
      std::filesystem::remove_all(scratch, ec);
    });
    return d;
  }();
  db->setDBUrl("sqlite3://db=" + scratch + "/bench.db");
  if (scratch.empty() || db->Init(5) != Kyrofm::FM_SUCCESS || Kyrofmdb::CFMDBTools::truncateTable("tbl_cur_alm") != Kyrofm::FM_SUCCESS ||
      FMAlarmTableIO::writeRecords("tbl_cur_alm", recs) != Kyrofm::FM_SUCCESS) {
    state.SkipWithError("cannot prepare tbl_cur_alm");
    return;
  }
  auto tree = makeTree();
  const std::string where = tree->sqlWhereCond("tbl_cur_alm");
  std::vector<long> csns;
  long treeHits = 0;
  for (const auto& r : recs) treeHits += tree->evaluate(r) ? 1 : 0;
  if (FMAlarmTableIO::selectCsns("tbl_cur_alm", where, csns) != Kyrofm::FM_SUCCESS ||
      static_cast<long>(csns.size()) != treeHits) {
    state.SkipWithError("SQL and evaluate disagree");
    return;
  }
  Clock::duration treeTime{};
  Clock::duration sqlTime{};
  for (auto _ : state) {
    long n = 0;
    auto t0 = Clock::now();
    for (const auto& r : recs) n += tree->evaluate(r) ? 1 : 0;
    auto t1 = Clock::now();
    FMAlarmTableIO::selectCsns("tbl_cur_alm", where, csns);
    auto t2 = Clock::now();
    treeTime += t1 - t0;
    sqlTime += t2 - t1;
    benchmark::DoNotOptimize(n);
  }
  const double count = static_cast<double>(state.iterations()) * static_cast<double>(recs.size());
  const double treeNs = std::chrono::duration<double, std::nano>(treeTime).count() / count;
  const double sqlNs = std::chrono::duration<double, std::nano>(sqlTime).count() / count;
  state.counters["tree_ns_per_record"] = treeNs;
  state.counters["sql_ns_per_record"] = sqlNs;
  state.counters["ratio_sql_to_tree"] = treeNs > 0 ? sqlNs / treeNs : 0;
}
BENCHMARK(BM_FilterTreeVsSql);

}  // namespace
