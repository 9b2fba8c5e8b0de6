// Sort order: ORDER BY columns, memory keys, memory against ORDER BY (SQLite, PostgreSQL) on generated
// alarms with ties, unset fields, NULL and '' texts. Where the ends use different keys by design the case
// names the database's key (FDN ids for texts, plain severity order); items 6 and 7 compare texts in
// memory ("0,10" before "0,9", pinned there) and integer columns in SQL (pinned by the column table).
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "fm_common/filter/AlarmSortOrder.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmFilterDiff.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Items = std::vector<FieldSortItem_t>;
using Entries = std::vector<std::pair<std::string, int>>;
using Kyrofmdb::FMAlarmTableIO;

Entries want(const std::string& col, int dir) { return col.empty() ? Entries() : Entries{{col, dir}}; }
Entries orderBy(const Items& items, const std::string& table) {
  Kyrofmdb::CFMBulkReader reader;
  EXPECT_EQ(CreateQryOrderCond(items, table, reader), FM_SUCCESS);
  return reader.getOrderBy();
}

TEST(AlarmSortOrderTest, ItemsGiveTheirColumnsPerTable) {
  for (auto c : {std::array<int, 4>{10010305, 1, 3, 5}, {10000305, 0, 3, 5}, {19999999, 99, 99, 99}}) {
    std::array<int, 4> got{c[0], 0, 0, 0};
    splitExtendSortItemID(c[0], got[1], got[2], got[3]);
    EXPECT_EQ(got, c);
  }
  fmtest::TraceCapture trace;
  // Items with a column are compared with memory by the differential test below; here the ones without.
  const std::pair<int, const char*> fixed[] = {{1, "Csn"}, {3, ""}, {11, ""}, {-1, ""}, {10010305, ""}, {10000305, ""}};
  for (const auto& [id, col] : fixed)
    for (int order : {1, 0, 2})
      EXPECT_EQ(orderBy({{id, order}}, "tbl_cur_alm"), want(col, order != 1)) << id;
  EXPECT_TRUE(trace.contains("CreateQryOrderCond, XRFMAlarmFieldProp = NULL, continue to sort"));
  const char* tables[] = {"tbl_cur_alm", "tbl_his_alm", "tbl_mask_alm", "tbl_event_log", "tbl_alm_log", "TBL_CUR_ALM"};
  const char* cols[3][6] = {
      {"IsCleared,ClearOperator", "IsCleared,ClearOperator", "IsCleared", "", "", "IsCleared,ClearOperator"},
      {"IsConfirmed,Operator", "", "", "IsConfirmed,Operator", "IsConfirmed,Operator", "IsConfirmed,Operator"},
      {"IsConfirmed,IsCleared ", "", "IsCleared", "IsConfirmed", "", "IsConfirmed,IsCleared "}};
  for (int n = 0; n < 18; ++n)
    EXPECT_EQ(orderBy({{6 + n / 6, 2}}, tables[n % 6]), want(cols[n / 6][n % 6], 1)) << n;
  EXPECT_TRUE(trace.contains("CreateQryOrderCond:: table name=tbl_event_log not supported!"));
  EXPECT_EQ(orderBy({{4, 1}, {7, 1}, {1, 0}}, "tbl_his_alm"), (Entries{{"AlmLevel", 0}, {"Csn", 1}}));
}

// The keys the differential case below cannot hold to an ORDER BY: texts of
// items 6 and 7, items without a column, FDN texts, the deciding item.
TEST(AlarmSortOrderTest, MemoryKeysAndComparisons) {
  AlmRecord_t a, b;  // a holds the smaller value of every field, but the texts
  a.setLogId(2), b.setLogId(1), a.setClearOperator(10), b.setClearOperator(9), a.setSeverity(5), b.setSeverity(1);
  a.setAckStatus(1), b.setAckOperator(-3);
  a.setNE({"NE=2", 0}), b.setNE({"NE=10", 1}), a.setMoDn("M=0"), b.setMoDn("M=1");
  struct Case { Items items; bool aFirst, bFirst; } cases[] = {
      {{{6, 1}}, 1, 0}, {{{7, 1}}, 0, 1},  // texts: "0,10" before "0,9", "0,-3" before "1,0"
      {{{3, 1}}, 0, 1}, {{{2, 1}}, 0, 1}, {{{12, 0}}, 1, 0}, {{{10, 1}}, 1, 0},
      {{{10000205, 1}, {4, 0}}, 0, 1}, {{{10000205, 1}, {10010205, 0}}, 0, 0}};  // first deciding item; all equal
  for (const auto& c : cases) {
    XRFMSortHelper h(c.items);
    EXPECT_EQ(h.less(h.getSortKey(a), h.getSortKey(b)), c.aFirst) << c.items[0].m_iSortItemId;
    EXPECT_EQ(h.less(h.getSortKey(b), h.getSortKey(a)), c.bFirst) << c.items[0].m_iSortItemId;
  }
}

std::vector<AlmRecord_t> generate() {
  std::mt19937 rng(7);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* texts[] = {"", "", "a", "B", "b", "ab", "aB", "a b", "\xC3\xBC", "Z", "~", "0"};
  const long ints[] = {0, 0, -5, 7, 2147483648L, -2147483649L, 1};
  std::vector<AlmRecord_t> out(400);
  for (AlmRecord_t& r : out) {
    r.setLogId(&r - out.data() + 1), r.setSeverity(static_cast<char>(pick(6))), r.setAlarmType(pick(4));
    r.setNEType(pick(3)), r.setDevCsn(pick(6) - 2), r.setAlarmId(pick(10)), r.setAckStatus(static_cast<char>(pick(2)));
    r.setClearStatus(static_cast<char>(pick(2))), r.setAckOperator(pick(10)), r.setClearOperator(pick(10));
    r.setIntExtParam(0, 15, pick(8)), r.setIntExtParam(0, 16, pick(9) - 1), r.setIntExtParam(1, 3, ints[pick(7)]);
    r.setStrExtParam(1, 5, texts[pick(12)]), r.setMoDn(texts[pick(12)]), r.setNE({texts[pick(12)], r.getNEType()});
  }
  return out;
}

class AlarmSortOrderDiffTest : public ::testing::TestWithParam<std::string> {};

TEST_P(AlarmSortOrderDiffTest, MemoryAndOrderByGiveTheSameKeySequence) {
  if (std::string skip = fmtest::useFilterDatabase(GetParam()); !skip.empty()) GTEST_SKIP() << skip;
  fmtest::FilterDiffTable table("tbl_diff_sort", generate());
  ASSERT_TRUE(table.ok());
  // '' beside NULL; on PostgreSQL a column collation that is not byte-wise.
  using Kyrofmdb::CFMDBTools;
  ASSERT_TRUE(CFMDBTools::ExecuteSQL("update tbl_diff_sort set StrExt1_5 = '' where StrExt1_5 is null and Csn % 2 = 0")
              == FM_SUCCESS && (GetParam() != "postgresql" || CFMDBTools::ExecuteSQL("alter table tbl_diff_sort alter "
              "column StrExt1_5 type text collate \"und-x-icu\"") == FM_SUCCESS));
  fmtest::TraceCapture quiet;
  struct Case { Items db, mem{}; const char* table = "tbl_cur_alm"; } cases[] = {  // mem empty: as db
      {{{1, 1}}}, {{{1, 0}}}, {{{5, 1}, {9, 0}, {16, 1}}}, {{{8, 1}, {17, 0}}}, {{{8, 0}}}, {{{6, 1}}}, {{{7, 0}}},
      {{{6, 0}, {17, 1}}, {}, "tbl_his_alm"}, {{{7, 1}}, {}, "tbl_event_log"}, {{{10000103, 1}}}, {{{10020103, 0}}},
      {{{10010105, 1}}}, {{{10010105, 0}}},
      // Severity: memory reverses the order flag. FDN items: the database sorts by the ids the rows carry.
      {{{4, 2}}, {{4, 1}}}, {{{4, 1}}, {{4, 0}}}, {{{10010105, 0}, {4, 2}, {16, 0}}, {{10010105, 0}, {4, 1}, {16, 0}}},
      {{{10, 1}}, {{10000016, 1}}}, {{{2, 0}, {12, 1}}, {{10000015, 0}}}};
  for (const auto& c : cases) {
    // Rows in the ORDER BY's order sorted by the memory keys: then both ends
    // give the same key sequence, whatever they do with ties.
    Kyrofmdb::CFMBulkReader reader;
    CreateQryOrderCond(c.db, c.table, reader);
    std::vector<AlmRecord_t> rows;
    ASSERT_EQ(FMAlarmTableIO::readRecords("tbl_diff_sort", "", rows, reader.getOrderByText().substr(10)), FM_SUCCESS);
    ASSERT_EQ(rows.size(), table.records().size());
    XRFMSortHelper h(c.mem.empty() ? c.db : c.mem);
    for (size_t k = 1; k < rows.size(); ++k)
      ASSERT_FALSE(h.less(h.getSortKey(rows[k]), h.getSortKey(rows[k - 1]))) << GetParam() << c.db[0].m_iSortItemId;
  }
}

INSTANTIATE_TEST_SUITE_P(Db, AlarmSortOrderDiffTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
}  // namespace Kyrofm
