// kb_buffer_bench.cpp: look-ups in the explanation buffer against a
// std::unordered_map holding the same entries.
//
//   BM_KbStaticInfoVsHashMap   CAlarmExpOperator::getAlmStaticInfo (status
//                              check, explanation lock, chained hash table of
//                              5 000 buckets, copy into an AlmExp_t) of 20 000
//                              alarms loaded through add on SQLite, against
//                              std::unordered_map::find of the same keys and
//                              the same copy; and the bare table look-up
//                              (AlmBasicExpTable::find) against the bare
//                              std::unordered_map::find.
//
// Each pass probes 4096 random keys; the passes of both sides alternate and
// the medians of thread CPU time are compared. The answers of both sides are
// compared key by key before any timing. Figures are reported as ratios
// (buffer / map) in GOAL lines without a goal.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <list>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "BenchGoal.h"
#include "fm_common/fmlog/AlarmExpOperator.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/KyroTrace.h"

namespace {

using fmbench::cpuNs;
using fmbench::fixed;
using fmbench::median;
using Kyrofm::AlarmInfo_t;
using Kyrofm::AlmBasicExp_t;
using Kyrofm::AlmExp_t;
using Kyrofm::CAlarmExpOperator;

constexpr long kAlarms = 20000;

struct KeyHash {
  size_t operator()(const AlarmInfo_t& k) const { return std::hash<long>()(k.m_lGroupId * 1000003L + k.m_lAlarmId); }
};
using HashMap = std::unordered_map<AlarmInfo_t, AlmBasicExp_t, KeyHash>;

// The operator over a scratch SQLite database holding kAlarms alarms of two
// reasons each (100 groups of 200 alarms).
CAlarmExpOperator* loadedOperator() {
  static CAlarmExpOperator* op = [] {
    std::string d = "/tmp/fm_kbbench_" + std::to_string(::getpid());
    std::filesystem::create_directories(d + "/var/fm");
    ::setenv("KYRO_ROOT", d.c_str(), 1);
    Kyrofm::KyroTrace::setMinLevel(5);
    Kyrofmdb::CDBMaintain::instance()->setDBUrl("sqlite3://db=" + d + "/var/fm/kb.db");
    Kyrofmdb::CDBMaintain::instance()->Init(5);
    Kyrofmdb::CFMDBTools::ExecuteSQL("delete from tbl_alm_exp_info");
    CAlarmExpOperator* p = CAlarmExpOperator::instance();
    p->mergeRedefinedName({});
    Kyrofm::AlmExpList in, out;
    for (long i = 0; i < kAlarms; ++i) {
      AlmExp_t e;
      e.m_lGroupId = i / 200;
      e.m_lAlarmId = i % 200;
      e.AlarmName = "alarm " + std::to_string(i);
      e.AlarmLevel = static_cast<char>(1 + i % 4);
      e.Reasons.resize(2);
      e.Reasons[1].ReasonID = 1;
      for (auto& r : e.Reasons) r.Explain = r.ClearAdvice = "text";
      in.push_back(e);
    }
    Kyrofm::AlmExpErrorMap errors;
    std::list<AlarmInfo_t> keys;
    p->add(in, errors, keys, out);
    return p;
  }();
  return op;
}

bool sameAnswer(const AlmExp_t& a, const AlmExp_t& b) {
  if (a.AlarmName != b.AlarmName || a.AlarmLevel != b.AlarmLevel || a.Reasons.size() != b.Reasons.size()) return false;
  for (size_t i = 0; i < a.Reasons.size(); ++i) {
    if (a.Reasons[i].ReasonID != b.Reasons[i].ReasonID || a.Reasons[i].ExpTimeStamp != b.Reasons[i].ExpTimeStamp)
      return false;
  }
  return true;
}

void BM_KbStaticInfoVsHashMap(benchmark::State& state) {
  CAlarmExpOperator* op = loadedOperator();
  std::list<AlmBasicExp_t> all;
  if (op->getAlarmExpBasicInfo(all) != 33000 || all.size() != static_cast<size_t>(kAlarms)) {
    state.SkipWithError("the buffer was not loaded");
    return;
  }
  HashMap map;
  Kyrofm::AlmBasicExpTable table;
  for (const auto& b : all) {
    map.emplace(AlarmInfo_t(b.m_lGroupId, b.m_lAlarmId), b);
    table.insert_unique(b);
  }
  for (const auto& b : all) {
    AlarmInfo_t k(b.m_lGroupId, b.m_lAlarmId);
    AlmExp_t viaOp, viaMap;
    op->getAlmStaticInfo(k, viaOp);
    op->asignBasic2Exp(map.find(k)->second, viaMap);
    if (!sameAnswer(viaOp, viaMap) || table.find(k)->AlarmName != viaMap.AlarmName) {
      state.SkipWithError("buffer and hash map disagree");
      return;
    }
  }
  std::mt19937 rng(7);
  std::vector<AlarmInfo_t> probe;
  for (int i = 0; i < 4096; ++i) probe.emplace_back(static_cast<long>(rng() % 100), static_cast<long>(rng() % 200));

  long sum = 0;
  auto opPass = [&] {
    double t0 = cpuNs();
    for (auto k : probe) {
      AlmExp_t e;
      op->getAlmStaticInfo(k, e);
      sum += e.AlarmLevel + static_cast<long>(e.Reasons.size());
    }
    return cpuNs() - t0;
  };
  auto mapPass = [&] {
    double t0 = cpuNs();
    for (const auto& k : probe) {
      AlmExp_t e;
      auto it = map.find(k);
      if (it != map.end()) op->asignBasic2Exp(it->second, e);
      sum += e.AlarmLevel + static_cast<long>(e.Reasons.size());
    }
    return cpuNs() - t0;
  };
  auto tableFind = [&] {
    double t0 = cpuNs();
    for (const auto& k : probe) sum += table.find(k)->AlarmLevel;
    return cpuNs() - t0;
  };
  auto mapFind = [&] {
    double t0 = cpuNs();
    for (const auto& k : probe) sum += map.find(k)->second.AlarmLevel;
    return cpuNs() - t0;
  };
  std::vector<double> tOp, tMap, tTable, tMapFind;
  for (auto _ : state) {
    for (int rep = 0; rep < 9; ++rep) {
      if (rep % 2) {
        tOp.push_back(opPass());
        tMap.push_back(mapPass());
        tTable.push_back(tableFind());
        tMapFind.push_back(mapFind());
      } else {
        tMap.push_back(mapPass());
        tOp.push_back(opPass());
        tMapFind.push_back(mapFind());
        tTable.push_back(tableFind());
      }
    }
  }
  benchmark::DoNotOptimize(sum);
  const double n = static_cast<double>(probe.size());
  state.counters["getAlmStaticInfo_ns"] = median(tOp) / n;
  state.counters["map_find_copy_ns"] = median(tMap) / n;
  state.counters["table_find_ns"] = median(tTable) / n;
  state.counters["map_find_ns"] = median(tMapFind) / n;
  fmbench::goal("KB buffer getAlmStaticInfo vs unordered_map find+copy (20k alarms, time ratio)", "-",
                fixed(median(tOp) / median(tMap), 2, "x"), "info");
  fmbench::goal("KB buffer hash table find vs unordered_map find (20k alarms, time ratio)", "-",
                fixed(median(tTable) / median(tMapFind), 2, "x"), "info");
}
BENCHMARK(BM_KbStaticInfoVsHashMap)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
