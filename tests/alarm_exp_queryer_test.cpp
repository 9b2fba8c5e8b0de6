// Tests of the explanation queryer on SQLite and, under scripts/with-postgres,
// PostgreSQL: reads by key and group (by time: the operator suite's peer); the
// single answer with its reason-table fallback and its caches kept coherent
// with the table; the bulk path checked against the single path on generated
// alarms; the version id.
#include <gtest/gtest.h>

#include <atomic>
#include <random>

#include "fm_common/fmlog/AlarmExpQueryer.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "fm_common/platform/KyroSetting.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Kyrofmdb::CDBMaintain;
using Kyrofmdb::CFMDBGuard;
using Kyrofmdb::CFMDBTools;
using Kyrofmdb::SACommand;
using Kyrofmdb::SAConnection;

struct Row {
  long g, a, r;
  std::string explain, advice, meaning;
  long stamp = 1, merge = 0;
};

void insertRows(const std::string& table, const std::vector<Row>& rows) {
  ASSERT_EQ(CFMDBGuard::run(__FILE__, __LINE__, "test", FM_FAILURE, [&](SAConnection& conn) -> long {
              SACommand ins(&conn);
              ins.SetExecBatch(true);
              ins.SetTable(table);
              for (const Row& x : rows) {
                ins.Param("GroupID").setAsLong() = x.g;
                ins.Param("ReasonID").setAsLong() = x.r;
                ins.Param("Explain").setAsString() = x.explain;
                ins.Param("ClearAdvice").setAsString() = x.advice;
                if (table == "tbl_alm_exp_info") {
                  ins.Param("AlarmID").setAsLong() = x.a;
                  ins.Param("Meaning").setAsString() = x.meaning;
                  ins.Param("AlarmName").setAsString() = "n" + std::to_string(x.a);
                  ins.Param("ExpTimeStamp").setAsLong() = x.stamp;
                  ins.Param("MergeStrategy").setAsLong() = x.merge;
                }
                ins.EndRow();
              }
              ins.Execute(static_cast<int>(rows.size()));
              return FM_SUCCESS;
            }),
            FM_SUCCESS);
}

class AlarmExpQueryerTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const std::string url = fmtest::databaseUrlFor(GetParam(), "kbq");
    if (url.empty()) GTEST_SKIP() << "no PostgreSQL (run under scripts/with-postgres)";
    CDBMaintain::instance()->setDBUrl(url);
    ASSERT_EQ(CDBMaintain::instance()->Init(5), FM_SUCCESS);
    ASSERT_EQ(CFMDBTools::ExecuteSQL("delete from tbl_alm_exp_info", 1), FM_SUCCESS);
    ASSERT_EQ(CFMDBTools::ExecuteSQL("delete from tbl_alm_exp_reason", 1), FM_SUCCESS);
    CAlarmExpQueryer::destroy();
    q = CAlarmExpQueryer::instance();
  }
  void TearDown() override {
    CAlarmExpQueryer::destroy();
    CDBMaintain::instance()->setDBUrl("");
  }
  ExpandInfo_t single(long g, long a, long r) {
    ExpandInfo_t info;
    EXPECT_EQ(q->getExpAndAdvice(AlarmInfoEx_t(g, a, r), info), FM_SUCCESS);
    return info;
  }
  CAlarmExpQueryer* q = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Db, AlarmExpQueryerTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST_P(AlarmExpQueryerTest, ReadsByKeysGroupTimeNameAndMergeStrategy) {
  std::vector<Row> rows;
  for (long a = 0; a < 450; ++a) rows.push_back({1, a, 0, "e", "c", "m", a, a % 100 == 0});
  rows.push_back({1, 5, 1, "e1", "c1", "m"});
  rows.push_back({7, 1, 0, "x", "y", "m"});
  rows.push_back({7, 2, 0, "x", "y", "m"});
  insertRows("tbl_alm_exp_info", rows);
  std::list<AlarmInfo_t> keys;
  for (long a = 0; a < 450; ++a) keys.emplace_back(1, a);
  std::list<AlmExp_t> out;
  {
    fmtest::TraceCapture cap;
    ASSERT_EQ(q->queryFromDB(keys, out), FM_SUCCESS);
    EXPECT_EQ(cap.count("executeQuery sql"), 3u);  // 200 + 200 + 50 keys
  }
  ASSERT_EQ(out.size(), 450u);
  auto five = std::find_if(out.begin(), out.end(), [](const AlmExp_t& e) { return e.m_lAlarmId == 5; });
  ASSERT_EQ(five->Reasons.size(), 2u);  // rows combined per key
  EXPECT_EQ(five->Reasons[1].Explain, "e1");
  ASSERT_EQ(q->queryFromDB({AlarmInfo_t(7, -1), AlarmInfo_t(1, 3)}, out), FM_SUCCESS);
  EXPECT_EQ(out.size(), 2u);  // group 7 only
  ASSERT_EQ(q->queryFromDB({}, out), FM_INVALID_ARG);
  std::map<AlarmInfo_t, std::string> names;
  ASSERT_EQ(q->queryAllOldNames(names), FM_SUCCESS);
  EXPECT_EQ(names.size(), 452u);
  EXPECT_EQ(names[AlarmInfo_t(7, 2)], "n2");
  std::set<AlarmExpKey> freq;
  ASSERT_EQ(CAlarmExpQueryer::loadAlmKey4Frequency(freq), FM_SUCCESS);
  EXPECT_EQ(freq, (std::set<AlarmExpKey>{{1, 0}, {1, 100}, {1, 200}, {1, 300}, {1, 400}}));
}

TEST_P(AlarmExpQueryerTest, SingleAnswerFallsBackOnlyForItsOwnBlankAdvice) {
  insertRows("tbl_alm_exp_info", {{3, 12, 7, "own", "  ", "m12"}, {3, 13, 7, "it's", "say \"x\"", "m13"},
                                  {3, 14, 8, "e14", "", "m14"}});
  insertRows("tbl_alm_exp_reason", {{3, 0, 7, "grp", "gadv", ""}});
  ExpandInfo_t i = single(3, 12, 7);
  EXPECT_EQ(i.m_strExplanation + "|" + i.m_strClearAdvice + "|" + i.m_strMeaning, "grp|gadv|m12");
  ExpandInfo_t mem;
  EXPECT_EQ(q->getExpAndAdviceFromMem(AlarmInfoEx_t(3, 12, 7), mem), FM_SUCCESS);
  // (3, -1, 7) is cached now, yet alarm 13 has advice of its own.
  i = single(3, 13, 7);
  EXPECT_EQ(i.m_strExplanation + "|" + i.m_strClearAdvice, "it's|say \"x\"");
  i = single(3, 14, 8);  // blank advice, no reason row: the row's own texts
  EXPECT_EQ(i.m_strExplanation + "|" + i.m_strClearAdvice + "|" + i.m_strMeaning, "e14||m14");
  i = single(3, 99, 7);  // no row: the reason table, but nothing cached
  EXPECT_EQ(i.m_strExplanation, "grp");
  EXPECT_EQ(q->getExpAndAdviceFromMem(AlarmInfoEx_t(3, 99, 7), mem), FM_FAILURE);
  ExpandInfo_t none;
  EXPECT_EQ(q->getMeanFromDB(AlarmInfo_t(3, 99), none), FM_SUCCESS);
  EXPECT_EQ(q->getMeanFromMem(AlarmInfo_t(3, 99), none), FM_FAILURE);
  // The uncached read falls back only when the alarm has no row at all.
  std::string e, c, m;
  ASSERT_EQ(q->getExplainAndClearAdvice(AlarmInfo_t(3, 12), 7, e, c, m), FM_SUCCESS);
  EXPECT_EQ(e + "|" + c + "|" + m, "own|  |m12");
  ASSERT_EQ(q->getExplainAndClearAdvice(AlarmInfo_t(3, 50), 7, e, c, m), FM_SUCCESS);
  EXPECT_EQ(e + "|" + c, "grp|gadv");
  std::list<GroupReasonExp_t> gr;
  ASSERT_EQ(q->getGroupReasonExp({{3, 7}, {3, 8}}, gr), FM_SUCCESS);
  ASSERT_EQ(gr.size(), 1u);
  EXPECT_EQ(gr.front().m_strClearAdvice, "gadv");
}

TEST_P(AlarmExpQueryerTest, CachesFollowUpdatesAndDeletesAndStopAtTheirLimit) {
  std::vector<Row> rows;
  for (long a = 0; a <= 1000; ++a) rows.push_back({2, a, 0, "e", "c", "m"});
  insertRows("tbl_alm_exp_info", rows);
  for (long a = 0; a <= 1000; ++a) single(2, a, 0);
  EXPECT_EQ(CAlarmExpQueryer::expCacheSize(), 1000u);
  EXPECT_EQ(CAlarmExpQueryer::meanCacheSize(), 1000u);
  ExpandInfo_t mem;
  EXPECT_EQ(q->getExpAndAdviceFromMem(AlarmInfoEx_t(2, 1000, 0), mem), FM_FAILURE);
  AlmExp_t upd;
  upd.m_lGroupId = 2;
  upd.m_lAlarmId = 1;
  upd.Reasons.resize(1);
  upd.Reasons[0].Explain = "new";
  upd.Reasons[0].ClearAdvice = "adv";
  upd.Reasons[0].Meaning = "mm";
  CAlarmExpQueryer::updateExpToMem({upd});
  ExpandInfo_t i = single(2, 1, 0);
  EXPECT_EQ(i.m_strExplanation + "|" + i.m_strClearAdvice + "|" + i.m_strMeaning, "new|adv|mm");
  upd.Reasons[0].ClearAdvice = " ";  // now answered by the reason table
  CAlarmExpQueryer::updateExpToMem({upd});
  EXPECT_EQ(q->getExpAndAdviceFromMem(AlarmInfoEx_t(2, 1, 0), mem), FM_FAILURE);
  upd.m_lAlarmId = 2;
  CAlarmExpQueryer::deleteExpFromMem({upd});
  EXPECT_EQ(q->getMeanFromMem(AlarmInfo_t(2, 2), mem), FM_FAILURE);
}

TEST_P(AlarmExpQueryerTest, BulkAnswersEqualSingleAnswers) {
  std::mt19937 rnd(7);
  std::vector<Row> info, reason;
  for (long g = 0; g < 6; ++g)
    for (long r = 0; r < 3; ++r) {
      if (rnd() % 2) reason.push_back({g, 0, r, "g'" + std::to_string(g), "ga" + std::to_string(r), ""});
      for (long a = 0; a < 20; ++a) {
        const unsigned kind = rnd() % 4;  // 0 no row, 1 blank advice, else own advice
        if (kind > 0) info.push_back({g, a, r, "e" + std::to_string(a), kind == 1 ? " " : "it's " + std::to_string(r),
                                      "m" + std::to_string(g * 100 + a)});
      }
    }
  insertRows("tbl_alm_exp_info", info);
  insertRows("tbl_alm_exp_reason", reason);
  ExpInfoMap exp;
  MeanInfoMap mean;
  for (int pass = 0; pass < 2; ++pass) {  // the second call reuses the maps
    std::list<AlmRecord_t> recs;
    for (int n = 0; n < 200; ++n) {
      AlmRecord_t rec;
      rec.setGroupId(rnd() % 6);
      rec.setAlarmId(rnd() % 20);
      rec.setReasonId(rnd() % 3);
      recs.push_back(rec);
    }
    q->batchGetExpAndMean(recs, 400, exp, mean);
    for (const AlmRecord_t& rec : recs) {
      AlarmInfoEx_t k(rec.getGroupId(), rec.getAlarmId(), rec.getReasonId());
      ExpandInfo_t bulk, one;
      ASSERT_TRUE(CAlarmExpQueryer::getExpAndAdvice(k, bulk, exp, mean));
      ASSERT_EQ(q->getExpAndAdviceFromDB(k, one), FM_SUCCESS);
      ASSERT_EQ(q->getMeanFromDB(k, one), FM_SUCCESS);
      EXPECT_EQ(bulk.m_strExplanation + "|" + bulk.m_strClearAdvice + "|" + bulk.m_strMeaning,
                one.m_strExplanation + "|" + one.m_strClearAdvice + "|" + one.m_strMeaning)
          << k.m_lGroupId << "/" << k.m_lAlarmId << "/" << k.m_lReasonId << " pass " << pass;
    }
  }
  std::list<AlmRecord_t> few(49);
  ExpInfoMap e2;
  q->batchGetExpAndMean(few, 400, e2, mean);
  EXPECT_TRUE(e2.empty());
  std::vector<std::string> left;
  ASSERT_EQ(CFMDBTools::getFMDbTables("t/_exp/_info%", left), FM_SUCCESS);
  EXPECT_TRUE(left.empty());  // the key tables were dropped
}

// Readers fill the cache while a writer changes the table and drops the cached
// texts after each change, as the operator does: no reader may put back a
// text it read before the change.
TEST_P(AlarmExpQueryerTest, ConcurrencyCacheNeverKeepsATextOlderThanTheTable) {
  insertRows("tbl_alm_exp_info", {{4, 1, 0, "v0", "c", "m"}, {4, 2, 0, "v0", "c", "m"}});
  std::atomic<bool> done{false};
  AlmExp_t e;
  e.m_lGroupId = 4;
  e.Reasons.resize(1);
  fmtest::runTogether(4, [&](int t) {
    for (int v = 1; t == 0 && v <= 40; ++v) {
      EXPECT_EQ(CFMDBTools::ExecuteSQL("update tbl_alm_exp_info set Explain='v" + std::to_string(v) + "'", 1),
                FM_SUCCESS);
      for (long a : {1, 2}) {
        e.m_lAlarmId = a;
        CAlarmExpQueryer::deleteExpFromMem({e});
      }
    }
    if (t == 0) done = true;
    while (!done) single(4, 1 + t % 2, 0);
  });
  EXPECT_EQ(single(4, 1, 0).m_strExplanation, "v40");
  EXPECT_EQ(single(4, 2, 0).m_strExplanation, "v40");
}

TEST(AlmExpVersionIDTest, UpgradeWrapsAndWritesSettingsAndFile) {
  AlmExpVersionID* v = AlmExpVersionID::instance();
  const std::string path = "/kyro/vela/fmdb/tables/ALARM_EXPLAIN/versionId";
  ASSERT_EQ(Setting::instance()->setParam(path, "1.2.5000000"), 0);
  ASSERT_EQ(v->upgradeVersion(), FM_SUCCESS);
  std::string text, file;
  ASSERT_EQ(v->getVersion(text), FM_SUCCESS);
  EXPECT_EQ(text, "1.2.1");
  ASSERT_EQ(ConfigAdapter::readValue("KYRO_velasvc.xml", "vela/fmdb/tables/ALARM_EXPLAIN", "versionId", file), 0);
  EXPECT_EQ(file, "1.2.1");
  for (const char* bad : {"1", "1.2"}) {
    ASSERT_EQ(Setting::instance()->setParam(path, bad), 0);
    EXPECT_EQ(v->getVersion(text), FM_FAILURE) << bad;
  }
  // A third part that is there but empty reads as 0.
  ASSERT_EQ(Setting::instance()->setParam(path, "1.2."), 0);
  EXPECT_EQ((v->getVersion(text), text), "1.2.0");
  EXPECT_EQ(v->writeToFile(""), FM_INVALID_ARG);
  AlmExpVersionID::destroy();
}

}  // namespace
}  // namespace Kyrofm
