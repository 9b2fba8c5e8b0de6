// Tests of the field and parameter leaves: values and content accepted or
// rejected (with their message, leaving the leaf unchanged), the count and
// size rules, and the differential check: on one generated record set, for
// every leaf, operator code and alarm table (and both bit-test dialects), the
// rows its SQL selects are the records evaluate accepts, or differ exactly as
// the leaf's contract says.
#include <gtest/gtest.h>

#include <array>

#include <functional>
#include <map>

#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/filter/ParamLeaves.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/CCentralCfg.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "support/FmFilterDiff.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Values = std::list<std::string>;
using Make = std::function<std::unique_ptr<BasicExp>(char op)>;
template <typename T>
Make mk() {
  return [](char op) { return std::make_unique<T>("C", op); };
}

class FieldLeavesTest : public ::testing::Test {
 protected:
  void SetUp() override {  // types 1..11, levels 1..4
    CCentralCfg::SetRecConfigFileName(std::string(FM_SOURCE_DIR) + "/etc/fm.xml");
    CRecStringMap::Destroy(), CRecStringMap::Instance();
  }
  void TearDown() override { CRecStringMap::Destroy(), CCentralCfg::SetRecConfigFileName(""); }
};

// A state fingerprint: the SQL on two tables and the verdict on a few records.
std::string state(const BasicExp& e) {
  std::string s = e.sqlWhereCond("tbl_cur_alm") + "|" + e.sqlWhereCond("tbl_event_log") + "|" +
                  std::to_string(e.isMatchAll()) + std::to_string(e.getSqlWhereCondLimitCount());
  for (long v : {0L, 1L, 3L, 6L}) {
    AlmRecord_t r;
    r.setSeverity(static_cast<char>(v)), r.setAlarmType(v), r.setLogId(v), r.setGroupId(v), r.setAlarmId(6);
    r.setParam(1, v), r.setParam(8, v), r.setIntExtParam(0, 1, v), r.setStrExtParam(1, 3, std::to_string(v));
    s += e.evaluate(r) ? "1" : "0";
  }
  return s;
}

TEST_F(FieldLeavesTest, RejectedValuesLogOnceAndLeaveTheLeafUnchanged) {
  struct Case {
    Make make;
    Values good, bad;
    std::string msg;  // the rejection's line; empty: none
    bool content;     // bad is given as content (joined by ",")
  };
  const Case cases[] = {
      {mk<LevelExp>(), {"1", "3"}, {"2", "5"}, "CAlmValidCheck::isAlmLevelValid failed, input is: 5", false},
      {mk<LevelExp>(), {"1", "3"}, {"2", "x"}, "LevelExp::setFilter, invalid value: x", false},
      {mk<LevelExp>(), {"1", "3"}, {"257"}, "LevelExp, value out of range: 257", true},
      {mk<AlarmTypeExp>(), {"1"}, {"12"}, "CAlmValidCheck::isAlmTypeValid failed, input is: 12", false},
      {mk<CategoryExp>(), {"1"}, {"1", "6"}, "CAlmValidCheck::isCategoryValid failed, input is: 6", true},
      {mk<CsnExp>(), {"7"}, {"-1"}, "CAlmValidCheck::isAlmCsnValid failed, input is: -1", false},
      {mk<StatusExp>(), {"1"}, {"XX", "na"}, "", true},
      {mk<ParamExp>(), {"0", "3"}, {}, "", true},  // no values
      {mk<IdentifyExp>(), {"1"}, {"33"}, "IdentifyExp::setFilter, invalid identifier: 33", false},
      {mk<ParamExp>(), {"0", "3"}, {"10", "1"}, "ParamExp::setFilter, invalid param index: 10", false},
      {mk<IntExtParamExp>(), {"0", "1", "3"}, {"0"}, "IntExtParamExp::setFilter failed, the filter's size is:(1)",
       false},
      {mk<StrExtParamExp>(), {"1", "3", "1"}, {"1"}, "StrExtParamExp::setFilter failed, lstFilter size:1", false},
      {mk<StrExtParamExp>(), {"1", "3"}, {"2", "0"}, "StrExtParamExp::setFilter, prop is null, group:2, index:0",
       false},
      {mk<Param8BitandExp>(), {"1"}, {"3", "32"}, "Param8BitandExp::setFilter, invalid bit: 32", false},
  };
  for (const auto& c : cases) {
    auto e = c.make(1);
    ASSERT_TRUE(e->setFilter(c.good, false)) << c.msg;
    const std::string before = state(*e);
    fmtest::TraceCapture cap;
    std::string joined;
    for (const auto& v : c.bad) joined += (joined.empty() ? "" : ",") + v;
    EXPECT_FALSE(c.content ? e->setStringContent(joined) : e->setFilter(c.bad, false)) << c.msg;
    EXPECT_EQ(cap.sink().messages().size(), c.msg.empty() ? 0u : 1u) << c.msg;
    if (!c.msg.empty()) {
      EXPECT_EQ(cap.count(c.msg, TRACE_ERROR), 1u) << c.msg;
    }
    EXPECT_EQ(state(*e), before) << c.msg;
  }
  // An odd key list empties the leaf (it then accepts nothing).
  AlarmInfoExp info("C", 1);
  ASSERT_TRUE(info.setFilter({"5", "-1"}, false));
  fmtest::TraceCapture cap;
  EXPECT_FALSE(info.setFilter({"5", "-1", "7"}, false));
  EXPECT_EQ(cap.count("AlarmInfoExp::setFilter, odd number of values: 3"), 1u);
  EXPECT_TRUE(info.getKeys().empty());
  EXPECT_EQ(info.sqlWhereCond("tbl_cur_alm"), " ( 0 > 1 ) ");
  // Empty lists are accepted as "no condition", with their line.
  EXPECT_TRUE(ParamExp("C", 1).setFilter({}, false));
  EXPECT_TRUE(Param8BitandExp("C", 1).setFilter({}, false));
  EXPECT_EQ(cap.count("ParamExp::setFilter, the lstFilter is empty.") +
                cap.count("Param8BitandExp::setFilter, the lstFilter is empty."), 2u);
}

// A tree answers from copies of its leaves' tables, taken when it is first
// evaluated; a leaf set again after that answers with its new values.
TEST_F(FieldLeavesTest, LeavesSetAgainAfterTheTreeWasEvaluated) {
  for (bool setLevel : {true, false}) {
    auto* level = new LevelExp("L", 1);
    auto* info = new ExtendInfoExp("E", 7);
    ASSERT_TRUE(level->setFilter({"1"}, false) && info->setFilter({""}, false));
    OrAlarmExp tree(level, info);
    AlmRecord_t r;
    r.setSeverity(3);
    EXPECT_FALSE(tree.evaluate(r));  // "" is in every text but the empty one
    r.setExtendInfo("x");
    EXPECT_TRUE(tree.evaluate(r));
    ASSERT_TRUE(setLevel ? level->setFilter({"2"}, false) : info->setFilter({"y"}, false));
    if (setLevel) r.setSeverity(2), r.setExtendInfo("");
    EXPECT_EQ(tree.evaluate(r), setLevel);
  }
}

TEST_F(FieldLeavesTest, CountRulesTextsAndLimits) {
  struct Case {
    Make make;
    std::string content;
    std::string table;
    std::string sql;
    long limit;
    bool all;
  };
  const Case cases[] = {
      {mk<LevelExp>(), "4,2,3,1", "tbl_cur_alm", "", 0, true},
      {mk<LevelExp>(), "1,1,2,3", "x", "", 0, false},
      {mk<AlarmTypeExp>(), "1,2,3,4,5,6,7,8,9,10,11", "tbl_alm_log", "", 0, true},
      {mk<StatusExp>(), "NANR,YAYR", "TBL_CUR_ALM",
       " ( ( IsConfirmed = 0 and IsCleared = 0)  or  ( IsConfirmed = 1 and IsCleared = 1) ) ", 2, false},
      {mk<CategoryExp>(), "3", "x", "", 0, false},
      {mk<CsnExp>(), "1,2", "x", "", 1, false},
      {mk<IdentifyExp>(), "1,2,2", "x", "", 2, false},
  };
  for (const auto& c : cases) {
    auto e = c.make(1);
    ASSERT_TRUE(e->setStringContent(c.content)) << c.content;
    if (c.table != "x") {
      EXPECT_EQ(e->sqlWhereCond(c.table), c.sql) << c.content;
    }
    EXPECT_EQ(e->getSqlWhereCondLimitCount(), c.limit) << c.content;
    EXPECT_EQ(e->isMatchAll(), c.all) << c.content;
  }
  for (auto [cat, cleared, acked, type] : {std::array<int, 4>{3, 1, 1, 2}, {1, 1, 1, 3}, {1, 1, 0, 1}, {1, 0, 1, 1}}) {
    AlmRecord_t a;
    a.setCategory(cat), a.setClearStatus(static_cast<char>(cleared)), a.setAckStatus(static_cast<char>(acked));
    EXPECT_EQ(LogTypeExp::derivedLogType(a), type) << cat << cleared << acked;
  }
  fmtest::TraceCapture cap;
  LogTypeExp log("C", 1);
  for (const auto& lt : std::vector<std::pair<int, std::string>>{{1, " Cat= 1"}, {2, ""}, {5, " Cat= 1"}, {0, " Cat= 1"}}) {
    log.setLogType(lt.first);
    EXPECT_EQ(log.sqlWhereCond("tbl_cur_alm"), lt.second);
  }
  EXPECT_EQ(log.sqlWhereCond("TBL_EVENT_LOG"), "");
  EXPECT_EQ(cap.count("LogTypeExp sqlWhereCond iLogType:0"), 2u);
  EXPECT_EQ(IntExtParamExp("C", 1).sqlWhereCond("t") + StrExtParamExp("C", 1).sqlWhereCond("t"), " 0 > 1  0 > 1 ");
  EXPECT_EQ(cap.count("IntExtParamExp::sqlWhereCond, prop is null, group:-1, index:-1"), 1u);
  EXPECT_EQ(cap.count("StrExtParamExp::sqlWhereCond, prop is null, group:-1, index:-1"), 1u);
  AlmRecord_t r;
  EXPECT_FALSE(StrExtParamExp("C", 1).evaluate(r));
  // Field (1, 3) of an alarm empty under operator 1: field (1, 1) must be empty too.
  StrExtParamExp pair("C", 1);
  ASSERT_TRUE(pair.setStringContent("1,3,"));
  r.setCategory(1), r.setStrExtParam(1, 1, "dev");
  EXPECT_FALSE(pair.evaluate(r));
  EXPECT_TRUE((r.setCategory(2), pair.evaluate(r)));
  // Field (1, 3) alone pairs: an empty field (1, 2) matches whatever field (1, 1) holds.
  ASSERT_TRUE(pair.setStringContent("1,2,"));
  EXPECT_TRUE((r.setCategory(1), pair.evaluate(r)));
}

// ---------------------------------------------------------------------------
// Differential: one record set per backend, every leaf, operator and table.

std::vector<AlmRecord_t> generate() {
  std::vector<AlmRecord_t> out;
  const long cats[] = {1, 3, 2, 9};
  const long bigs[] = {0, -1, 1L << 31, (1L << 31) | 6, -2147483648L, 1L << 40, 9, 255};
  const char* texts[] = {"", "abc", "xabcx", "O'B", "b", "10%"};
  for (int i = 0; i < 432; ++i) {
    AlmRecord_t r;
    r.setLogId(i + 1);
    r.setCategory(cats[i % 4]);
    r.setAckStatus(static_cast<char>(i / 4 % 3));      // 0, 1, other
    r.setClearStatus(static_cast<char>(i / 12 % 3 == 2 ? 3 : i / 12 % 3));
    r.setSeverity(static_cast<char>(i % 6)), r.setAlarmType(i % 13), r.setLinkType(i % 3), r.setNEType(i % 5 - 1);
    r.setGroupId(i % 7 - 1), r.setAlarmId(i % 5 - 1);  // -1 parts
    for (int p : {1, 2, 3, 10}) r.setParam(p, (i * p) % 5 - 2);
    r.setParam(8, bigs[i % 8] ^ (i / 8 % 4));
    if (i % 3 != 0) r.setIntExtParam(0, 1, i % 9 - 4);  // absent on a third
    if (i % 4 != 0) r.setStrExtParam(1, 3, texts[i % 6]);
    if (i % 5 != 0) r.setStrExtParam(1, 1, texts[(i + 2) % 6]);
    r.setExtendInfo(texts[i / 3 % 6]);
    out.push_back(r);
  }
  return out;
}

class FieldLeavesDiffTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    static std::map<std::string, std::unique_ptr<fmtest::FilterDiffTable>> tables;
    std::string skip = fmtest::useFilterDatabase(GetParam());
    if (!skip.empty()) GTEST_SKIP() << skip;
    auto& t = tables[GetParam()];
    if (!t || !t->intact()) t = std::make_unique<fmtest::FilterDiffTable>("tbl_leaf_diff", generate());
    ASSERT_TRUE(t->ok());
    m_t = t.get();
    CCentralCfg::SetRecConfigFileName(std::string(FM_SOURCE_DIR) + "/etc/fm.xml");
    CRecStringMap::Destroy(), CRecStringMap::Instance();
  }
  void TearDown() override {
    Kyrofmdb::CDBMaintain::instance()->setDBTypeOverride(0);
    Kyrofmdb::CDBMaintain::instance()->setDBUrl("");
    CRecStringMap::Destroy(), CCentralCfg::SetRecConfigFileName("");
  }
  std::set<long> where(const std::function<bool(const AlmRecord_t&)>& f) const {
    std::set<long> s;
    for (const auto& r : m_t->records()) if (f(r)) s.insert(r.getLogId());
    return s;
  }
  const fmtest::FilterDiffTable* m_t = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Db, FieldLeavesDiffTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST_P(FieldLeavesDiffTest, SqlSelectsWhatEvaluateAccepts) {
  fmtest::TraceCapture quiet;  // between-with-one-value and bad-operator lines
  enum Rule { SAME, STR, PARAM_NO_VALUES, STATUS, CATEGORY };
  struct Case {
    Make make;
    Values values;
    Rule rule;
  };
  const Case cases[] = {
      {mk<CategoryExp>(), {"1", "3"}, CATEGORY},       {mk<LevelExp>(), {"2", "3"}, SAME},
      {mk<AlarmTypeExp>(), {"4", "11"}, SAME},         {mk<LinkTypeExp>(), {"1"}, SAME},
      {mk<AlmNETypeExp>(), {"-1", "0", "3"}, SAME},    {mk<CsnExp>(), {"40", "41", "300"}, SAME},
      {mk<AlarmIDExp>(), {"-1", "2"}, SAME},           {mk<StatusExp>(), {"1", "6"}, STATUS},
      {mk<StatusExp>(), {"2", "3", "4", "7"}, STATUS}, {mk<StatusExp>(), {"4"}, STATUS},
      {mk<ExtendInfoExp>(), {"", "abc"}, STR},         {mk<ExtendInfoExp>(), {"O'B", "b"}, STR},
      {mk<AlarmInfoExp>(), {"3", "-1", "-1", "2", "1", "0", "4", "3"}, SAME},
      {mk<AlarmInfoExp>(), {"2", "1", "-1", "-1"}, SAME}, {mk<AlarmInfoExp>(), {"-1", "-1"}, SAME},
      {mk<IdentifyExp>(), {"1", "32"}, SAME},          {mk<IdentifyExp>(), {"3", "0"}, SAME},
      {mk<ParamExp>(), {"1", "-2", "0", "2"}, SAME},   {mk<ParamExp>(), {"9"}, PARAM_NO_VALUES},
      {mk<IntExtParamExp>(), {"0", "1", "-4", "0", "3"}, SAME}, {mk<IntExtParamExp>(), {"0", "1"}, SAME},
      {mk<StrExtParamExp>(), {"1", "3", ""}, STR},     {mk<StrExtParamExp>(), {"1", "3", "abc", "b"}, STR},
      {mk<StrExtParamExp>(), {"1", "1", ""}, STR},     {mk<Param8BitandExp>(), {"0", "1", "31"}, SAME},
      {mk<Param8BitandExp>(), {"3"}, SAME},
  };
  const char* tables[] = {"tbl_cur_alm", "tbl_alm_log", "tbl_event_log", "tbl_mask_alm"};
  const std::set<long> all = where([](const AlmRecord_t&) { return true; });
  const std::set<long> events = where([](const AlmRecord_t& r) { return r.getCategory() == 3; });
  for (int dialect : {0, 2}) {
    Kyrofmdb::CDBMaintain::instance()->setDBTypeOverride(dialect);
    for (const auto& c : cases) {
      for (char op = 1; op <= 12; ++op) {
        auto e = c.make(op);
        ASSERT_TRUE(e->setFilter(c.values, false));
        if (op == 1 && dynamic_cast<Param8BitandExp*>(e.get())) {  // both forms run on both databases
          EXPECT_NE(e->sqlWhereCond("tbl_cur_alm").find(dialect ? " bitand(para8, " : " (para8 & "), std::string::npos);
        }
        const std::set<long> mem = m_t->inMemory(*e);
        for (const char* table : tables) {
          const std::set<long> db = m_t->inDatabase(*e, table);
          const std::string where = c.values.front() + " op " + std::to_string(op) + " " + table;
          const std::string t = table;
          if (c.rule == STR && (op == 11 || op == 12)) {
            // SQL suffix/prefix matches are a part of the in-memory containment.
            EXPECT_TRUE(std::includes(mem.begin(), mem.end(), db.begin(), db.end())) << where;
          } else if (c.rule == CATEGORY && t == "tbl_event_log") {
            EXPECT_EQ(db, all) << where;  // the event log holds events only: no condition
          } else if (c.rule == PARAM_NO_VALUES) {
            EXPECT_EQ(db, all) << where;  // no condition in SQL
            EXPECT_EQ(mem, this->where([](const AlmRecord_t& r) { return r.getParam(10) != 0; })) << where;
          } else if (c.rule == STATUS && t != "tbl_cur_alm" && t != "tbl_alm_log") {
            EXPECT_EQ(db, t == "tbl_event_log" ? all : std::set<long>()) << where;
          } else if (c.rule == STATUS) {
            // Alarm terms judge event rows in alarm tables as alarms.
            for (long id : all) {
              if (events.count(id) == 0) {
                EXPECT_EQ(mem.count(id), db.count(id)) << where << " row " << id;
              }
            }
          } else {
            EXPECT_EQ(db, mem) << where;
          }
        }
      }
    }
  }
  // The log type leaf's SQL follows the tree's log type, not its values.
  LogTypeExp log("C", 1);
  ASSERT_TRUE(log.setFilter({"2"}, false));
  log.setLogType(1);
  EXPECT_EQ(m_t->inDatabase(log, "tbl_alm_log"), where([](const AlmRecord_t& r) { return r.getCategory() == 1; }));
  EXPECT_EQ(m_t->inMemory(log), events);
  log.setLogType(2);
  EXPECT_EQ(m_t->inDatabase(log, "tbl_event_log"), all);
}

}  // namespace
}  // namespace Kyrofm
