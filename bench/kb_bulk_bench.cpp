// kb_bulk_bench.cpp: explanation texts of 10 000 alarm records through the
// bulk path (one temporary key table joined with the knowledge base) against
// one table read per record (getExpAndAdviceFromDB and getMeanFromDB, which
// always read the tables), on SQLite and, when FM_TEST_PG_URL is set, on
// PostgreSQL.
//
// The knowledge base holds 2 000 alarms of 20 groups with 3 reasons each, a
// tenth of them with blank advice and a reason-table row for every group and
// reason. The records draw their (group, alarm, reason) from it at random.
// Both sides answer the same records; their answers are compared record by
// record before any timing, then the passes of the two sides alternate and
// the medians (wall time) are compared (three passes each on SQLite, one on
// PostgreSQL, whose single side makes 20 000 round trips a pass).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "BenchGoal.h"
#include "fm_common/fmlog/AlarmExpQueryer.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/KyroTrace.h"

namespace {

using Kyrofm::AlarmInfo_t;
using Kyrofm::AlarmInfoEx_t;
using Kyrofm::CAlarmExpQueryer;
using Kyrofm::ExpandInfo_t;
using Kyrofmdb::CDBMaintain;
using Kyrofmdb::CFMDBGuard;
using Kyrofmdb::SACommand;
using Kyrofmdb::SAConnection;

constexpr int kRecords = 10000;
constexpr int kGroups = 20, kAlarms = 100, kReasons = 3;

const std::string& root() {
  static const std::string dir = [] {
    std::string d = "/tmp/fm_kbbench_" + std::to_string(::getpid());
    std::filesystem::create_directories(d);
    ::setenv("KYRO_ROOT", d.c_str(), 1);
    Kyrofm::KyroTrace::setMinLevel(5);
    std::atexit([] {
      CAlarmExpQueryer::destroy();
      CDBMaintain::instance()->setDBUrl("");
      std::error_code ec;
      std::filesystem::remove_all(std::string("/tmp/fm_kbbench_") + std::to_string(::getpid()), ec);
    });
    return d;
  }();
  return dir;
}

// Points the layer at url and fills the knowledge base. False on failure.
bool prepare(const std::string& url) {
  root();
  CDBMaintain::instance()->setDBUrl(url);
  if (CDBMaintain::instance()->Init(5) != Kyrofm::FM_SUCCESS) return false;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "kb_bulk_bench", Kyrofm::FM_FAILURE, [](SAConnection& conn) -> long {
    SACommand(&conn, "delete from tbl_alm_exp_info").Execute();
    SACommand(&conn, "delete from tbl_alm_exp_reason").Execute();
    SACommand ins(&conn);
    ins.SetExecBatch(true);
    ins.SetTable("tbl_alm_exp_info");
    int n = 0;
    for (int g = 0; g < kGroups; ++g)
      for (int a = 0; a < kAlarms; ++a)
        for (int r = 0; r < kReasons; ++r, ++n) {
          ins.Param("GroupID").setAsLong() = g;
          ins.Param("AlarmID").setAsLong() = a;
          ins.Param("ReasonID").setAsLong() = r;
          ins.Param("Explain").setAsString() = "explanation of " + std::to_string(n) + ", it's long enough";
          ins.Param("ClearAdvice").setAsString() = n % 10 == 0 ? " " : "check board " + std::to_string(n);
          ins.Param("Meaning").setAsString() = "meaning " + std::to_string(g * kAlarms + a);
          ins.EndRow();
        }
    ins.Execute(n);
    SACommand rins(&conn);
    rins.SetExecBatch(true);
    rins.SetTable("tbl_alm_exp_reason");
    for (int g = 0; g < kGroups; ++g)
      for (int r = 0; r < kReasons; ++r) {
        rins.Param("GroupID").setAsLong() = g;
        rins.Param("ReasonID").setAsLong() = r;
        rins.Param("Explain").setAsString() = "group explanation";
        rins.Param("ClearAdvice").setAsString() = "group advice " + std::to_string(r);
        rins.EndRow();
      }
    rins.Execute(kGroups * kReasons);
    return Kyrofm::FM_SUCCESS;
  });
  return rc == Kyrofm::FM_SUCCESS;
}

std::list<Kyrofm::AlmRecord_t> makeRecords() {
  std::mt19937 rnd(42);
  std::list<Kyrofm::AlmRecord_t> recs;
  for (int i = 0; i < kRecords; ++i) {
    Kyrofm::AlmRecord_t rec;
    rec.setGroupId(static_cast<long>(rnd() % kGroups));
    rec.setAlarmId(static_cast<long>(rnd() % kAlarms));
    rec.setReasonId(static_cast<long>(rnd() % kReasons));
    recs.push_back(rec);
  }
  return recs;
}

AlarmInfoEx_t keyOf(const Kyrofm::AlmRecord_t& rec) {
  return AlarmInfoEx_t(rec.getGroupId(), rec.getAlarmId(), rec.getReasonId());
}

std::vector<ExpandInfo_t> runBulk(CAlarmExpQueryer* q, const std::list<Kyrofm::AlmRecord_t>& recs) {
  Kyrofm::ExpInfoMap exp;
  Kyrofm::MeanInfoMap mean;
  q->batchGetExpAndMean(recs, 2 * kRecords, exp, mean);
  std::vector<ExpandInfo_t> out;
  out.reserve(recs.size());
  for (const auto& rec : recs) {
    ExpandInfo_t info;
    if (!CAlarmExpQueryer::getExpAndAdvice(keyOf(rec), info, exp, mean)) info.m_strExplanation = "<missing>";
    out.push_back(std::move(info));
  }
  return out;
}

std::vector<ExpandInfo_t> runSingle(CAlarmExpQueryer* q, const std::list<Kyrofm::AlmRecord_t>& recs) {
  std::vector<ExpandInfo_t> out;
  out.reserve(recs.size());
  for (const auto& rec : recs) {
    ExpandInfo_t info;
    const AlarmInfoEx_t k = keyOf(rec);
    q->getExpAndAdviceFromDB(k, info);
    q->getMeanFromDB(AlarmInfo_t(k.m_lGroupId, k.m_lAlarmId), info);
    out.push_back(std::move(info));
  }
  return out;
}

void runBackend(benchmark::State& state, const std::string& name, const std::string& url, int passes) {
  if (!prepare(url)) {
    state.SkipWithError(("cannot prepare " + name).c_str());
    return;
  }
  CAlarmExpQueryer::destroy();
  CAlarmExpQueryer* q = CAlarmExpQueryer::instance();
  const auto recs = makeRecords();
  const auto bulk = runBulk(q, recs), single = runSingle(q, recs);
  size_t i = 0;
  for (auto it = recs.begin(); it != recs.end(); ++it, ++i) {
    const auto& b = bulk[i];
    const auto& s = single[i];
    if (b.m_strExplanation != s.m_strExplanation || b.m_strClearAdvice != s.m_strClearAdvice ||
        b.m_strMeaning != s.m_strMeaning) {
      state.SkipWithError(("answers differ at record " + std::to_string(i)).c_str());
      return;
    }
  }
  std::vector<double> tBulk, tSingle;
  for (auto _ : state) {
    for (int pass = 0; pass < passes; ++pass) {
      double t0 = fmbench::wallNs();
      benchmark::DoNotOptimize(runBulk(q, recs));
      double t1 = fmbench::wallNs();
      benchmark::DoNotOptimize(runSingle(q, recs));
      double t2 = fmbench::wallNs();
      tBulk.push_back(t1 - t0);
      tSingle.push_back(t2 - t1);
    }
  }
  const double mb = fmbench::median(tBulk) / 1e6, ms = fmbench::median(tSingle) / 1e6;
  state.counters["bulk_ms"] = mb;
  state.counters["single_ms"] = ms;
  fmbench::goal("bulk explanation of 10 000 alarm records vs one query per record, " + name + " (bulk " +
                    fmbench::fixed(mb, 1) + " ms, single " + fmbench::fixed(ms, 1) + " ms)",
                "-", fmbench::fixed(ms / mb, 1, "x faster"), "info");
  CAlarmExpQueryer::destroy();
  CDBMaintain::instance()->setDBUrl("");
}

void BM_KbBulkVsSingleSqlite(benchmark::State& state) {
  runBackend(state, "SQLite", "sqlite3://db=" + root() + "/kb.db", 3);
}
BENCHMARK(BM_KbBulkVsSingleSqlite)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_KbBulkVsSinglePostgres(benchmark::State& state) {
  const char* url = std::getenv("FM_TEST_PG_URL");
  if (url == nullptr || *url == '\0') {
    state.SkipWithError("FM_TEST_PG_URL not set");
    return;
  }
  runBackend(state, "PostgreSQL", url, 1);  // a round trip per statement: one pass
}
BENCHMARK(BM_KbBulkVsSinglePostgres)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
