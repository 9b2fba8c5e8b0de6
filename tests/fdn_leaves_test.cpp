// FDN and user-right leaves: SQL against evaluate on SQLite and PostgreSQL over records on a
// small FDN tree whose id columns come from the FDN manager; value checks; temporary tables.
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

std::list<std::string> nes(int n) {  // NE k is record 100 + k
  std::list<std::string> v;
  for (int k = 0; k < n; ++k) v.push_back("P=2,N=" + std::to_string(k));
  return v;
}
size_t tempTables() {  // the leaves' temporary tables in the database
  std::vector<std::string> a, b;
  EXPECT_EQ(CFMDBTools::getFMDbTables("t/_fdn/_%", a) + CFMDBTools::getFMDbTables("t/_Nefdn/_%", b), 2 * FM_SUCCESS);
  return a.size() + b.size();
}

class FdnLeavesTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    CFdnManager::Destroy();
    FMIdMgr::destroy();
    if (std::string skip = fmtest::useFilterDatabase(GetParam()); !skip.empty()) GTEST_SKIP() << skip;
    ASSERT_EQ(CFMDBTools::ExecuteSQL("delete from tbl_fdn_mgr"), FM_SUCCESS);
    std::filesystem::remove_all(fmtest::kyroRoot() + "/var/fm/fmdb_FDN");
    // LogId, object FDN, NE FDN, link FDN; record 5's FDN is beyond the manager's 255-byte walk.
    std::vector<std::tuple<long, std::string, std::string, std::string>> rows = {
        {1, "P=1,A=1", "P=1,A=1", ""}, {2, "P=1,A=1,B=1", "P=1,A=1", "P=1,A=10"}, {3, "P=1,A=10", "P=1,A=10", ""},
        {4, "P=1,A=10,B=1", "P=1,A=10", "P=1,A=1"}, {5, "P=1,A=1,X=" + std::string(300, 'x'), "P=1,A=1", ""},
        {6, "P=1,A=2", "P=1,A=2", ""}, {7, "", "", ""}};
    for (const auto& f : nes(60)) rows.emplace_back(100 + rows.size() - 7, f, f, "");
    std::vector<AlmRecord_t> records;
    CFdnManager* m = CFdnManager::instance();
    for (const auto& [id, mo, neFdn, link] : rows) {
      AlmRecord_t& r = records.emplace_back();
      r.setLogId(id), r.setMoDn(mo), r.setNE({neFdn, 1}), r.setLinkDn(link);
      // FDNId, NEFDNId, LinkFDNId: the manager's ids of the record's FDNs, as the service writes them.
      r.setIntExtParam(0, 16, m->GetIntFdn(mo)), r.setIntExtParam(0, 15, m->GetIntFdn(neFdn)), r.setIntExtParam(0, 18, m->GetIntFdn(link));
    }
    table_ = std::make_unique<fmtest::FilterDiffTable>("tbl_fdnleaves_diff", records);
    ASSERT_TRUE(table_->ok());
    // Users: "all" manages the root, "some" P=1,A=1, "none" nothing; "ghost" lacks its right table.
    CUserIDMaintain::Clear(), CFMClientMgr::instance()->clear();
    const long root = m->GetIntFdn("*"), a1 = m->GetIntFdn("P=1,A=1");
    const std::map<std::string, std::set<long>> users = {{"all", {root}}, {"some", {a1}}, {"none", {}}, {"ghost", {a1}}};
    long uid = 0;
    for (const auto& [name, ids] : users) {
      ASSERT_EQ(CUserIDMaintain::SetUserID(name, "SM_ROOT", ++uid), FM_SUCCESS);
      const std::string rt = "tbl_right_" + name;
      CFMClientMgr* cm = CFMClientMgr::instance();
      cm->setManagerMO(uid, ids), cm->setManagerMO(uid, std::set<std::string>{name == "all" ? "*" : "P=1,A=1"}), cm->setTableName(uid, rt);
      ASSERT_EQ(CFMDBTools::DropTable(rt), FM_SUCCESS);
      if (name == "ghost") continue;
      for (const auto& stmt : Kyrofmdb::CFMDBSchema::splitStatements(
               Kyrofmdb::CFMDBSchema::rightTableDdl(rt, Kyrofmdb::CDBMaintain::instance()->getDBType())))
        ASSERT_EQ(CFMDBTools::ExecuteSQL(stmt), FM_SUCCESS);
      for (long id : ids) ASSERT_EQ(CFMDBTools::ExecuteSQL("insert into " + rt + " values(" + std::to_string(id) + ")"), FM_SUCCESS);
    }
  }
  void TearDown() override { CFdnManager::Destroy(); }
  std::unique_ptr<fmtest::FilterDiffTable> table_;
};

std::unique_ptr<BasicExp> make(const std::string& kind, char op) {
  if (kind == "FDN") return std::make_unique<FDNExp>(kind, op);
  if (kind == "NE") return std::make_unique<NeObjectExp>(kind, op);
  if (kind == "LINKFDN") return std::make_unique<LinkObjectExp>(kind, op);
  if (kind == "SUSER") return std::make_unique<UserExp>(kind, op);
  if (kind == "SHIELDFDN") return std::make_unique<ShieldFDNExp>(kind, op);
  return std::make_unique<DynamicUserExp>(kind, op);
}

TEST_P(FdnLeavesTest, SqlSelectsWhatEvaluateAccepts) {
  const std::set<long> all = table_->inMemory(ConstantExp(true)), a1 = {1, 2, 5}, none;
  const std::set<long> p2(all.find(100), all.end()), big49(p2.begin(), p2.find(149)), big50(p2.begin(), p2.find(150));
  std::set<long> notA1 = all, notBig50 = all, notFour = all, notTwo = all;
  for (long id : a1) notA1.erase(id);
  for (long id : big50) notBig50.erase(id);
  notFour.erase(4), notTwo.erase(2);
  // db: what SQL selects where it differs on purpose (shield: memory only; unreadable right table: nothing).
  struct Case { const char* kind; char op; std::list<std::string> values; std::set<long> expect; const std::set<long>* db = nullptr; };
  const std::vector<Case> cases = {
      {"FDN", 1, {"P=1,A=1"}, {1}},  {"FDN", 7, {"P=1,A=1"}, a1},  {"FDN", 3, {"P=1,A=1"}, a1},
      {"FDN", 9, {"P=1,A=1"}, notA1}, {"FDN", 7, {"P=1"}, {1, 2, 3, 4, 5, 6}},  // NE alarms below the value too
      {"FDN", 12, {"P=1,A=1", "P=1,A=2"}, {1, 2, 5, 6}},  {"FDN", 1, nes(49), big49}, {"FDN", 1, nes(50), big50},
      {"FDN", 8, {"P=2"}, p2}, {"FDN", 2, nes(50), notBig50},  {"FDN", 1, {}, {}},
      {"NE", 1, {"P=1,A=1"}, a1}, {"NE", 9, {"P=1,A=1"}, a1}, {"NE", 2, {"P=1,A=1"}, notA1}, {"NE", 1, nes(50), big50},
      {"NE", 2, nes(50), notBig50},
      {"LINKFDN", 1, {"P=1,A=1"}, {4}}, {"LINKFDN", 2, {"P=1,A=1"}, notFour}, {"LINKFDN", 7, {"A=1"}, {2, 4}},
      {"LINKFDN", 9, {"A=10"}, notTwo},
      {"SUSER", 1, {"all"}, all}, {"USER", 1, {"some"}, a1}, {"USER", 2, {"some"}, a1}, {"SUSER", 1, {"none"}, {}},
      {"SHIELDFDN", 7, {"P=1,A=1"}, a1, &all}, {"USER", 1, {"ghost"}, a1, &none}};
  for (const auto& c : cases) {
    auto e = make(c.kind, c.op);
    ASSERT_TRUE(e->setFilter(c.values, false)) << c.kind;
    const std::string what = std::string(c.kind) + " op " + std::to_string(c.op) + e->sqlWhereCond("tbl_cur_alm").substr(0, 120);
    EXPECT_EQ(table_->inMemory(*e), c.expect) << what;
    EXPECT_EQ(table_->inDatabase(*e, "tbl_cur_alm"), c.db ? *c.db : c.expect) << what;
  }
}

TEST_P(FdnLeavesTest, RejectedValuesLeaveTheLeafUnchanged) {
  fmtest::TraceCapture trace;
  FDNExp f("FDN", 1);
  ASSERT_TRUE(f.setStringContent("P=1,A=1"));
  EXPECT_FALSE(f.setFilter({"P=1,A=2", std::string(256, 'n')}, false));
  NeObjectExp n("NE", 1);
  EXPECT_FALSE(f.setFilter({"USER,nobody", "P=1,A=2"}, false) || n.setFilter({""}, false));
  EXPECT_EQ(f.getValues(), std::set<std::string>{"P=1,A=1"});
  EXPECT_TRUE(trace.contains("FDNExp::setFilter, invalid fdn", 5) && trace.contains("NeObjectExp::setFilter, invalid fdn", 5) &&
              trace.contains("FDNExp::setFilter, unknown user nobody", 5));
  ASSERT_TRUE(f.setFilter({"USER,some", "P=1,A=1,B=1", "P=1,A=10"}, false));  // limited to the user's objects
  EXPECT_EQ(f.getValues(), std::set<std::string>{"P=1,A=1,B=1"});
  UserExp u("SUSER", 1);
  EXPECT_FALSE(u.setFilter({}, false) || u.setStringContent("nobody"));
  EXPECT_TRUE(u.setStringContent("all") && u.hasAllRights() && ShieldFDNExp("S", 7).setStringContent("P=1"));
  EXPECT_EQ(FDNExp("F", 1).getPriority() * 100 + ShieldFDNExp("S", 1).getPriority() * 10 +
                LinkObjectExp("L", 1).getSqlWhereCondLimitCount() + FDNExp("F", 1).getSqlWhereCondLimitCount(), 101);
}

TEST_P(FdnLeavesTest, TemporaryTablesAreReusedRefilledAndDropped) {
  {
    FDNExp f("FDN", 7);  // the subtree of P=2: 60 ids
    ASSERT_TRUE(f.setStringContent("P=2"));
    const std::string sql = f.sqlWhereCond("tbl_cur_alm"), name = f.getTempTable();
    ASSERT_EQ(name.rfind("t_fdn_", 0), 0u) << sql;
    CFdnManager::instance()->GetIntFdn("P=2,N=new");  // the subtree grows: the same table is refilled
    EXPECT_EQ(f.sqlWhereCond("tbl_cur_alm"), sql);
    long count = 0;
    EXPECT_TRUE(CFMDBTools::getRecordCountOfTable(name, count) == FM_SUCCESS && count == 61) << count;
    NeObjectExp n("NE", 1);
    ASSERT_TRUE(n.setFilter(nes(50), false));
    std::unique_ptr<AlarmExp> c(f.copy()), nc(n.copy());
    EXPECT_EQ(static_cast<FDNExp*>(c.get())->getTempTable(), "");
    EXPECT_EQ(table_->inDatabase(*c, "tbl_cur_alm"), table_->inMemory(*c));
    EXPECT_EQ(table_->inDatabase(*nc, "tbl_cur_alm"), table_->inMemory(*nc));
    EXPECT_EQ(static_cast<NeObjectExp*>(nc.get())->getTempTable().rfind("t_Nefdn_", 0), 0u);
    EXPECT_EQ(tempTables(), 3u);
  }
  EXPECT_EQ(tempTables(), 0u);
  if (GetParam() != "sqlite") return;
  // The database goes away before the owner is destroyed: the drop is retried later.
  const std::string url = Kyrofmdb::CDBMaintain::instance()->getDBUrl(), blocker = fmtest::makeTempDir("nodb") + "/f";
  auto f = std::make_unique<FDNExp>("FDN", 1);
  ASSERT_TRUE(f->setFilter(nes(50), false) && !f->sqlWhereCond("tbl_cur_alm").empty());
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
