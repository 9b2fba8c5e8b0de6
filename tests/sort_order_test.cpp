// Sort order: the ORDER BY columns per item and table, the in-memory keys, and
// the differential check: generated alarms with ties, unset fields, NULL and
// '' texts sorted in memory and by the ORDER BY on SQLite and PostgreSQL give
// the same key sequence. Where the two ends sort by different keys by design,
// the case names the key the database uses instead (FDN ids against FDN
// texts, the reversed severity); the text order of items 6 and 7 ("0,10"
// before "0,9") is pinned in memory, their numeric columns by the column table.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>

#include "fm_common/filter/AlarmSortOrder.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmFilterDiff.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Items = std::vector<FieldSortItem_t>;
using Kyrofmdb::CFMBulkReader;

using Entries = std::vector<std::pair<std::string, int>>;

Entries orderBy(const Items& items, const std::string& table) {
  CFMBulkReader reader;
  EXPECT_EQ(CreateQryOrderCond(items, table, reader), FM_SUCCESS);
  return reader.getOrderBy();
}

TEST(AlarmSortOrderTest, ItemsGiveTheirColumnsPerTable) {
  int t = 0, g = 0, i = 0;
  for (auto c : {std::array<int, 4>{10010305, 1, 3, 5}, {10000305, 0, 3, 5}, {19999999, 99, 99, 99}}) {
    splitExtendSortItemID(c[0], t, g, i);
    EXPECT_EQ((std::array<int, 4>{c[0], t, g, i}), c);
  }
  fmtest::TraceCapture trace;
  const std::map<int, std::string> fixed = {{1, "Csn"},    {2, "NEFDNId"}, {3, ""},   {4, "AlmLevel"}, {5, "Type"},
                                            {9, "NEType"}, {10, "FDNId"},  {11, ""},  {12, "NEFDNId"}, {16, "DevCsn"},
                                            {17, "Id"},    {-1, ""},       {10000103, "IntExt1_3"},
                                            {10020103, "IntExt1_3"},       {10010305, ""}, {10000305, ""}};
  for (const auto& [id, col] : fixed) {
    for (int order : {1, 0, 2}) {
      const Entries want = col.empty() ? Entries() : Entries{{col, order == 1 ? 0 : 1}};
      EXPECT_EQ(orderBy({{id, order}}, "tbl_cur_alm"), want) << id;
    }
  }
  EXPECT_TRUE(trace.contains("CreateQryOrderCond, XRFMAlarmFieldProp = NULL, continue to sort"));
  const char* tables[] = {"tbl_cur_alm", "tbl_his_alm", "tbl_mask_alm", "tbl_event_log", "tbl_alm_log", "TBL_CUR_ALM"};
  const char* cols[3][6] = {
      {"IsCleared,ClearOperator", "IsCleared,ClearOperator", "IsCleared", "", "", "IsCleared,ClearOperator"},
      {"IsConfirmed,Operator", "", "", "IsConfirmed,Operator", "IsConfirmed,Operator", "IsConfirmed,Operator"},
      {"IsConfirmed,IsCleared ", "", "IsCleared", "IsConfirmed", "", "IsConfirmed,IsCleared "}};
  for (int item = 6; item <= 8; ++item) {
    for (int k = 0; k < 6; ++k) {
      const Entries want = *cols[item - 6][k] ? Entries{{cols[item - 6][k], 1}} : Entries();
      EXPECT_EQ(orderBy({{item, 2}}, tables[k]), want) << item << tables[k];
    }
  }
  EXPECT_TRUE(trace.contains("CreateQryOrderCond:: table name=tbl_event_log not supported!"));
  EXPECT_EQ(orderBy({{4, 1}, {7, 1}, {1, 0}}, "tbl_his_alm"), (Entries{{"AlmLevel", 0}, {"Csn", 1}}));
}

// Memory keys where the value or the comparison is not the plain field.
TEST(AlarmSortOrderTest, MemoryKeysAndComparisons) {
  AlmRecord_t a, b;  // a: the smaller value in every field the cases below name, but the texts
  a.setLogId(2), b.setLogId(1), a.setClearOperator(10), b.setClearOperator(9), a.setSeverity(5), b.setSeverity(1);
  a.setAckStatus(1), b.setAckOperator(-3), a.setStrExtParam(1, 5, "\xC3\xBC"), b.setStrExtParam(1, 5, "z");
  a.setIntExtParam(1, 3, -1), b.setAlarmType(1), b.setDevCsn(1), b.setAlarmId(1);
  a.setNE({"NE=2", 0}), b.setNE({"NE=10", 1}), a.setMoDn("M=0"), b.setMoDn("M=1");
  struct Case { Items items; bool aFirst, bFirst; } cases[] = {
      {{{6, 1}}, true, false},                          // "0,10" before "0,9": text order
      {{{4, 1}}, true, false}, {{{4, 0}}, false, true}, // severity reversed
      {{{3, 1}}, false, true}, {{{1, 0}}, true, false}, // other ids: serial number
      {{{7, 1}}, false, true},                          // "0,-3" before "1,0"
      {{{8, 1}}, false, true},                          // status 3 after 1
      {{{10010105, 1}}, false, true},                   // bytes compare unsigned
      {{{10000103, 1}}, true, false}, {{{10020103, 1}}, true, false},  // signed integers
      {{{5, 1}}, true, false}, {{{9, 1}}, true, false}, {{{16, 1}}, true, false}, {{{17, 2}}, false, true},
      {{{2, 1}}, false, true}, {{{12, 0}}, true, false}, {{{10, 1}}, true, false},  // texts
      {{{10000205, 1}, {4, 0}}, false, true},           // first deciding item counts
      {{{10000205, 1}, {10010205, 0}}, false, false}};  // equal on every item
  for (const auto& c : cases) {
    XRFMSortHelper h(c.items);
    ASSERT_EQ(h.getSortKeyLessVec().size(), c.items.size());
    EXPECT_EQ(h.less(h.getSortKey(a), h.getSortKey(b)), c.aFirst) << c.items[0].m_iSortItemId;
    EXPECT_EQ(h.less(h.getSortKey(b), h.getSortKey(a)), c.bFirst) << c.items[0].m_iSortItemId;
  }
  EXPECT_EQ(XRFMSortHelper({{6, 1}}).getSortKey(a)[0].m_strValue, "0,10");
}

class AlarmSortOrderDiffTest : public ::testing::TestWithParam<std::string> {};

std::vector<AlmRecord_t> generate() {
  std::mt19937 rng(7);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* texts[] = {"", "", "a", "B", "b", "ab", "aB", "a b", "\xC3\xBC", "Z", "~", "0"};
  const long ints[] = {0, 0, -5, 7, 2147483648L, -2147483649L, 1};
  std::vector<AlmRecord_t> out(400);
  for (size_t k = 0; k < out.size(); ++k) {
    AlmRecord_t& r = out[k];
    r.setLogId(static_cast<long>(k) + 1), r.setSeverity(static_cast<char>(pick(6))), r.setAlarmType(pick(4));
    r.setNEType(pick(3)), r.setDevCsn(pick(6) - 2), r.setAlarmId(pick(10)), r.setAckStatus(static_cast<char>(pick(2)));
    r.setClearStatus(static_cast<char>(pick(2))), r.setAckOperator(pick(10)), r.setClearOperator(pick(10));
    r.setIntExtParam(0, 15, pick(8)), r.setIntExtParam(0, 16, pick(9) - 1), r.setIntExtParam(1, 3, ints[pick(7)]);
    r.setStrExtParam(1, 5, texts[pick(12)]), r.setMoDn(texts[pick(12)]), r.setNE({texts[pick(12)], r.getNEType()});
  }
  return out;
}

TEST_P(AlarmSortOrderDiffTest, MemoryAndOrderByGiveTheSameKeySequence) {
  static std::map<std::string, std::unique_ptr<fmtest::FilterDiffTable>> tables;
  std::string skip = fmtest::useFilterDatabase(GetParam());
  if (!skip.empty()) GTEST_SKIP() << skip;
  auto& table = tables[GetParam()];
  if (!table || !table->intact()) {
    table = std::make_unique<fmtest::FilterDiffTable>("tbl_diff_sort", generate());
    ASSERT_TRUE(table->ok());
    // '' beside NULL; on PostgreSQL a column collation that is not byte-wise.
    ASSERT_EQ(Kyrofmdb::CFMDBTools::ExecuteSQL("update tbl_diff_sort set StrExt1_5 = '' where StrExt1_5 is null and Csn % 2 = 0"),
              FM_SUCCESS);
    if (GetParam() == "postgresql") {
      ASSERT_EQ(Kyrofmdb::CFMDBTools::ExecuteSQL(
                    "alter table tbl_diff_sort alter column StrExt1_5 type text collate \"und-x-icu\""), FM_SUCCESS);
    }
  }
  const auto& recs = table->records();
  fmtest::TraceCapture quiet;
  struct Case { const char* table; Items db, mem; } cases[] = {
      {"tbl_cur_alm", {{1, 1}}, {{1, 1}}}, {"tbl_cur_alm", {{1, 0}}, {{1, 0}}},
      {"tbl_cur_alm", {{4, 2}}, {{4, 1}}}, {"tbl_cur_alm", {{4, 1}}, {{4, 0}}},  // severity reversed in memory
      {"tbl_cur_alm", {{5, 1}, {9, 0}, {16, 1}}, {{5, 1}, {9, 0}, {16, 1}}},
      {"tbl_cur_alm", {{8, 1}, {17, 0}}, {{8, 1}, {17, 0}}}, {"tbl_cur_alm", {{8, 0}}, {{8, 0}}},
      {"tbl_cur_alm", {{6, 1}}, {{6, 1}}}, {"tbl_cur_alm", {{7, 0}}, {{7, 0}}},  // operators of one digit
      {"tbl_his_alm", {{6, 0}, {17, 1}}, {{6, 0}, {17, 1}}}, {"tbl_event_log", {{7, 1}}, {{7, 1}}},
      {"tbl_cur_alm", {{10000103, 1}}, {{10000103, 1}}}, {"tbl_cur_alm", {{10020103, 0}}, {{10020103, 0}}},
      {"tbl_cur_alm", {{10010105, 1}}, {{10010105, 1}}}, {"tbl_cur_alm", {{10010105, 0}}, {{10010105, 0}}},
      {"tbl_cur_alm", {{10010105, 0}, {4, 2}, {16, 0}}, {{10010105, 0}, {4, 1}, {16, 0}}},
      // The database sorts FDN items by the ids the rows carry, memory by the texts.
      {"tbl_cur_alm", {{10, 1}}, {{10000016, 1}}}, {"tbl_cur_alm", {{2, 0}, {12, 1}}, {{10000015, 0}}}};
  for (const auto& c : cases) {
    std::vector<long> csns;
    ASSERT_EQ(Kyrofmdb::CFMDBGuard::run(__FILE__, __LINE__, "sortdiff", FM_FAILURE,
                                        [&](Kyrofmdb::SAConnection& conn) {
                                          CFMBulkReader reader;
                                          reader.SetTable("tbl_diff_sort");
                                          reader.AddColumn("Csn");
                                          CreateQryOrderCond(c.db, c.table, reader);
                                          reader.Open(&conn);
                                          while (reader.FetchNext()) csns.push_back(reader.Field(1).asLong());
                                          reader.Close();
                                          return FM_SUCCESS;
                                        }),
              FM_SUCCESS);
    ASSERT_EQ(csns.size(), recs.size());
    XRFMSortHelper h(c.mem);
    std::vector<SortKey> keys;
    for (const auto& r : recs) keys.push_back(h.getSortKey(r));
    std::vector<size_t> mem(recs.size());
    for (size_t k = 0; k < mem.size(); ++k) mem[k] = k;
    std::stable_sort(mem.begin(), mem.end(), [&](size_t x, size_t y) { return h.less(keys[x], keys[y]); });
    for (size_t k = 0; k < mem.size(); ++k) {
      const SortKey& fromDb = keys[static_cast<size_t>(csns[k] - 1)];
      ASSERT_FALSE(h.less(fromDb, keys[mem[k]]) || h.less(keys[mem[k]], fromDb))
          << GetParam() << " item " << c.db[0].m_iSortItemId << " position " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Db, AlarmSortOrderDiffTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
}  // namespace Kyrofm
