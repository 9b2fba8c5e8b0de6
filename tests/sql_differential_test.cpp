// Differential tests of the filter SQL: thousands of generated alarm records
// with boundary values are written to an alarm table (SQLite and, under
// scripts/with-postgres, PostgreSQL); for every operator code 1-12 and value
// sets of 1, 2, 240, 241 and 500 values on an integer and a string leaf, the
// rows the leaf's sqlWhereCond selects must be exactly the records its
// evaluate accepts, also under NOT and in AND/OR combinations.
//
// Codes 11 and 12 differ by design: in memory they accept a value that
// contains some element of the set, in SQL they select only values that end
// (11) or begin (12) with one. The tests state that difference: the SQL rows
// are exactly the suffix (prefix) matches, and each of them is accepted in
// memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <random>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/filter/ParamLeaves.h"
#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "support/FmFilterDiff.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Kyrofmdb::CDBMaintain;

// A private alarm table (the columns of every alarm table) so that other
// suites emptying the real ones do not disturb the records written once.
const char* const kTable = "tbl_diff_alm";

// Leaves on the first numbered parameter (column para1) and on the extend
// information (column ExtendInfo).
std::unique_ptr<BasicExp> intLeaf(int op, const std::set<long>& values) {
  std::list<std::string> filter{"0"};
  for (long v : values) filter.push_back(std::to_string(v));
  auto e = std::make_unique<ParamExp>("P", static_cast<char>(op));
  EXPECT_TRUE(e->setFilter(filter, false));
  return e;
}
std::unique_ptr<BasicExp> strLeaf(int op, const std::set<std::string>& values) {
  auto e = std::make_unique<ExtendInfoExp>("E", static_cast<char>(op));
  EXPECT_TRUE(e->setFilter({values.begin(), values.end()}, false));
  return e;
}

const std::vector<long>& intBoundaries() {
  static const std::vector<long> v = {LONG_MIN,     LONG_MIN + 1, -2147483649L, -2147483648L, -65536, -241, -240,
                                      -1,           0,            1,            2,            239,    240,    241,
                                      500,          65535,        2147483647L,  2147483648L,  LONG_MAX - 1, LONG_MAX};
  return v;
}

const std::vector<std::string>& strBoundaries() {
  static const std::vector<std::string> v = {
      "",        "a",         "A",       "ab",        "abc",      "b",       "ba",       "O'Brien", "''",
      "100%",    "100x",      "a_b",     "axb",       "\\",       "x\\y",    "%",        "_",       "a%",
      "\xE4\xB8\xAD\xE6\x96\x87", "\xE4\xB8\xAD", "\xC3\xBC", "z", "~", "a b", "NE=1,Board=2", "NE=1,Board=20"};
  return v;
}

class SqlDifferentialTest : public ::testing::TestWithParam<std::string> {
 protected:
  static constexpr int kRecords = 2400;

  void SetUp() override {
    // The records are generated and written once per database and reused by
    // every test of the suite.
    static std::map<std::string, std::unique_ptr<fmtest::FilterDiffTable>> tables;
    std::string skip = fmtest::useFilterDatabase(GetParam());
    if (!skip.empty()) GTEST_SKIP() << skip;
    auto& table = tables[GetParam()];
    if (!table || !table->intact()) table = std::make_unique<fmtest::FilterDiffTable>(kTable, generate());
    ASSERT_TRUE(table->ok());
    m_table = table.get();
    m_records = table->records();
  }

  static std::vector<AlmRecord_t> generate() {
    std::mt19937 rng(20261205);
    const auto& ints = intBoundaries();
    const auto& strs = strBoundaries();
    const std::string alphabet[] = {"a", "b", "c", "%", "_", "\\", "'", "\xE4\xB8\xAD", "Z", " "};
    std::vector<AlmRecord_t> records;
    for (int i = 0; i < kRecords; ++i) {
      AlmRecord_t r;
      r.setLogId(i + 1);  // the Csn column
      r.setParam(1, i % 3 == 0 ? ints[static_cast<size_t>(i / 3) % ints.size()] : static_cast<long>(rng() % 1201) - 600);
      std::string s = i % 3 == 1 ? strs[static_cast<size_t>(i / 3) % strs.size()] : "";
      for (int len = i % 3 == 1 ? 0 : static_cast<int>(rng() % 5); len > 0; --len) s += alphabet[rng() % 10];
      r.setExtendInfo(s);
      records.push_back(r);
    }
    return records;
  }

  void TearDown() override { CDBMaintain::instance()->setDBUrl(""); }

  // Value sets of n values drawn from the record values and some outside them.
  std::set<long> intValues(size_t n, std::mt19937& rng) const {
    std::set<long> s;
    const auto& ints = intBoundaries();
    for (size_t k = 0; s.size() < n; ++k) {
      s.insert(k < n / 2 || n <= 2 ? m_records[rng() % m_records.size()].getParam(1)
               : k % 2 == 0          ? ints[rng() % ints.size()]
                                     : static_cast<long>(rng() % 4000) - 2000);
    }
    return s;
  }
  std::set<std::string> strValues(size_t n, std::mt19937& rng) const {
    std::set<std::string> s;
    const auto& strs = strBoundaries();
    for (size_t k = 0; s.size() < n; ++k) {
      s.insert(k % 3 == 0 && k < 3 * strs.size() ? strs[rng() % strs.size()]
               : k % 3 == 1                         ? std::string(m_records[rng() % m_records.size()].getExtendInfo())
                                                    : "v" + std::to_string(rng() % 100000));
    }
    return s;
  }

  std::set<long> inMemory(const AlarmExp& e) const { return m_table->inMemory(e); }
  std::set<long> inDatabase(const AlarmExp& e) const { return m_table->inDatabase(e, kTable); }
  // Rows whose extend information ends (suffix) or begins with a value.
  std::set<long> affixMatches(const std::set<std::string>& values, bool suffix) const {
    std::set<long> out;
    for (const auto& r : m_records) {
      const std::string v = r.getExtendInfo();
      for (const auto& x : values) {
        const bool hit = v.size() >= x.size() && v.compare(suffix ? v.size() - x.size() : 0, x.size(), x) == 0;
        if (hit && !v.empty()) out.insert(r.getLogId());  // an empty text is a NULL column
      }
    }
    return out;
  }

  // The rows the leaf's SQL selects are the records it accepts, also under NOT;
  // for codes 11 and 12 of a string leaf (`values` given) they are the suffix
  // (prefix) matches, each accepted in memory.
  void expectAgree(const BasicExp& leaf, const std::string& where,
                   const std::set<std::string>* values = nullptr) const {
    const std::set<long> db = inDatabase(leaf), mem = inMemory(leaf);
    if (values && leaf.getOperator() >= 11) {
      EXPECT_EQ(db, affixMatches(*values, leaf.getOperator() == 11)) << where;
      EXPECT_TRUE(std::includes(mem.begin(), mem.end(), db.begin(), db.end())) << where;
      return;
    }
    EXPECT_EQ(db, mem) << where;
    NotAlarmExp neg(leaf.copy());
    EXPECT_EQ(inDatabase(neg), inMemory(neg)) << "not, " << where;
  }

  const fmtest::FilterDiffTable* m_table = nullptr;
  std::vector<AlmRecord_t> m_records;
};

INSTANTIATE_TEST_SUITE_P(Db, SqlDifferentialTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

const size_t kSizes[] = {1, 2, 240, 241, 500};

TEST_P(SqlDifferentialTest, EveryOperatorOnBothColumns) {
  fmtest::TraceCapture quiet;  // the between-with-one-value warnings
  std::mt19937 rng(7);
  for (int op = 1; op <= 12; ++op) {
    for (size_t n : kSizes) {
      const std::string where = "op " + std::to_string(op) + ", " + std::to_string(n) + " values";
      expectAgree(*intLeaf(op, intValues(n, rng)), "int " + where);
      const std::set<std::string> values = strValues(n, rng);
      expectAgree(*strLeaf(op, values), "str " + where, &values);
    }
  }
}

TEST_P(SqlDifferentialTest, AndOrCombinations) {
  fmtest::TraceCapture quiet;
  std::mt19937 rng(13);
  for (int round = 0; round < 40; ++round) {
    const int iop = 1 + static_cast<int>(rng() % 12), sop = 1 + static_cast<int>(rng() % 10);  // no affix codes
    const size_t n = kSizes[rng() % 5];
    AlarmExp* a = intLeaf(iop, intValues(n, rng)).release();
    AlarmExp* b = strLeaf(sop, strValues(n, rng)).release();
    std::unique_ptr<AlarmExp> tree;
    if (round % 2 == 0) {
      tree = std::make_unique<AndAlarmExp>(a, new NotAlarmExp(b));
    } else {
      tree = std::make_unique<OrAlarmExp>(new NotAlarmExp(a), b);
    }
    EXPECT_EQ(inDatabase(*tree), inMemory(*tree)) << "round " << round << ": int op " << iop << ", str op " << sop;
  }
}

// Contains lists of any length (SQLite refused one chain of 1 000 LIKE terms:
// "Expression tree is too large"): both databases prepare the chunked form.
// The values hold no empty text, which would match every row.
TEST_P(SqlDifferentialTest, LongContainsListsSelectWhatEvaluateAccepts) {
  std::mt19937 rng(17);
  for (size_t n : {999, 1000, 10000}) {
    std::set<std::string> values = strValues(n + 1, rng);
    values.erase("");
    while (values.size() > n) values.erase(std::prev(values.end()));
    for (int op : {7, 9, 11, 12}) {
      expectAgree(*strLeaf(op, values), "op " + std::to_string(op) + ", " + std::to_string(n) + " values", &values);
    }
  }
}

}  // namespace
}  // namespace Kyrofm
