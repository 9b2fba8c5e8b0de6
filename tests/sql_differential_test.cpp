// Differential tests of the filter SQL: thousands of generated alarm records
// with boundary values are written to an alarm table (SQLite and, under
// scripts/with-postgres, PostgreSQL); for every operator code 1-12 and value
// sets of 1, 2, 240, 241 and 500 values on an integer and a string column, the
// rows the leaf's sqlWhereCond selects must be exactly the records its
// evaluate accepts, also under NOT and in AND/OR combinations.
//
// Codes 11 and 12 differ by design: in memory they accept a value that
// contains some element of the set, in SQL they select only values that end
// (11) or begin (12) with one. The tests state that difference: the SQL rows
// are exactly the suffix (prefix) matches, and each of them is accepted in
// memory.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <random>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/filter/FieldLeaves.h"
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

// Integer leaf on the record's first numbered parameter (column para1).
class DiffIntLeaf : public BasicExp {
 public:
  DiffIntLeaf(char op, std::set<long> values) : BasicExp("DIFF_INT", op), m_values(std::move(values)) {}
  bool evaluate(const AlmRecord_t& r) const override { return evaluateInt(r.getParam(1), m_values); }
  std::string sqlWhereCond(const std::string& table) const override {
    return createIntSqlCond(table, "para1", m_values);
  }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_values.size()); }
  AlarmExp* copy() const override { return new DiffIntLeaf(*this); }
  bool setStringContent(const std::string&) override { return true; }
  bool setFilter(const std::list<std::string>&, bool) override { return true; }

 private:
  std::set<long> m_values;
};

// String leaf on the record's extend information (column ExtendInfo).
class DiffStrLeaf : public BasicExp {
 public:
  DiffStrLeaf(char op, std::set<std::string> values) : BasicExp("DIFF_STR", op), m_values(std::move(values)) {}
  bool evaluate(const AlmRecord_t& r) const override { return evaluateStr(r.getExtendInfo(), m_values); }
  std::string sqlWhereCond(const std::string& table) const override {
    return createStrSqlCond(table, "ExtendInfo", m_values);
  }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_values.size()); }
  AlarmExp* copy() const override { return new DiffStrLeaf(*this); }
  bool setStringContent(const std::string&) override { return true; }
  bool setFilter(const std::list<std::string>&, bool) override { return true; }

 private:
  std::set<std::string> m_values;
};

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
      if (i % 3 == 0) {
        r.setParam(1, ints[static_cast<size_t>(i / 3) % ints.size()]);
      } else {
        r.setParam(1, static_cast<long>(rng() % 1201) - 600);
      }
      // Time and bit-field columns for the dialect formulas.
      static const long dsts[] = {-131073, -65537, -65536, -21601, -1,    0,      1,
                                  21600,   25200,  65535,  65536,  86999, 87136, 152672};
      r.setOccurDst(dsts[static_cast<size_t>(i) % (sizeof dsts / sizeof dsts[0])]);
      r.setOccurUtcTime(1700000000L + static_cast<long>(rng() % 400000) - 200000);
      r.setParam(8, i % 5 == 0 ? ints[static_cast<size_t>(i / 5) % ints.size()] : static_cast<long>(rng() % 70000) - 35000);
      if (i % 3 == 1) {
        r.setExtendInfo(strs[static_cast<size_t>(i / 3) % strs.size()]);
      } else {
        std::string s;
        int len = static_cast<int>(rng() % 5);
        for (int k = 0; k < len; ++k) s += alphabet[rng() % 10];
        r.setExtendInfo(s);
      }
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
      if (k < n / 2 || n <= 2) {
        s.insert(m_records[rng() % m_records.size()].getParam(1));
      } else if (k % 2 == 0) {
        s.insert(ints[rng() % ints.size()]);
      } else {
        s.insert(static_cast<long>(rng() % 4000) - 2000);
      }
    }
    return s;
  }
  std::set<std::string> strValues(size_t n, std::mt19937& rng) const {
    std::set<std::string> s;
    const auto& strs = strBoundaries();
    for (size_t k = 0; s.size() < n; ++k) {
      if (k % 3 == 0 && k < 3 * strs.size()) {
        s.insert(strs[rng() % strs.size()]);
      } else if (k % 3 == 1) {
        s.insert(m_records[rng() % m_records.size()].getExtendInfo());
      } else {
        s.insert("v" + std::to_string(rng() % 100000));
      }
    }
    return s;
  }

  std::set<long> inMemory(const AlarmExp& e) const { return m_table->inMemory(e); }
  std::set<long> inDatabase(const AlarmExp& e) const { return m_table->inDatabase(e, kTable); }
  // Rows whose extend information ends (suffix) or begins with a value.
  std::set<long> affixMatches(const std::set<std::string>& values, bool suffix) const {
    std::set<long> out;
    for (const auto& r : m_records) {
      std::string v = r.getExtendInfo();
      if (v.empty()) continue;  // NULL column
      for (const auto& x : values) {
        bool hit = v.size() >= x.size() &&
                   (suffix ? v.compare(v.size() - x.size(), x.size(), x) == 0 : v.compare(0, x.size(), x) == 0);
        if (hit) {
          out.insert(r.getLogId());
          break;
        }
      }
    }
    return out;
  }

  const fmtest::FilterDiffTable* m_table = nullptr;
  std::vector<AlmRecord_t> m_records;
};

INSTANTIATE_TEST_SUITE_P(Db, SqlDifferentialTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

const size_t kSizes[] = {1, 2, 240, 241, 500};

TEST_P(SqlDifferentialTest, IntegerColumnEveryOperator) {
  fmtest::TraceCapture quiet;  // the between-with-one-value warnings
  std::mt19937 rng(7);
  for (int op = 1; op <= 12; ++op) {
    for (size_t n : kSizes) {
      DiffIntLeaf leaf(static_cast<char>(op), intValues(n, rng));
      std::set<long> mem = inMemory(leaf);
      EXPECT_EQ(inDatabase(leaf), mem) << "op " << op << ", " << n << " values";
      NotAlarmExp neg(leaf.copy());
      EXPECT_EQ(inDatabase(neg), inMemory(neg)) << "not, op " << op << ", " << n << " values";
    }
  }
}

TEST_P(SqlDifferentialTest, StringColumnEveryOperator) {
  fmtest::TraceCapture quiet;
  std::mt19937 rng(11);
  for (int op = 1; op <= 12; ++op) {
    for (size_t n : kSizes) {
      std::set<std::string> values = strValues(n, rng);
      DiffStrLeaf leaf(static_cast<char>(op), values);
      std::set<long> mem = inMemory(leaf);
      std::set<long> db = inDatabase(leaf);
      if (op == 11 || op == 12) {
        // Suffix (11) and prefix (12) in SQL, "contains" in memory.
        EXPECT_EQ(db, affixMatches(values, op == 11)) << "op " << op << ", " << n << " values";
        for (long csn : db) EXPECT_TRUE(mem.count(csn)) << "op " << op << " row " << csn;
        continue;
      }
      EXPECT_EQ(db, mem) << "op " << op << ", " << n << " values";
      NotAlarmExp neg(leaf.copy());
      EXPECT_EQ(inDatabase(neg), inMemory(neg)) << "not, op " << op << ", " << n << " values";
    }
  }
}

TEST_P(SqlDifferentialTest, AndOrCombinations) {
  fmtest::TraceCapture quiet;
  std::mt19937 rng(13);
  const int stringOps[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  for (int round = 0; round < 40; ++round) {
    int iop = 1 + static_cast<int>(rng() % 12);
    int sop = stringOps[rng() % 10];
    size_t n = kSizes[rng() % 5];
    auto a = std::make_unique<DiffIntLeaf>(static_cast<char>(iop), intValues(n, rng));
    auto b = std::make_unique<DiffStrLeaf>(static_cast<char>(sop), strValues(n, rng));
    std::unique_ptr<AlarmExp> tree;
    if (round % 2 == 0) {
      tree = std::make_unique<AndAlarmExp>(a.release(), new NotAlarmExp(b.release()));
    } else {
      tree = std::make_unique<OrAlarmExp>(new NotAlarmExp(a.release()), b.release());
    }
    EXPECT_EQ(inDatabase(*tree), inMemory(*tree)) << "round " << round << ": int op " << iop << ", str op " << sop;
  }
}

// Contains lists of any length (SQLite refused one chain of 1 000 LIKE terms:
// "Expression tree is too large"): both databases prepare the chunked form and
// it selects what the leaf accepts (codes 11, 12: the affix matches), also
// under NOT. The values hold no empty text, which would match every row.
TEST_P(SqlDifferentialTest, LongContainsListsSelectWhatEvaluateAccepts) {
  std::mt19937 rng(17);
  for (size_t n : {999, 1000, 10000}) {
    std::set<std::string> values = strValues(n + 1, rng);
    values.erase("");
    while (values.size() > n) values.erase(std::prev(values.end()));
    for (char op : {7, 9, 11, 12}) {
      ExtendInfoExp leaf("EXTENDINFO", op);
      ASSERT_TRUE(leaf.setFilter({values.begin(), values.end()}, false));
      const std::set<long> db = inDatabase(leaf);
      if (op >= 11) {
        EXPECT_EQ(db, affixMatches(values, op == 11)) << "op " << int{op} << ", " << n << " values";
        continue;
      }
      EXPECT_EQ(db, inMemory(leaf)) << "op " << int{op} << ", " << n << " values";
      NotAlarmExp neg(leaf.copy());
      EXPECT_EQ(inDatabase(neg), inMemory(neg)) << "not, op " << int{op} << ", " << n << " values";
    }
  }
}

// The mod/bitand dialect (database type 2, functions registered by the layer
// or the test database) and the %/& dialect with a cast select the same rows
// as the arithmetic in memory, on both databases, for negative and wrapped DST
// fields (the remainder takes the dividend's sign) and negative bit fields.
TEST_P(SqlDifferentialTest, ModAndBitandDialectsAgree) {
  auto select = [&](const std::string& cond) { return m_table->select(cond); };
  for (long k : {7200L, -21600L, 0L}) {
    for (long start : {1699900000L, 1700000000L, 1700123456L}) {
      std::set<long> mem;
      for (const auto& r : m_records) {
        if (k + r.getOccurDst() % 65536 + r.getOccurUtcTime() >= start) mem.insert(r.getLogId());
      }
      std::string ks = std::to_string(k), ss = std::to_string(start);
      EXPECT_EQ(select(" ( " + ks + " + mod(OccurDst,65536) + OccurUtc ) >= " + ss), mem) << k << " " << start;
      EXPECT_EQ(select(" CAST( " + ks + " + OccurDst%65536 + OccurUtc As int ) >= " + ss), mem) << k << " " << start;
    }
  }
  for (long mask : {1L, 9L, 255L, 65536L, 2147483647L}) {
    std::set<long> none;
    for (const auto& r : m_records) {
      if ((r.getParam(8) & mask) == 0) none.insert(r.getLogId());
    }
    std::string ms = std::to_string(mask);
    EXPECT_EQ(select(" bitand(para8, " + ms + ")  = 0"), none) << mask;
    EXPECT_EQ(select(" (para8 & " + ms + ")  = 0"), none) << mask;
  }
}

}  // namespace
}  // namespace Kyrofm
