// sort_bench.cpp: sorting an alarm list by three sort items in memory
// (XRFMSortHelper keys and less-than functions, std::stable_sort) against the
// same order read from SQLite (CreateQryOrderCond's ORDER BY on a bulk read of
// the Csn column).
//
// 100 000 generated alarms with many ties: alarm type (4 values) descending,
// a string extended parameter (200 texts and unset ones) ascending, device
// serial number (50 values) ascending. They are written once to tbl_cur_alm of
// a scratch SQLite database of the benchmark's own, removed at exit. Before
// timing, the database order is checked against the memory order position by
// position (equal keys at every position). Each iteration then times both
// sides one after the other; the memory side includes making the keys.
//
// Printed at exit: one GOAL line with the ratio of the database time to the
// memory time (no goal; information).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BenchGoal.h"
#include "fm_common/filter/AlarmSortOrder.h"
#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"

namespace {

using Kyrofm::AlmRecord_t;
using Kyrofm::FieldSortItem_t;
using Kyrofm::SortKey;
using Kyrofm::XRFMSortHelper;

constexpr size_t kAlarms = 100000;
const std::vector<FieldSortItem_t> kItems = {{5, 0}, {10010105, 1}, {16, 1}};

const std::vector<AlmRecord_t>& records() {
  static const std::vector<AlmRecord_t> recs = [] {
    std::mt19937 rng(11);
    std::vector<std::string> texts(200);
    for (size_t i = 0; i < texts.size(); ++i) texts[i] = "NE" + std::to_string(rng() % 100000) + (i % 3 ? "b" : "A");
    std::vector<AlmRecord_t> out(kAlarms);
    for (size_t i = 0; i < out.size(); ++i) {
      AlmRecord_t& r = out[i];
      r.setLogId(static_cast<long>(i) + 1);
      r.setAlarmType(static_cast<long>(rng() % 4));
      r.setDevCsn(static_cast<long>(rng() % 50));
      if (rng() % 10) r.setStrExtParam(1, 5, texts[rng() % texts.size()]);
    }
    return out;
  }();
  return recs;
}

// The memory order: indices of the records.
std::vector<size_t> sortInMemory(const XRFMSortHelper& h, std::vector<SortKey>& keys) {
  const auto& recs = records();
  keys.resize(recs.size());
  for (size_t i = 0; i < recs.size(); ++i) h.getSortKey(recs[i], keys[i]);
  std::vector<size_t> order(recs.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return h.less(keys[a], keys[b]); });
  return order;
}

// The database order: Csn of the rows.
long sortInDatabase(std::vector<long>& csns) {
  csns.clear();
  csns.reserve(kAlarms);
  return Kyrofmdb::CFMDBGuard::run(__FILE__, __LINE__, "sort_bench", Kyrofm::FM_FAILURE,
                                   [&](Kyrofmdb::SAConnection& conn) -> long {
                                     Kyrofmdb::CFMBulkReader reader;
                                     reader.SetTable("tbl_cur_alm");
                                     reader.AddColumn("Csn");
                                     Kyrofm::CreateQryOrderCond(kItems, "tbl_cur_alm", reader);
                                     reader.Open(&conn);
                                     while (reader.FetchNext()) csns.push_back(reader.Field(1).asLong());
                                     reader.Close();
                                     return Kyrofm::FM_SUCCESS;
                                   });
}

bool prepareDatabase() {
  auto* db = Kyrofmdb::CDBMaintain::instance();
  static const std::string scratch = [] {
    char dir[] = "/tmp/fm_sortbench_XXXXXX";
    std::string d = ::mkdtemp(dir) ? dir : "";
    std::atexit([] {
      Kyrofmdb::CDBMaintain::instance()->setDBUrl("");
      std::error_code ec;
      std::filesystem::remove_all(scratch, ec);
    });
    return d;
  }();
  db->setDBUrl("sqlite3://db=" + scratch + "/bench.db");
  return !scratch.empty() && db->Init(5) == Kyrofm::FM_SUCCESS &&
         Kyrofmdb::CFMDBTools::truncateTable("tbl_cur_alm") == Kyrofm::FM_SUCCESS &&
         Kyrofmdb::FMAlarmTableIO::writeRecords("tbl_cur_alm", records()) == Kyrofm::FM_SUCCESS;
}

void BM_SortMemoryVsOrderBy(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  if (!prepareDatabase()) {
    state.SkipWithError("cannot prepare tbl_cur_alm");
    return;
  }
  XRFMSortHelper helper(kItems);
  std::vector<SortKey> keys;
  std::vector<long> csns;
  std::vector<size_t> order = sortInMemory(helper, keys);
  if (sortInDatabase(csns) != Kyrofm::FM_SUCCESS || csns.size() != order.size()) {
    state.SkipWithError("database read failed");
    return;
  }
  for (size_t i = 0; i < order.size(); ++i) {
    const SortKey& fromDb = keys[static_cast<size_t>(csns[i] - 1)];
    if (helper.less(fromDb, keys[order[i]]) || helper.less(keys[order[i]], fromDb)) {
      state.SkipWithError("memory and ORDER BY disagree");
      return;
    }
  }
  Clock::duration memTime{};
  Clock::duration sqlTime{};
  for (auto _ : state) {
    auto t0 = Clock::now();
    order = sortInMemory(helper, keys);
    auto t1 = Clock::now();
    sortInDatabase(csns);
    auto t2 = Clock::now();
    memTime += t1 - t0;
    sqlTime += t2 - t1;
    benchmark::DoNotOptimize(order.data());
    benchmark::DoNotOptimize(csns.data());
  }
  const double n = static_cast<double>(state.iterations());
  const double memMs = std::chrono::duration<double, std::milli>(memTime).count() / n;
  const double sqlMs = std::chrono::duration<double, std::milli>(sqlTime).count() / n;
  state.counters["memory_ms"] = memMs;
  state.counters["sqlite_ms"] = sqlMs;
  state.counters["ratio_sql_to_memory"] = memMs > 0 ? sqlMs / memMs : 0;
  fmbench::goal("sort 100 000 alarms by 3 items: SQLite ORDER BY / memory", "-",
                fmbench::fixed(memMs > 0 ? sqlMs / memMs : 0.0, 2, "x") + " (" + fmbench::fixed(sqlMs, 0) + " ms against " +
                    fmbench::fixed(memMs, 0) + " ms)",
                "info");
}
BENCHMARK(BM_SortMemoryVsOrderBy)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
