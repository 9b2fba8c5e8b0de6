// factory_bench.cpp: the cost of building filters through the expression
// factory and of evaluating what it builds.
//
//   BM_FactoryBuild20          createCommonExp of 20 conditions (seven leaf
//                              types) joined by a criterion, per build.
//   BM_FactoryLeavesVsPredicate the six-leaf filter of leaf_bench.cpp (level,
//                              category, FDN subtree over 1 000 FDNs, status,
//                              extend-information contains, NOT over an alarm
//                              key) built by the factory from conditions and a
//                              criterion; evaluate against the hand-written
//                              predicate over the same 100 000 records,
//                              interleaved, answers compared first.
//
// At exit the figures are printed as GOAL lines (no goal: information).
// Runs in a scratch KYRO_ROOT with its own SQLite database, removed at exit.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "BenchGoal.h"
#include "fm_common/filter/AlarmExpFactory.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace {

using Clock = std::chrono::steady_clock;  // durations; times come from threadCpu()
using Kyrofm::AlarmExp;
using Kyrofm::AlarmExpFactory;
using Kyrofm::AlmRecord_t;
using Kyrofm::FieldCond_t;

constexpr int kRecords = 100000;
constexpr int kNes = 100;
constexpr int kBoards = 100;

void goal(const std::string& what, const std::string& measured) { fmbench::goal(what, "-", measured, "info"); }

// CPU time of the calling thread: the machine is shared, wall time is not
// the cost of the work.
Clock::duration threadCpu() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

std::string neOf(int n) { return "NE=" + std::to_string(n); }
std::string boardOf(int n, int b) { return neOf(n) + ",Shelf=" + std::to_string(b / 10) + ",Board=" + std::to_string(b % 10); }

bool prepareDatabase() {
  static const bool ok = [] {
    char tmpl[] = "/tmp/fm_factorybench_XXXXXX";
    if (!::mkdtemp(tmpl)) return false;
    static const std::string dir = tmpl;
    ::setenv("KYRO_ROOT", dir.c_str(), 1);
    Kyrofm::KyroTrace::setMinLevel(5);
    std::atexit([] {
      Kyrofm::CFdnManager::Destroy();
      Kyrofmdb::CDBMaintain::instance()->setDBUrl("");
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    });
    Kyrofmdb::CDBMaintain::instance()->setDBUrl("sqlite3://db=" + dir + "/bench.db");
    return Kyrofmdb::CDBMaintain::instance()->Init(5) == Kyrofm::FM_SUCCESS;
  }();
  return ok;
}

FieldCond_t cond(const std::string& name, const std::string& type, char op, std::list<std::string> values) {
  FieldCond_t c(name, type, op);
  c.m_lstValues = std::move(values);
  return c;
}

void BM_FactoryBuild20(benchmark::State& state) {
  if (!prepareDatabase()) return state.SkipWithError("cannot open the scratch database");
  const char* const types[] = {"LEVEL", "CATEGORY", "NETYPE", "ALARMID", "EXTENDINFO", "CSN", "LINKTYPE"};
  const char* const values[][3] = {{"1", "2", "3"}, {"1", "3", "1"}, {"1", "2", "4"}, {"10", "20", "30"},
                                   {"link", "power", "fan"}, {"100", "200", "300"}, {"1", "2", "3"}};
  std::list<FieldCond_t> conds;
  for (int i = 0; i < 20; ++i) {
    const int t = i % 7;
    conds.push_back(cond("c" + std::to_string(i), types[t], static_cast<char>(t == 4 ? 7 : 1),
                         {values[t][0], values[t][1], values[t][2]}));
  }
  conds.push_back(cond("crit", "CRITERION", 1,
                       {"(C0 OR C1) AND NOT C2 AND (C3 OR C4 AND C5) AND (C6 OR NOT (C7 AND C8)) AND C9 AND "
                        "(C10 OR C11 OR C12) AND NOT NOT C13 AND (C14 AND (C15 OR C16)) AND (C17 OR C18) AND C19"}));
  Kyrofm::KyroTrace::setMinLevel(5);
  std::unique_ptr<AlarmExp> check(AlarmExpFactory::createCommonExp(conds, false));
  if (!check) return state.SkipWithError("the factory refused the filter");
  const auto t0 = threadCpu();
  for (auto _ : state) {
    std::unique_ptr<AlarmExp> e(AlarmExpFactory::createCommonExp(conds, false));
    benchmark::DoNotOptimize(e.get());
  }
  const double us = std::chrono::duration<double, std::micro>(threadCpu() - t0).count() /
                    static_cast<double>(state.iterations() ? state.iterations() : 1);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f us (thread CPU)", us);
  goal("factory build of 20 conditions with a criterion, per build", buf);
}
BENCHMARK(BM_FactoryBuild20)->Unit(benchmark::kMicrosecond);

std::vector<AlmRecord_t> makeRecords() {
  const char* const infos[] = {"", "link down", "power", "fan failure", "uplink lost", "temperature"};
  std::vector<AlmRecord_t> out(kRecords);
  unsigned seed = 20261205;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (int i = 0; i < kRecords; ++i) {
    AlmRecord_t& r = out[i];
    int n = static_cast<int>(next() % kNes), b = static_cast<int>(next() % kBoards);
    r.setLogId(i + 1);
    r.setSeverity(static_cast<char>(1 + next() % 4));
    r.setCategory(next() % 5 == 0 ? 3 : 1 + static_cast<long>(next() % 2));
    r.setClearStatus(static_cast<char>(next() % 2));
    r.setAckStatus(static_cast<char>(next() % 2));
    r.setGroupId(static_cast<long>(next() % 10));
    r.setAlarmId(static_cast<long>(next() % 1000));
    r.setExtendInfo(infos[next() % 6]);
    r.setMoDn(boardOf(n, b));
    r.setNE({neOf(n), 1});
  }
  return out;
}

std::list<std::string> subtreeValues(int count) {
  std::list<std::string> v;
  for (int i = 0; i < count; ++i) v.push_back(boardOf(i / kBoards, i % kBoards));
  return v;
}

// The hand-written predicate of leaf_bench.cpp.
struct HandFilter {
  std::unordered_set<std::string> subtree;
  HandFilter() {
    for (const auto& v : subtreeValues(1000)) subtree.insert(v);
  }
  bool operator()(const AlmRecord_t& r) const {
    const long level = r.getLevel();
    if (level != 1 && level != 2) return false;
    if (r.getCategory() != 1) return false;
    const std::string fdn = r.getMoDn();
    bool under = false;
    for (size_t end = fdn.size(); end != std::string::npos && end > 0; end = fdn.rfind(',', end - 1)) {
      if (subtree.count(fdn.substr(0, end))) {
        under = true;
        break;
      }
    }
    if (!under) return false;
    if (r.getClearStatus() != 0 || (r.getAckStatus() != 0 && r.getAckStatus() != 1)) return false;
    if (std::string(r.getExtendInfo()).find("link") == std::string::npos) return false;
    return r.getGroupId() != 5;
  }
};

void BM_FactoryLeavesVsPredicate(benchmark::State& state) {
  if (!prepareDatabase()) return state.SkipWithError("cannot open the scratch database");
  static const std::vector<AlmRecord_t> records = makeRecords();
  std::list<FieldCond_t> conds = {
      cond("level", "LEVEL", 1, {"1", "2"}),        cond("category", "CATEGORY", 1, {"1"}),
      cond("fdn", "FDN", 7, subtreeValues(1000)),  cond("status", "STATUS", 1, {"1", "3"}),
      cond("info", "EXTENDINFO", 7, {"link"}),     cond("key", "INFO", 1, {"5", "-1"}),
      cond("crit", "CRITERION", 1, {"level and category and fdn and status and info and not key"})};
  std::unique_ptr<AlarmExp> filter(AlarmExpFactory::createCommonExp(conds, false));
  if (!filter) return state.SkipWithError("the factory refused the filter");
  HandFilter hand;
  long agree = 0;
  for (const auto& r : records) {
    if (filter->evaluate(r) != hand(r)) return state.SkipWithError("filter and predicate disagree");
    agree += hand(r) ? 1 : 0;
  }
  Clock::duration treeTime{}, handTime{};
  for (auto _ : state) {
    long n = 0;
    auto t0 = threadCpu();
    for (const auto& r : records) n += filter->evaluate(r) ? 1 : 0;
    auto t1 = threadCpu();
    for (const auto& r : records) n += hand(r) ? 1 : 0;
    auto t2 = threadCpu();
    treeTime += t1 - t0;
    handTime += t2 - t1;
    benchmark::DoNotOptimize(n);
  }
  const double count = static_cast<double>(state.iterations()) * kRecords;
  const double treeNs = std::chrono::duration<double, std::nano>(treeTime).count() / count;
  const double handNs = std::chrono::duration<double, std::nano>(handTime).count() / count;
  state.counters["factory_tree_ns_per_record"] = treeNs;
  state.counters["hand_ns_per_record"] = handNs;
  state.counters["ratio_tree_to_hand"] = handNs > 0 ? treeNs / handNs : 0;
  state.counters["accepted"] = static_cast<double>(agree);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2fx (thread CPU)", handNs > 0 ? treeNs / handNs : 0);
  goal("factory-built 6-leaf filter evaluate vs hand-written predicate (100 000 records)", buf);
}
BENCHMARK(BM_FactoryLeavesVsPredicate)->Unit(benchmark::kMillisecond);

}  // namespace
