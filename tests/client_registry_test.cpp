// Tests of the user and client registries and of the right-table answer of
// CFMDBTools::needCheckRight on SQLite and, under scripts/with-postgres, on
// PostgreSQL.
#include <gtest/gtest.h>

#include <fstream>

#include "fm_common/platform/CFMClientMgr.h"
#include "fm_common/platform/CUserIDMaintain.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBSchema.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Kyrofmdb::CFMDBTools;

TEST(ClientRegistryTest, UsersAndTheirObjectsAreKeptPerDomainAndId) {
  EXPECT_EQ(CUserIDMaintain::SetUserID("ann", "SM_ROOT", 0), FM_INVALID_ARG);
  EXPECT_EQ(CUserIDMaintain::SetUserID("ann", "SM_ROOT", 7), FM_SUCCESS);
  EXPECT_EQ(CUserIDMaintain::GetUserID("ann", "SM_ROOT"), 7);
  EXPECT_EQ(CUserIDMaintain::GetUserID("ann", "OTHER"), 0);
  EXPECT_TRUE(CUserIDMaintain::RemoveUser("ann", "SM_ROOT"));
  EXPECT_EQ(CUserIDMaintain::GetUserID("ann", "SM_ROOT"), 0);

  CFMClientMgr* mgr = CFMClientMgr::instance();
  mgr->setManagerMO(7, std::set<std::string>{"NE=1", "NE=2"});
  mgr->setTableName(7, "tbl_right_7");
  std::set<std::string> fdns{"stale"};
  std::set<long> ids{99};
  EXPECT_EQ(mgr->getManagerMO(7, fdns), FM_SUCCESS);
  EXPECT_EQ(fdns, (std::set<std::string>{"NE=1", "NE=2"}));
  EXPECT_EQ(mgr->getManagerMO(7, ids), FM_FAILURE);  // the id form was never set
  EXPECT_TRUE(ids.empty());
  mgr->setManagerMO(7, std::set<long>{3});
  EXPECT_EQ(mgr->getManagerMO(7, ids), FM_SUCCESS);
  EXPECT_EQ(ids, std::set<long>{3});
  EXPECT_EQ(mgr->getTableName(7), "tbl_right_7");
  mgr->removeUser(7);
  EXPECT_EQ(mgr->getManagerMO(7, fdns), FM_FAILURE);
  EXPECT_TRUE(fdns.empty());
  EXPECT_EQ(mgr->getTableName(7), "");
  CFMClientMgr::destroy();
}

class NeedCheckRightTest : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Db, NeedCheckRightTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST_P(NeedCheckRightTest, OnlyTheRootObjectMakesTheCheckNeedless) {
  const std::string url = fmtest::databaseUrlFor(GetParam(), "right");
  if (url.empty()) GTEST_SKIP() << "no PostgreSQL (run under scripts/with-postgres)";
  Kyrofmdb::CDBMaintain::instance()->setDBUrl(url);
  ASSERT_EQ(Kyrofmdb::CDBMaintain::instance()->Init(5), FM_SUCCESS);
  const std::string t = "tbl_test_right_1";
  ASSERT_EQ(CFMDBTools::DropTable(t), FM_SUCCESS);
  ASSERT_EQ(CFMDBTools::ExecuteSQL("delete from tbl_fdn_mgr"), FM_SUCCESS);
  ASSERT_EQ(CFMDBTools::ExecuteSQL("insert into tbl_fdn_mgr (fdnid, fdnname) values (1, 'NE=1'), (2, '*')"),
            FM_SUCCESS);
  EXPECT_EQ(CFMDBTools::needCheckRight(t), FM_FAILURE);  // no such table
  EXPECT_EQ(CFMDBTools::needCheckRight("x; drop table tbl_fdn_mgr"), FM_INVALID_ARG);
  std::string ddl = Kyrofmdb::CFMDBSchema::rightTableDdl(t, 1);
  ASSERT_EQ(CFMDBTools::ExecuteSQL(ddl.substr(0, ddl.rfind(';'))), FM_SUCCESS);
  EXPECT_EQ(CFMDBTools::needCheckRight(t), FM_NO_RIGHT);  // empty: sees nothing
  ASSERT_EQ(CFMDBTools::ExecuteSQL("insert into " + t + " (MOid) values (1), (3)"), FM_SUCCESS);
  EXPECT_EQ(CFMDBTools::needCheckRight(t), FM_NO_RIGHT);
  ASSERT_EQ(CFMDBTools::ExecuteSQL("insert into " + t + " (MOid) values (2)"), FM_SUCCESS);
  EXPECT_EQ(CFMDBTools::needCheckRight(t), FM_SUCCESS);
  EXPECT_EQ(CFMDBTools::DropTable(t), FM_SUCCESS);
  EXPECT_EQ(CFMDBTools::ExecuteSQL("delete from tbl_fdn_mgr"), FM_SUCCESS);
  const std::string blocker = fmtest::makeTempDir("right") + "/file";  // a file where a directory should be
  std::ofstream(blocker) << "x";
  Kyrofmdb::CDBMaintain::instance()->setDBUrl("sqlite3://db=" + blocker + "/sub/fm.db");
  EXPECT_EQ(CFMDBTools::needCheckRight(t), FM_DB_CONNECT_FAIL);
  Kyrofmdb::CDBMaintain::instance()->setDBUrl("");
}

}  // namespace
}  // namespace Kyrofm
