// Tests of the id map manager: discovery of the tbl_id_map_ tables, the
// inactive state before UpgradeGroupIdMap, translations and their failures,
// reloads that fail, and look-ups racing reloads. On SQLite and, under
// scripts/with-postgres, on PostgreSQL.
#include <gtest/gtest.h>

#include <atomic>
#include <list>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "fm_common/fmcommon/FmIDMapMgr.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBSchema.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Kyrofmdb::CDBMaintain;
using Kyrofmdb::CFMDBSchema;
using Kyrofmdb::CFMDBTools;

class FmIDMapMgrTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    url_ = fmtest::databaseUrlFor(GetParam(), "idmap");
    if (url_.empty()) GTEST_SKIP() << "no PostgreSQL (run under scripts/with-postgres)";
    FmIDMapMgr::destroy();
    CDBMaintain::instance()->setDBUrl(url_);
    ASSERT_EQ(CDBMaintain::instance()->Init(5), FM_SUCCESS);
    std::vector<std::string> old;
    ASSERT_EQ(CFMDBTools::getFMDbTables("tbl/_id/_map%", old), FM_SUCCESS);
    for (const auto& t : old) ASSERT_EQ(CFMDBTools::DropTable(t), FM_SUCCESS);
    ASSERT_EQ(CFMDBTools::DropTable("tblxidxmapxdecoy"), FM_SUCCESS);
    makeMap("GroupId", {{1, "Equipment"}, {2, "Communication"}});
    makeMap("ReasonType", {{10, "Power failure"}, {11, "Fan"}});
  }
  void TearDown() override {
    FmIDMapMgr::destroy();
    Kyrofmdb::CFMDBPool* pool = CDBMaintain::instance()->GetDBPool();
    EXPECT_TRUE(pool == nullptr || pool->leasedCount() == 0) << "connection leaked";
    CDBMaintain::instance()->setDBUrl("");
  }

  void makeMap(const std::string& field, const std::map<int, std::string>& rows) {
    int type = CDBMaintain::instance()->getDBType();
    ASSERT_EQ(CFMDBTools::ExecuteSQL(CFMDBSchema::idMapTableDdl(field, type)), FM_SUCCESS);
    ASSERT_EQ(CFMDBTools::ExecuteSQL("delete from tbl_id_map_" + field), FM_SUCCESS);
    for (const auto& r : rows) {
      ASSERT_EQ(CFMDBTools::ExecuteSQL("insert into tbl_id_map_" + field + " (Name, ID) values ('" +
                                       CFMDBTools::getFiltSql(r.second, CFMDBTools::FILT_LITERAL) + "', " +
                                       std::to_string(r.first) + ")"),
                FM_SUCCESS);
    }
  }

  std::string url_;
};

INSTANTIATE_TEST_SUITE_P(Db, FmIDMapMgrTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

// Nothing is translated before UpgradeGroupIdMap, which reads the tables again.
TEST_P(FmIDMapMgrTest, TranslationsAndTheirFailures) {
  ASSERT_EQ(CFMDBTools::ExecuteSQL("create table tblxidxmapxdecoy (Name varchar(20), ID integer)"), FM_SUCCESS);
  FmIDMapMgr* mgr = FmIDMapMgr::Instance();
  std::string text;
  std::list<FmFieldIDMap> out;
  EXPECT_EQ(mgr->getIDMap("GroupId", 1, text), FM_IDMAP_NOT_ACTIVE);
  makeMap("GroupId", {{1, "Equipment"}, {2, "Communication"}, {3, "Changed"}});
  ASSERT_EQ(mgr->UpgradeGroupIdMap(), static_cast<int>(FM_SUCCESS));
  const std::tuple<std::string, long, long, std::string> cases[] = {
      {"groupid", 1, FM_SUCCESS, "Equipment"},  // field names compare without case
      {"GroupId", 3, FM_SUCCESS, "Changed"},
      {"GroupId", 4, FM_FAILURE, "?"},
      {"GroupId", 4294967297L, FM_FAILURE, "?"},
      {"Severity", 1, FM_FAILURE, "?"},
      {"xdecoy", 1, FM_FAILURE, "?"},  // '_' of the pattern matches only '_'
  };
  fmtest::TraceCapture quiet;
  for (const auto& [field, key, rc, expect] : cases) {
    text = "?";
    EXPECT_EQ(mgr->getIDMap(field, key, text), rc) << field << "/" << key;
    EXPECT_EQ(text, expect) << field << "/" << key;
  }

  ASSERT_EQ(mgr->getIDMap(std::list<std::string>{"ReasonType"}, out), FM_SUCCESS);
  ASSERT_EQ(out.size() * 10 + out.front().m_mapIDText.size(), 12u);
  EXPECT_EQ(mgr->getIDMap(std::list<std::string>{"GroupId", "Nope", "ReasonType"}, out), FM_FAILURE);
}

TEST_P(FmIDMapMgrTest, ReloadsPickUpChangesAndFailedReloadsKeepTheOldMap) {
  FmIDMapMgr* mgr = FmIDMapMgr::Instance();
  mgr->UpgradeGroupIdMap();
  makeMap("Vendor", {{1, "Acme"}});
  EXPECT_EQ(mgr->updateIdMapMem("ignored"), static_cast<int>(FM_SUCCESS));
  ASSERT_EQ(CFMDBTools::DropTable("tbl_id_map_Vendor"), FM_SUCCESS);
  EXPECT_EQ(mgr->getSingleIdMap("Vendor"), static_cast<int>(FM_FAILURE));
  std::string text;
  ASSERT_EQ(mgr->getIDMap("Vendor", 1, text), FM_SUCCESS);
  EXPECT_EQ(text, "Acme");
  EXPECT_EQ(mgr->getSingleIdMap("bad name; drop"), static_cast<int>(FM_FAILURE));

  // The database away: maps kept, and UpgradeGroupIdMap still activates.
  FmIDMapMgr::destroy();
  mgr = FmIDMapMgr::Instance();
  CDBMaintain::instance()->setDBUrl("sqlite3://db=/proc/self/status/fm.db");
  EXPECT_EQ(mgr->UpgradeGroupIdMap(), static_cast<int>(FM_DB_CONNECT_FAIL));
  ASSERT_EQ(mgr->getIDMap("GroupId", 1, text), FM_SUCCESS);
  EXPECT_EQ(text, "Equipment");
  CDBMaintain::instance()->setDBUrl(url_);
}

class FmIDMapMgrConcurrencyTest : public FmIDMapMgrTest {};

INSTANTIATE_TEST_SUITE_P(Db, FmIDMapMgrConcurrencyTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST_P(FmIDMapMgrConcurrencyTest, LookupsRaceReloadsAndActivation) {
  std::atomic<bool> stop{false};
  std::atomic<long> wrong{0};
  fmtest::runTogether(5, [&](int t) {
    FmIDMapMgr* mgr = FmIDMapMgr::Instance();
    for (int i = 0; t == 0 && i < 10; ++i) {
      EXPECT_EQ(mgr->UpgradeGroupIdMap(), static_cast<int>(FM_SUCCESS));
      EXPECT_EQ(mgr->updateIdMapMem(""), static_cast<int>(FM_SUCCESS));
    }
    if (t == 0) stop = true;
    while (!stop.load()) {
      std::string text;
      long rc = mgr->getIDMap("GroupId", 2, text);
      wrong += rc == FM_SUCCESS ? text != "Communication" : rc != FM_IDMAP_NOT_ACTIVE;
      std::list<FmFieldIDMap> out;
      wrong += mgr->getIDMap(std::list<std::string>{}, out) == FM_SUCCESS && out.size() != 2u;
    }
  });
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace Kyrofm
