// Tests of the FDN and user-right leaves: each leaf's SQL selects, on SQLite and
// PostgreSQL, exactly the records its evaluate accepts (records on a small FDN
// tree whose id columns come from the FDN manager), value checks, and the
// temporary tables' life.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fm_common/filter/FdnLeaves.h"
#include "fm_common/filter/UserLeaves.h"
#include "fm_common/fmcommon/FMIdMgr.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/platform/CFMClientMgr.h"
#include "fm_common/platform/CUserIDMaintain.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBSchema.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmFilterDiff.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {
using Kyrofmdb::CFMDBTools;
const std::string kLong = "P=1,A=1,X=" + std::string(300, 'x');  // beyond the manager's 255-byte walk
std::string ne(int k) { return "P=2,N=" + std::to_string(k); }     // record 100 + k

std::list<std::string> nes(int n) {
  std::list<std::string> v;
  for (int k = 0; k < n; ++k) v.push_back(ne(k));
  return v;
}
// The leaves' temporary tables now in the database.
size_t tempTables() {
  std::vector<std::string> a, b;
  EXPECT_EQ(CFMDBTools::getFMDbTables("t/_fdn/_%", a), FM_SUCCESS);
  EXPECT_EQ(CFMDBTools::getFMDbTables("t/_Nefdn/_%", b), FM_SUCCESS);
  return a.size() + b.size();
}

class FdnLeavesTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    CFdnManager::Destroy();
    FMIdMgr::destroy();
    std::string skip = fmtest::useFilterDatabase(GetParam());
    if (!skip.empty()) GTEST_SKIP() << skip;
    ASSERT_EQ(CFMDBTools::ExecuteSQL("delete from tbl_fdn_mgr"), FM_SUCCESS);
    std::filesystem::remove_all(fmtest::kyroRoot() + "/var/fm/fmdb_FDN");
    CUserIDMaintain::Clear();
    CFMClientMgr::instance()->clear();
    // LogId, object FDN, NE FDN, link FDN.
    std::vector<std::tuple<long, std::string, std::string, std::string>> rows = {
        {1, "P=1,A=1", "P=1,A=1", ""},           {2, "P=1,A=1,B=1", "P=1,A=1", "P=1,A=10"},
        {3, "P=1,A=10", "P=1,A=10", ""},         {4, "P=1,A=10,B=1", "P=1,A=10", "P=1,A=1"},
        {5, kLong, "P=1,A=1", ""},               {6, "P=1,A=2", "P=1,A=2", ""},
        {7, "", "", ""}};
    for (int k = 0; k < 60; ++k) rows.emplace_back(100 + k, ne(k), ne(k), "");
    std::vector<AlmRecord_t> records;
    CFdnManager* m = CFdnManager::instance();
    for (const auto& [id, mo, neFdn, link] : rows) {
      AlmRecord_t r;
      r.setLogId(id);
      r.setMoDn(mo);
      r.setNE({neFdn, 1});
      r.setLinkDn(link);
      r.setIntExtParam(0, 16, m->GetIntFdn(mo));  // FDNId, NEFDNId, LinkFDNId as the service writes them
      r.setIntExtParam(0, 15, m->GetIntFdn(neFdn));
      r.setIntExtParam(0, 18, m->GetIntFdn(link));
      records.push_back(r);
    }
    table_ = std::make_unique<fmtest::FilterDiffTable>("tbl_fdnleaves_diff", records);
    ASSERT_TRUE(table_->ok());
  }
  void TearDown() override { CFdnManager::Destroy(); }

  // Users: "all" manages the root, "some" the NE P=1,A=1, "none" nothing; each
  // with a right table listing the same ids. "ghost" has objects but no table.
  void addUsers() {
    const long root = CFdnManager::instance()->GetIntFdn("*"), a1 = CFdnManager::instance()->GetIntFdn("P=1,A=1");
    const std::map<std::string, std::set<long>> users = {{"all", {root}}, {"some", {a1}}, {"none", {}}, {"ghost", {a1}}};
    long uid = 0;
    for (const auto& [name, ids] : users) {
      ASSERT_EQ(CUserIDMaintain::SetUserID(name, "SM_ROOT", ++uid), FM_SUCCESS);
      CFMClientMgr::instance()->setManagerMO(uid, ids);
      CFMClientMgr::instance()->setManagerMO(uid, std::set<std::string>{name == "all" ? "*" : "P=1,A=1"});
      const std::string rt = name == "ghost" ? "tbl_right_missing" : "tbl_right_" + name;
      CFMClientMgr::instance()->setTableName(uid, rt);
      if (name == "ghost") continue;
      ASSERT_EQ(CFMDBTools::DropTable(rt), FM_SUCCESS);
      for (const auto& stmt : Kyrofmdb::CFMDBSchema::splitStatements(
               Kyrofmdb::CFMDBSchema::rightTableDdl(rt, Kyrofmdb::CDBMaintain::instance()->getDBType())))
        ASSERT_EQ(CFMDBTools::ExecuteSQL(stmt), FM_SUCCESS);
      for (long id : ids) ASSERT_EQ(CFMDBTools::ExecuteSQL("insert into " + rt + " values(" + std::to_string(id) + ")"), FM_SUCCESS);
    }
  }
  std::unique_ptr<fmtest::FilterDiffTable> table_;
};

std::unique_ptr<BasicExp> make(const std::string& kind, char op) {
  if (kind == "FDN") return std::make_unique<FDNExp>(kind, op);
  if (kind == "NE") return std::make_unique<NeObjectExp>(kind, op);
  if (kind == "LINKFDN") return std::make_unique<LinkObjectExp>(kind, op);
  if (kind == "SUSER") return std::make_unique<UserExp>(kind, op);
  return std::make_unique<DynamicUserExp>(kind, op);
}

TEST_P(FdnLeavesTest, SqlSelectsWhatEvaluateAccepts) {
  addUsers();
  const std::set<long> all = table_->inMemory(ConstantExp(true));
  const std::set<long> a1 = {1, 2, 5}, big49 = [] { std::set<long> s; for (int k = 0; k < 49; ++k) s.insert(100 + k); return s; }();
  std::set<long> big50 = big49, notA1;
  big50.insert(149);
  for (long id : all) if (!a1.count(id)) notA1.insert(id);
  struct Case { const char* kind; char op; std::list<std::string> values; std::set<long> expect; };
  const std::vector<Case> cases = {
      {"FDN", 1, {"P=1,A=1"}, {1}},  {"FDN", 7, {"P=1,A=1"}, a1},  {"FDN", 3, {"P=1,A=1"}, a1},
      {"FDN", 9, {"P=1,A=1"}, notA1}, {"FDN", 7, {"P=1"}, {1, 2, 3, 4, 5, 6}},  // NE alarms below the value too
      {"FDN", 12, {"P=1,A=1", "P=1,A=2"}, {1, 2, 5, 6}},  {"FDN", 1, nes(49), big49}, {"FDN", 1, nes(50), big50},
      {"FDN", 8, {"P=2"}, {}}, {"FDN", 2, nes(50), {}},  {"FDN", 1, {}, {}},
      {"NE", 1, {"P=1,A=1"}, a1}, {"NE", 9, {"P=1,A=1"}, a1}, {"NE", 2, {"P=1,A=1"}, notA1}, {"NE", 1, nes(50), big50},
      {"NE", 2, nes(50), {}},
      {"LINKFDN", 1, {"P=1,A=1"}, {4}}, {"LINKFDN", 2, {"P=1,A=1"}, {}}, {"LINKFDN", 7, {"A=1"}, {2, 4}},
      {"LINKFDN", 9, {"A=10"}, {}},
      {"SUSER", 1, {"all"}, all}, {"USER", 1, {"some"}, a1}, {"USER", 2, {"some"}, a1}, {"SUSER", 1, {"none"}, {}}};
  for (const auto& c : cases) {
    auto e = make(c.kind, c.op);
    ASSERT_TRUE(e->setFilter(c.values, false)) << c.kind;
    const std::string what = std::string(c.kind) + " op " + std::to_string(c.op) + " " + e->sqlWhereCond("tbl_cur_alm").substr(0, 120);
    std::set<long> mem = table_->inMemory(*e);
    if (!c.expect.empty() || c.values.empty() || std::string(c.kind).find("USER") != std::string::npos) EXPECT_EQ(mem, c.expect) << what;
    EXPECT_EQ(table_->inDatabase(*e, "tbl_cur_alm"), mem) << what;
  }
  // Shielding is decided in memory only; a right table that cannot be read selects nothing.
  ShieldFDNExp shield("SHIELDFDN", 7);
  shield.setFilter({"P=1,A=1"}, true);
  EXPECT_EQ(table_->inMemory(shield), a1);
  EXPECT_EQ(shield.sqlWhereCond("tbl_cur_alm"), "");
  DynamicUserExp ghost("USER", 1);
  ASSERT_TRUE(ghost.setStringContent("ghost"));
  EXPECT_EQ(table_->inMemory(ghost), a1);
  EXPECT_EQ(ghost.sqlWhereCond("tbl_cur_alm"), " ( 0 > 1 ) ");
}

TEST_P(FdnLeavesTest, RejectedValuesLeaveTheLeafUnchanged) {
  addUsers();
  fmtest::TraceCapture trace;
  FDNExp f("FDN", 1);
  ASSERT_TRUE(f.setStringContent("P=1,A=1"));
  EXPECT_FALSE(f.setFilter({"P=1,A=2", std::string(256, 'n')}, false));
  EXPECT_FALSE(f.setFilter({"USER,nobody", "P=1,A=2"}, false));
  NeObjectExp n("NE", 1);
  EXPECT_FALSE(n.setFilter({""}, false));
  EXPECT_EQ(f.getValues(), std::set<std::string>{"P=1,A=1"});
  EXPECT_TRUE(trace.contains("FDNExp::setFilter, invalid fdn", 5) && trace.contains("NeObjectExp::setFilter, invalid fdn", 5));
  EXPECT_TRUE(trace.contains("FDNExp::setFilter, unknown user nobody", 5));
  ASSERT_TRUE(f.setFilter({"USER,some", "P=1,A=1,B=1", "P=1,A=10"}, false));  // limited to the user's objects
  EXPECT_EQ(f.getValues(), std::set<std::string>{"P=1,A=1,B=1"});
  UserExp u("SUSER", 1);
  EXPECT_FALSE(u.setFilter({}, false));
  EXPECT_FALSE(u.setStringContent("nobody"));
  ASSERT_TRUE(u.setStringContent("all"));
  EXPECT_TRUE(u.hasAllRights());
  EXPECT_EQ(FDNExp("F", 1).getPriority() * 10 + ShieldFDNExp("S", 1).getPriority(), 10);
  EXPECT_EQ(LinkObjectExp("L", 1).getSqlWhereCondLimitCount() + FDNExp("F", 1).getSqlWhereCondLimitCount(), 1);
}

TEST_P(FdnLeavesTest, TemporaryTablesAreReusedRefilledAndDropped) {
  {
    FDNExp f("FDN", 7);
    ASSERT_TRUE(f.setFilter({"P=2"}, false));
    const std::string sql = f.sqlWhereCond("tbl_cur_alm");
    const std::string name = f.getTempTable();
    ASSERT_EQ(name.rfind("t_fdn_", 0), 0u) << sql;
    CFdnManager::instance()->GetIntFdn("P=2,N=new");  // the subtree grows: the same table is refilled
    EXPECT_EQ(f.sqlWhereCond("tbl_cur_alm"), sql);
    long count = 0;
    EXPECT_EQ(CFMDBTools::getRecordCountOfTable(name, count), FM_SUCCESS);
    EXPECT_EQ(count, 61);
    std::unique_ptr<AlarmExp> c(f.copy());
    NeObjectExp n("NE", 1);
    ASSERT_TRUE(n.setFilter(nes(50), false));
    std::unique_ptr<AlarmExp> nc(n.copy());
    EXPECT_EQ(static_cast<FDNExp*>(c.get())->getTempTable(), "");
    EXPECT_EQ(table_->inDatabase(*c, "tbl_cur_alm"), table_->inMemory(*c));
    EXPECT_EQ(table_->inDatabase(*nc, "tbl_cur_alm"), table_->inMemory(*nc));
    EXPECT_NE(static_cast<FDNExp*>(c.get())->getTempTable(), name);
    EXPECT_EQ(static_cast<NeObjectExp*>(nc.get())->getTempTable().rfind("t_Nefdn_", 0), 0u);
    EXPECT_EQ(tempTables(), 3u);
  }
  EXPECT_EQ(tempTables(), 0u);
  if (GetParam() != "sqlite") return;
  // The database goes away before the owner is destroyed: the drop is retried later.
  const std::string url = Kyrofmdb::CDBMaintain::instance()->getDBUrl();
  auto f = std::make_unique<FDNExp>("FDN", 1);
  ASSERT_TRUE(f->setFilter(nes(50), false));
  f->sqlWhereCond("tbl_cur_alm");
  const std::string blocker = fmtest::makeTempDir("nodb") + "/file";
  std::ofstream(blocker) << "x";
  Kyrofmdb::CDBMaintain::instance()->setDBUrl("sqlite3://db=" + blocker + "/sub/fm.db");
  f.reset();
  Kyrofmdb::CDBMaintain::instance()->setDBUrl(url);
  EXPECT_EQ(tempTables(), 1u);
  EXPECT_EQ(FdnIdTempTable::retryPendingDrops(), 0u);
  EXPECT_EQ(tempTables(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Db, FdnLeavesTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
}  // namespace Kyrofm
