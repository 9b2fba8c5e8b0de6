// leaf_bench.cpp: the cost of a filter built from the library's own leaves.
//
// The filter is the conjunction of six leaves: level in {1, 2}; category 1; an
// FDN subtree leaf (code 7) over 1 000 FDNs; a status leaf (not cleared, either
// acknowledgement); an extend-information "contains" test; and NOT over an
// alarm-key leaf (group 5). 100 000 generated alarms whose FDNs are known to the
// FDN manager are used throughout.
//
//   BM_LeavesVsPredicate  evaluate against a hand-written predicate over the same
//                         records, interleaved, answers compared first.
//   BM_LeavesVsSql/0      the filter's WHERE text run by SQLite over the same
//                         alarms against evaluate over them, interleaved, the
//                         selected rows compared with the accepted records first.
//   BM_LeavesVsSql/1      the same on PostgreSQL, when FM_TEST_PG_URL names a
//                         throw-away server (scripts/with-postgres).
//   BM_FdnExpEvaluate/N   FDNExp::evaluate with N subtree values (1, 50, 10 000).
//
// Everything runs in a scratch KYRO_ROOT with its own SQLite database, removed at
// exit; on PostgreSQL the alarms go to a table of the benchmark's own,
// "tbl_bench_alm", dropped at exit.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/filter/FdnLeaves.h"
#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/filter/ParamLeaves.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBSchema.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace {

using Clock = std::chrono::steady_clock;
using Kyrofm::AlarmExp;
using Kyrofm::AlmRecord_t;
using Kyrofmdb::CDBMaintain;
using Kyrofmdb::CFMDBTools;

constexpr int kRecords = 100000;
constexpr int kNes = 100;
constexpr int kBoards = 100;  // per NE
const char* const kStore = "tbl_bench_alm";

std::string neOf(int n) { return "NE=" + std::to_string(n); }
std::string boardOf(int n, int b) { return neOf(n) + ",Shelf=" + std::to_string(b / 10) + ",Board=" + std::to_string(b % 10); }

const std::string& scratch() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/fm_leafbench_XXXXXX";
    std::string d = ::mkdtemp(tmpl) ? tmpl : "";
    ::setenv("KYRO_ROOT", d.c_str(), 1);
    Kyrofm::KyroTrace::setMinLevel(5);
    std::atexit([] {
      Kyrofm::CFdnManager::Destroy();
      CDBMaintain::instance()->setDBUrl("");
      std::error_code ec;
      std::filesystem::remove_all(scratch(), ec);
    });
    return d;
  }();
  return dir;
}

bool useDb(const std::string& url) {
  Kyrofm::CFdnManager::Destroy();
  CDBMaintain::instance()->setDBUrl(url);
  return CDBMaintain::instance()->Init(5) == Kyrofm::FM_SUCCESS;
}

// The records, with FDN ids from the FDN manager of the current database.
std::vector<AlmRecord_t> makeRecords() {
  auto* fdns = Kyrofm::CFdnManager::instance();
  std::vector<long> neIds(kNes), boardIds(kNes * kBoards);
  for (int n = 0; n < kNes; ++n) {
    neIds[n] = fdns->GetIntFdn(neOf(n));
    for (int b = 0; b < kBoards; ++b) boardIds[n * kBoards + b] = fdns->GetIntFdn(boardOf(n, b));
  }
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
    r.setIntExtParam(0, 16, boardIds[n * kBoards + b]);
    r.setIntExtParam(0, 15, neIds[n]);
  }
  return out;
}

// The subtree values: every board of the first `count / kBoards` NEs, or the
// first `count` boards when fewer than one NE's worth.
std::list<std::string> subtreeValues(int count) {
  std::list<std::string> v;
  for (int i = 0; i < count; ++i) v.push_back(boardOf(i / kBoards, i % kBoards));
  return v;
}

std::unique_ptr<AlarmExp> makeFilter() {
  auto level = std::make_unique<Kyrofm::LevelExp>("LEVEL", 1);
  auto category = std::make_unique<Kyrofm::CategoryExp>("CATEGORY", 1);
  auto fdn = std::make_unique<Kyrofm::FDNExp>("FDN", 7);
  auto status = std::make_unique<Kyrofm::StatusExp>("STATUS", 1);
  auto info = std::make_unique<Kyrofm::ExtendInfoExp>("EXTENDINFO", 7);
  auto key = std::make_unique<Kyrofm::AlarmInfoExp>("INFO", 1);
  if (!level->setFilter({"1", "2"}, false) || !category->setFilter({"1"}, false) ||
      !fdn->setFilter(subtreeValues(1000), false) || !status->setStringContent("NANR,YANR") ||
      !info->setFilter({"link"}, false) || !key->setFilter({"5", "-1"}, false)) {
    return nullptr;
  }
  using Kyrofm::AndAlarmExp;
  return std::make_unique<AndAlarmExp>(
      new AndAlarmExp(new AndAlarmExp(level.release(), category.release()), fdn.release()),
      new AndAlarmExp(new AndAlarmExp(status.release(), info.release()), new Kyrofm::NotAlarmExp(key.release())));
}

// The same filter by hand, reading the texts through the record's views as the
// leaves do: the subtree test walks the FDN's ancestors through a hash set of
// the 1 000 values.
struct HandFilter {
  std::list<std::string> values = subtreeValues(1000);
  std::unordered_set<std::string_view> subtree{values.begin(), values.end()};
  bool operator()(const AlmRecord_t& r) const {
    const long level = r.getLevel();
    if (level != 1 && level != 2) return false;
    if (r.getCategory() != 1) return false;
    const std::string_view fdn = r.getMoDnView();
    bool under = false;
    for (size_t end = fdn.size(); end != std::string_view::npos && end > 0; end = fdn.rfind(',', end - 1)) {
      if (subtree.count(fdn.substr(0, end))) {
        under = true;
        break;
      }
    }
    if (!under) return false;
    if (r.getClearStatus() != 0 || (r.getAckStatus() != 0 && r.getAckStatus() != 1)) return false;
    if (r.getExtendInfoView().find("link") == std::string_view::npos) return false;
    return r.getGroupId() != 5;
  }
};

// Scratch SQLite database with the records (built once).
struct Fixture {
  std::vector<AlmRecord_t> records;
  std::unique_ptr<AlarmExp> filter;
  bool ok = false;
};

Fixture& sqliteFixture() {
  static Fixture f = [] {
    Fixture x;
    if (scratch().empty() || !useDb("sqlite3://db=" + scratch() + "/bench.db")) return x;
    x.records = makeRecords();
    x.filter = makeFilter();
    x.ok = x.filter != nullptr;
    return x;
  }();
  return f;
}

std::vector<long> accepted(const AlarmExp& e, const std::vector<AlmRecord_t>& recs) {
  std::vector<long> out;
  for (const auto& r : recs) {
    if (e.evaluate(r)) out.push_back(r.getLogId());
  }
  return out;
}

void BM_LeavesVsPredicate(benchmark::State& state) {
  Fixture& f = sqliteFixture();
  if (!f.ok) return state.SkipWithError("cannot prepare the records");
  HandFilter hand;
  long agree = 0;
  for (const auto& r : f.records) {
    if (f.filter->evaluate(r) != hand(r)) return state.SkipWithError("filter and predicate disagree");
    agree += hand(r) ? 1 : 0;
  }
  Clock::duration treeTime{}, handTime{};
  for (auto _ : state) {
    long n = 0;
    auto t0 = Clock::now();
    for (const auto& r : f.records) n += f.filter->evaluate(r) ? 1 : 0;
    auto t1 = Clock::now();
    for (const auto& r : f.records) n += hand(r) ? 1 : 0;
    auto t2 = Clock::now();
    treeTime += t1 - t0;
    handTime += t2 - t1;
    benchmark::DoNotOptimize(n);
  }
  const double count = static_cast<double>(state.iterations()) * kRecords;
  const double treeNs = std::chrono::duration<double, std::nano>(treeTime).count() / count;
  const double handNs = std::chrono::duration<double, std::nano>(handTime).count() / count;
  state.counters["leaves_ns_per_record"] = treeNs;
  state.counters["hand_ns_per_record"] = handNs;
  state.counters["ratio_leaves_to_hand"] = handNs > 0 ? treeNs / handNs : 0;
  state.counters["accepted"] = static_cast<double>(agree);
}
BENCHMARK(BM_LeavesVsPredicate)->Unit(benchmark::kMillisecond);

void BM_LeavesVsSql(benchmark::State& state) {
  Fixture& f = sqliteFixture();
  if (!f.ok) return state.SkipWithError("cannot prepare the records");
  const bool pg = state.range(0) == 1;
  if (pg) {
    const char* url = std::getenv("FM_TEST_PG_URL");
    if (url == nullptr || *url == '\0') return state.SkipWithError("no FM_TEST_PG_URL (run under scripts/with-postgres)");
    std::fprintf(stderr, "leaf_bench: writes table %s and FDNs to the throw-away server %s\n", kStore, url);
    f.filter.reset();  // its temporary table belongs to the SQLite database
    if (!useDb(url)) return state.SkipWithError("cannot open PostgreSQL");
    // The FDN ids of this database: the records are made again.
    f.records = makeRecords();
    f.filter = makeFilter();
  } else if (!useDb("sqlite3://db=" + scratch() + "/bench.db")) {
    return state.SkipWithError("cannot open SQLite");
  }
  const int type = CDBMaintain::instance()->getDBType();
  if (CFMDBTools::DropTable(kStore) != Kyrofm::FM_SUCCESS) return state.SkipWithError("cannot drop the bench table");
  for (const auto& stmt : Kyrofmdb::CFMDBSchema::splitStatements(Kyrofmdb::CFMDBSchema::alarmTableDdl(kStore, type))) {
    if (CFMDBTools::ExecuteSQL(stmt) != Kyrofm::FM_SUCCESS) return state.SkipWithError("cannot create the bench table");
  }
  if (Kyrofmdb::FMAlarmTableIO::writeRecords(kStore, f.records) != Kyrofm::FM_SUCCESS) {
    return state.SkipWithError("cannot write the records");
  }
  const std::string from = std::string(kStore) + " AS tbl_cur_alm";
  std::vector<long> csns;
  const std::string where = f.filter->sqlWhereCond("tbl_cur_alm");
  if (Kyrofmdb::FMAlarmTableIO::selectCsns(from, where, csns) != Kyrofm::FM_SUCCESS ||
      csns != accepted(*f.filter, f.records)) {
    return state.SkipWithError("SQL and evaluate disagree");
  }
  Clock::duration treeTime{}, sqlTime{};
  for (auto _ : state) {
    long n = 0;
    auto t0 = Clock::now();
    for (const auto& r : f.records) n += f.filter->evaluate(r) ? 1 : 0;
    auto t1 = Clock::now();
    Kyrofmdb::FMAlarmTableIO::selectCsns(from, f.filter->sqlWhereCond("tbl_cur_alm"), csns);
    auto t2 = Clock::now();
    treeTime += t1 - t0;
    sqlTime += t2 - t1;
    benchmark::DoNotOptimize(n);
  }
  const double count = static_cast<double>(state.iterations()) * kRecords;
  const double treeNs = std::chrono::duration<double, std::nano>(treeTime).count() / count;
  const double sqlNs = std::chrono::duration<double, std::nano>(sqlTime).count() / count;
  state.counters["evaluate_ns_per_record"] = treeNs;
  state.counters["sql_ns_per_record"] = sqlNs;
  state.counters["ratio_sql_to_evaluate"] = treeNs > 0 ? sqlNs / treeNs : 0;
  state.counters["selected"] = static_cast<double>(csns.size());
  CFMDBTools::DropTable(kStore);
  if (pg) {  // back to the scratch SQLite database and its FDN ids
    f.filter.reset();
    useDb("sqlite3://db=" + scratch() + "/bench.db");
    f.records = makeRecords();
    f.filter = makeFilter();
  }
}
BENCHMARK(BM_LeavesVsSql)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FdnExpEvaluate(benchmark::State& state) {
  Fixture& f = sqliteFixture();
  if (!f.ok) return state.SkipWithError("cannot prepare the records");
  Kyrofm::FDNExp leaf("FDN", 7);
  if (!leaf.setFilter(subtreeValues(static_cast<int>(state.range(0))), false)) return state.SkipWithError("setFilter");
  for (auto _ : state) {
    long n = 0;
    for (const auto& r : f.records) n += leaf.evaluate(r) ? 1 : 0;
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRecords);
}
BENCHMARK(BM_FdnExpEvaluate)->Arg(1)->Arg(50)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
