// Tests of the database layer: pool, transaction scopes, commands, batch
// insert, table tools, LIKE/literal escaping, the alarm table round trip, the
// connection guard and the failure story. Every suite runs on SQLite and, under
// scripts/with-postgres, on PostgreSQL too.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include <soci/soci.h>

#include "fm_common/platform/FMDBBackend.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBSchema.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "support/FmTestSupport.h"

namespace Kyrofmdb {
namespace {

using Kyrofm::FM_DB_CONNECT_FAIL;
using Kyrofm::FM_FAILURE;
using Kyrofm::FM_INVALID_ARG;
using Kyrofm::FM_SUCCESS;


// Points the layer at url and opens the pool; for PostgreSQL also makes the
// bitand function the mod/bitand dialect needs.
void useDatabase(const std::string& url) {
  CDBMaintain::instance()->setDBUrl(url);
  ASSERT_EQ(CDBMaintain::instance()->Init(5), FM_SUCCESS) << url;
  if (CDBMaintain::dbTypeOfUrl(url) == FM_DBTYPE_POSTGRESQL) {
    ASSERT_EQ(CFMDBTools::ExecuteSQL("create or replace function bitand(bigint, bigint) returns bigint "
                                     "as 'select $1 & $2' language sql immutable"),
              FM_SUCCESS);
  }
}

// One value of a single-row, single-column query.
std::string queryOne(const std::string& sql) {
  std::string value = "<none>";
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "test", FM_FAILURE, [&](SAConnection& conn) -> long {
    SACommand cmd(&conn, sql);
    cmd.Execute();
    if (cmd.FetchNext()) value = cmd.Field(1).isNull() ? "NULL" : cmd.Field(1).asString();
    return FM_SUCCESS;
  });
  EXPECT_EQ(rc, FM_SUCCESS) << sql;
  return value;
}

long countRows(const std::string& table, const std::string& cond = "") {
  long n = -1;
  EXPECT_EQ(CFMDBTools::getRecordCountOfTable(table, n, cond), FM_SUCCESS);
  return n;
}

class DbLayerTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    url_ = fmtest::databaseUrlFor(GetParam(), "dblayer");
    if (url_.empty()) GTEST_SKIP() << "no PostgreSQL (run under scripts/with-postgres)";
    useDatabase(url_);
  }
  void TearDown() override {
    CFMDBPool* pool = CDBMaintain::instance()->GetDBPool();
    if (pool != nullptr) {
      EXPECT_EQ(pool->leasedCount(), 0) << "connection leaked";
    }
    CDBMaintain::instance()->setDBUrl("");
  }
  // A scratch table of this test: dropped first so PostgreSQL runs start clean.
  std::string scratch(const std::string& name, const std::string& columns) {
    EXPECT_EQ(CFMDBTools::DropTable(name), FM_SUCCESS);
    EXPECT_EQ(CFMDBTools::ExecuteSQL("create table " + name + " (" + columns + ")"), FM_SUCCESS);
    return name;
  }
  bool isPg() const { return GetParam() == "postgresql"; }
  std::string url_;
};

INSTANTIATE_TEST_SUITE_P(Db, DbLayerTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST_P(DbLayerTest, PoolAnswersType) {
  CDBMaintain* db = CDBMaintain::instance();
  ASSERT_NE(db->GetDBPool(), nullptr);
  EXPECT_EQ(db->getDBType(), isPg() ? FM_DBTYPE_POSTGRESQL : FM_DBTYPE_SQLITE);
}

// The transaction scope: commit on normal exit, rollback when an exception
// leaves it or a statement inside it failed.
TEST_P(DbLayerTest, TransactionScopeCommitsOrRollsBack) {
  std::string t = scratch("t_dbl_tx", "v BIGINT");
  CFMDBPool* pool = CDBMaintain::instance()->GetDBPool();
  auto insert = [&](FMAutoTransaction& tr, long v) {
    SACommand cmd(tr.getConn(), "insert into " + t + " (v) values (:v)");
    cmd.Param("v").setAsLong() = v;
    cmd.Execute();
  };
  {  // normal exit commits
    FMAutoTransaction tr(pool, 1000);
    insert(tr, 1);
  }
  try {  // an exception leaving the scope rolls back
    FMAutoTransaction tr(pool, 1000);
    insert(tr, 2);
    throw std::runtime_error("caller failure");
  } catch (const std::runtime_error&) {
  }
  {  // a failed statement rolls the whole scope back and refuses later statements, on every database alike
    FMAutoTransaction tr(pool, 1000);
    insert(tr, 3);
    EXPECT_THROW(SACommand(tr.getConn(), "insert into no_such_table_x (v) values (1)").Execute(), SAException);
    EXPECT_THROW(insert(tr, 4), SAException);
  }
  {  // explicit Rollback and Commit
    FMAutoTransaction tr(pool, 1000), tr2(pool, 1000);
    insert(tr, 5);
    tr.Rollback();
    insert(tr2, 6);
    EXPECT_EQ(tr2.Commit(), FM_SUCCESS);
  }
  EXPECT_EQ(queryOne("select count(*) || ' ' || sum(v) from " + t), "2 7");
}

// Batch insert: several statements on PostgreSQL (100 rows each here), NULLs
// for unset cells, all or nothing when a row fails.
TEST_P(DbLayerTest, BatchInsertWritesEveryRowOrNothing) {
  std::string t = scratch("t_dbl_batch", "fdnid BIGINT NOT NULL, fdnname TEXT");
  const int n = 237;  // not a multiple of the rows PostgreSQL takes per statement
  auto batch = [&](int rows, int announced, int nullIdAt) {
    long affected = -1;
    long rc = CFMDBGuard::run(__FILE__, __LINE__, "batch", FM_FAILURE, [&](SAConnection& conn) {
      SACommand cmd(&conn);
      cmd.SetExecBatch(true);
      cmd.SetTable(t);
      cmd.SetBatchMaxRowCount(rows);
      for (int i = 0; i < rows; ++i) {
        if (i != nullIdAt) cmd.Param("fdnid").setAsLong() = i;  // a NULL id violates NOT NULL
        if (i % 100 != 0) cmd.Param("fdnname").setAsString() = "NE=" + std::to_string(i) + ",it's";
        cmd.EndRow();  // every hundredth row leaves fdnname NULL
      }
      cmd.Execute(announced);
      affected = cmd.RowsAffected();
      return FM_SUCCESS;
    });
    return rc == FM_SUCCESS ? affected : -1;
  };
  {
    fmtest::TraceCapture cap;
    EXPECT_EQ(batch(n, n, -1), n);
    EXPECT_EQ(batch(10, 9, 7), -1);
    EXPECT_TRUE(cap.contains("9 rows announced, 10 collected", Kyrofm::TRACE_WARNING));
  }
  EXPECT_EQ(countRows(t), n);
  EXPECT_EQ(countRows(t, " where fdnname is null"), 3);
  EXPECT_EQ(queryOne("select fdnname from " + t + " where fdnid = 236"), "NE=236,it's");
}

TEST_P(DbLayerTest, TableTools) {
  const std::string t = "t_dbl_tools";
  ASSERT_EQ(CFMDBTools::DropTable(t), FM_SUCCESS);
  bool exists = true;
  EXPECT_EQ(CFMDBTools::truncateTable(t), FM_FAILURE);  // no such table

  CFMDBTools tools;
  tools.AddLongColumn("GroupID");
  tools.AddLongColumn("AlarmID");
  tools.AddStringColumn("Name", 0);  // no length: VARCHAR(255) (PostgreSQL refuses VARCHAR(0))
  EXPECT_EQ(tools.CreateTable(t), FM_SUCCESS);
  EXPECT_TRUE(CFMDBTools::IsTableExist("T_DBL_TOOLS"));  // table names are case-insensitive

  const std::pair<std::string, long> statements[] = {
      {"insert into " + t + " values (1, 10, 'a'), (2, -5, 'b'), (3, 0, NULL)", FM_SUCCESS},
      // Two statements in one text: refused as a whole, nothing runs (SQLite
      // would otherwise run the first and drop the second without a word).
      {"insert into " + t + " values (9, 9, 'x'); delete from " + t, FM_FAILURE},
      {"insert into " + t + " values (4, 4, 'a;b');  ", FM_SUCCESS},
      {"delete from " + t + " where AlarmID = 4", FM_SUCCESS}};
  for (const auto& st : statements) EXPECT_EQ(CFMDBTools::ExecuteSQL(st.first), st.second) << st.first;
  EXPECT_EQ(CFMDBTools::ExecuteSQL("insert into no_such_table values (1)", 5, false), FM_FAILURE);
  EXPECT_EQ(CFMDBTools::ExecuteSQL("insert into no_such_table values (1)", 5, true), FM_SUCCESS);

  for (const auto& [cond, rc, n] : {std::make_tuple("", FM_SUCCESS, 3L), std::make_tuple(" where AlarmID<=0", FM_SUCCESS, 2L),
                                    std::make_tuple(" where nosuchcolumn<=0", FM_FAILURE, 0L)}) {
    long count = -1;
    EXPECT_EQ(CFMDBTools::getRecordCountOfTable(t, count, cond), rc) << cond;
    EXPECT_EQ(count, n) << cond;
  }
  EXPECT_EQ(CFMDBTools::truncateTable(t), FM_SUCCESS);
  EXPECT_EQ(countRows(t), 0);
  EXPECT_EQ(CFMDBTools::DropTable(t), FM_SUCCESS);
  EXPECT_FALSE(CFMDBTools::IsTableExist(t));

  // Names that are not plain identifiers never reach the database.
  for (const std::string bad : {"", "t; drop table tbl_fdn_mgr", "1abc", "a b", "t'--"}) {
    EXPECT_EQ(CFMDBTools::DropTable(bad), FM_INVALID_ARG) << bad;
    EXPECT_EQ(CFMDBTools::truncateTable(bad), FM_INVALID_ARG) << bad;
    EXPECT_EQ(CFMDBTools::IsTableExist(bad, exists), FM_INVALID_ARG) << bad;
    EXPECT_FALSE(CFMDBTools::initTempTable(std::set<long>{1}, bad)) << bad;
  }
}

TEST_P(DbLayerTest, SessionsAndSqliteDialect) {
  soci::session unopened;  // no server behind it: neither alive nor writable
  EXPECT_FALSE(fmdbPostgresAlive(unopened) || fmdbPostgresWritable(unopened));
  fmdbOpenSession(unopened, "sqlite3://db=" + fmtest::makeTempDir("dbl_new") + "/new/x.db");  // the folder is made
  EXPECT_EQ(queryOne("-- a comment ends with its line; select 8\nselect 7"), "7");
  // bitand gives NULL for a NULL operand on both databases (not 0, which a test for 0 would select).
  EXPECT_EQ(queryOne("select bitand(12, 10) || ' ' || coalesce(bitand(null, 1), -9)"), "8 -9");
}

// Alarm records go into an alarm table and come back field for field.
TEST_P(DbLayerTest, AlarmRecordRoundTrip) {
  using Kyrofm::AlmRecord_t;
  const std::string table = "tbl_cur_alm";
  ASSERT_EQ(CFMDBTools::truncateTable(table), FM_SUCCESS);
  std::vector<AlmRecord_t> in(40);
  const long extremes[] = {0, 1, -1, LONG_MAX, LONG_MIN, 2147483647L, -2147483648L, 1733390000L};
  for (int i = 0; i < 40; ++i) {
    AlmRecord_t& r = in[i];
    const long base = extremes[i % 8];
    const std::string ne = "NE=" + std::to_string(i);
    for (int p = 1; p <= AlmRecord_t::PARAM_COUNT; ++p) r.setParam(p, base == 0 ? p * i : (base < 0 ? base + p : base - p));
    r.setLogId(1000 + i), r.setAlarmId(base), r.setGroupId(i * 7), r.setSeverity(static_cast<char>(i % 6));
    r.setAckStatus(static_cast<char>(i % 2)), r.setClearStatus(static_cast<char>((i / 2) % 2));
    r.setProcessMode(static_cast<char>(-128 + i)), r.setFunctionType(127), r.setAlarmEventFlag(i % 4);
    r.setAlarmType(i), r.setNEType(base), r.setLinkType(-i), r.setOccurUtcTime(1733390000L + i);
    r.setOccurNeTime(1733390000L + 28800 + i), r.setOccurDst(21600 + 65536 * (i % 3));
    r.setClearUtcTime(i % 2 ? 0 : 1733399999L), r.setAckUtcTime(LONG_MAX - i), r.setStatsticStamp(LONG_MIN + i);
    r.setParamFlagWord(0xFFFFFFFFul - static_cast<unsigned long>(i)), r.setMoDn(ne + ",Board='1'");
    Kyrofm::NEInfo_t info;
    info.strNEFDN = ne;
    info.lNEType = base;
    r.setNE(info), r.setLinkDn(i % 3 ? "" : "Link=\xE4\xB8\xAD\xE6\x96\x87"), r.setExtendInfo("ext 100% a_b \\ 'q'");
    r.setAddtionalText(std::string(3000, 'x')), r.setRootId("root:" + std::to_string(i));
    r.setIntExtParam(0, 16, 500 + i), r.setIntExtParam(0, 15, 600 + i), r.setIntExtParam(0, 18, i % 2 ? 0 : 700 + i);
    r.setIntExtParam(2, 7, base), r.setStrExtParam(1, 3, "s13-" + std::to_string(i));
    r.setStrExtParam(1, 1, i % 2 ? "" : "dev-root");
  }
  ASSERT_EQ(FMAlarmTableIO::writeRecords(table, in), FM_SUCCESS);
  std::vector<AlmRecord_t> out;
  ASSERT_EQ(FMAlarmTableIO::readRecords(table, "", out), FM_SUCCESS);
  ASSERT_EQ(out.size(), in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    for (const auto& col : FMAlarmTableIO::columns()) {
      SAParam a, b;
      col.write(in[i], a);
      col.write(out[i], b);
      EXPECT_EQ(a.asString(), b.asString()) << "record " << i << " column " << col.name;
    }
    EXPECT_TRUE(out[i].getGroupId() == in[i].getGroupId() && out[i].getNE() == in[i].getNE() &&
                out[i].getParamFlagWord() == in[i].getParamFlagWord()) << i;
  }
  // The columns the filters name select what the record says.
  std::vector<long> csns;
  ASSERT_EQ(FMAlarmTableIO::selectCsns(table, "para6 = 14 and AlmLevel = 2 and Cat = 2 and FDNId = 502", csns),
            FM_SUCCESS);
  EXPECT_EQ(csns, std::vector<long>{1002});
  ASSERT_EQ(FMAlarmTableIO::selectCsns(table, "IsConfirmed = 1 and IsCleared = 1 and StrExt1_3 like 's13-1%'", csns),
            FM_SUCCESS);
  EXPECT_EQ(csns, (std::vector<long>{1011, 1015, 1019}));
  // Empty texts are NULL in the table, as the filters' "is null" expects.
  EXPECT_EQ((std::vector<long>{countRows(table, " where bitand(ParamFlag, 1) = 1"), countRows(table, " where LinkDn is null"),
                               countRows(table, " where StrExt1_1 is null"), countRows(table, " where LinkDn = ''")}),
            (std::vector<long>{20, 26, 20, 0}));
  ASSERT_EQ(CFMDBTools::truncateTable(table), FM_SUCCESS);
}

// Concurrent users of the pool: no busy error, no lost row, every connection
// given back. More threads than pooled connections.
class DbLayerConcurrencyTest : public DbLayerTest {};
INSTANTIATE_TEST_SUITE_P(Db, DbLayerConcurrencyTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST_P(DbLayerConcurrencyTest, PooledConnections) {
  scratch("t_conc", "thread BIGINT, n BIGINT");
  const int threads = 8, perThread = 10;
  std::atomic<int> failures{0};
  fmtest::runTogether(threads, [&](int w) {
    for (int i = 0; i < perThread; ++i) {
      long rc = CFMDBGuard::run(__FILE__, __LINE__, "worker", FM_FAILURE, [&](SAConnection& conn) {
        SACommand ins(&conn, "insert into t_conc (thread, n) values (:t, :n)");
        ins.Param("t").setAsLong() = w;
        ins.Param("n").setAsLong() = i;
        ins.Execute();
        SACommand sel(&conn, "select count(*) from t_conc where thread = :t");
        sel.Param("t").setAsLong() = w;
        sel.Execute();
        return sel.FetchNext() && sel.Field(1).asLong() == i + 1 ? FM_SUCCESS : FM_FAILURE;
      });
      if (rc != FM_SUCCESS) ++failures;
    }
  });
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(countRows("t_conc"), threads * perThread);
}

// Only the id of the root FDN "*" in a user's right table makes the check of the user's rows needless.
TEST_P(DbLayerTest, NeedCheckRightOnlyForTheRootObject) {
  const std::string t = "tbl_test_right_1", ddl = CFMDBSchema::rightTableDdl(t, 1), ins = "insert into " + t;
  const std::pair<std::string, long> steps[] = {  // a statement, then the answer
      {"drop table if exists " + t, FM_FAILURE}, {"delete from tbl_fdn_mgr", FM_FAILURE},
      {"insert into tbl_fdn_mgr (fdnid, fdnname) values (1, 'NE=1'), (2, '*')", FM_FAILURE},
      {ddl.substr(0, ddl.rfind(';')), Kyrofm::FM_NO_RIGHT}, {ins + " (MOid) values (1), (3)", Kyrofm::FM_NO_RIGHT},
      {ins + " (MOid) values (2)", FM_SUCCESS}, {"delete from tbl_fdn_mgr", Kyrofm::FM_NO_RIGHT}};
  for (const auto& s : steps) {
    ASSERT_EQ(CFMDBTools::ExecuteSQL(s.first), FM_SUCCESS) << s.first;
    EXPECT_EQ(CFMDBTools::needCheckRight(t), s.second) << s.first;
  }
  EXPECT_EQ(CFMDBTools::needCheckRight("x; drop table tbl_fdn_mgr"), FM_INVALID_ARG);
}

// The DDL shipped in sql/ is the DDL the library applies.
TEST(DbLayerSchemaTest, SqlFilesMatchTheAppliedSchema) {
  const std::pair<int, std::string> files[] = {{FM_DBTYPE_SQLITE, "sql/sqlite/fm_schema.sql"},
                                               {FM_DBTYPE_POSTGRESQL, "sql/postgresql/fm_schema.sql"}};
  for (const auto& f : files) {
    std::string path = std::string(FM_SOURCE_DIR) + "/" + f.second;
    std::string expected = CFMDBSchema::getSchemaScript(f.first);
    if (std::getenv("FM_REGEN_SQL") != nullptr) std::ofstream(path, std::ios::binary) << expected;
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.good()) << path;
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), expected) << path << " differs from CFMDBSchema (FM_REGEN_SQL=1 rewrites it)";
  }
}

// ---------------------------------------------------------------------------
// The failure story.

// The three guard macros as the library's operations use them.
long guardedPlain() {
  FMDB_CONNECTION_GUARD(conn, Kyrofm::FM_DB_CONNECT_FAIL);
  try {
    SACommand cmd(conn, "select count(*) from tbl_fdn_mgr");
    cmd.Execute();
    return cmd.FetchNext() ? FM_SUCCESS : FM_FAILURE;
  } catch (SAException& e) {
    FMDB_LOG_EXCEPTION(nullptr, e);
    return FM_FAILURE;
  }
}

long guardedLogErr() {
  FMDB_CONNECTION_GUARD_WITH_LOGERR(conn, "CAlarmExpOperator::initDataFromAlarmExp", Kyrofm::FM_DB_CONNECT_FAIL);
  try {
    SACommand cmd(conn, "select nosuchcolumn from tbl_fdn_mgr");
    cmd.Execute();
    return FM_SUCCESS;
  } catch (SAException& e) {
    FMDB_LOG_EXCEPTION("CAlarmExpOperator::initDataFromAlarmExp", e);
    return FM_FAILURE;
  }
}

int g_voidReached = 0;
void guardedVoid() {
  FMDB_CONNECTION_GUARD_ERR_RETURN_VOID(conn, "FmIDMapMgr::getSingleIdMap");
  SACommand cmd(conn, "select 1");
  cmd.Execute();
  ++g_voidReached;
}

// Every table tool and record operation against an unusable database: the
// result code, and no crash and no leaked connection.
void expectEveryOperationFails(fmtest::TraceCapture& cap, const char* poolMessage) {
  bool exists = true;
  long count = 5;
  std::vector<std::string> tables{"x"};
  std::vector<Kyrofm::AlmRecord_t> recs(1);
  std::vector<long> csns{1};
  CFMDBTools tools;
  tools.AddLongColumn("id");
  g_voidReached = 0;
  guardedVoid();
  const long codes[] = {CFMDBTools::IsTableExist("tbl_fdn_mgr", exists), CFMDBTools::DropTable("t_gone"),
                        CFMDBTools::truncateTable("tbl_fdn_mgr"), tools.CreateTable("t_gone"),
                        CFMDBTools::ExecuteSQL("delete from tbl_fdn_mgr", 5, false),
                        CFMDBTools::getRecordCountOfTable("tbl_fdn_mgr", count, ""),
                        CFMDBTools::getFMDbTables("tbl%", tables), FMAlarmTableIO::writeRecords("tbl_cur_alm", recs),
                        FMAlarmTableIO::readRecords("tbl_cur_alm", "", recs),
                        FMAlarmTableIO::selectCsns("tbl_cur_alm", "", csns), guardedPlain(), guardedLogErr()};
  for (size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i) EXPECT_EQ(codes[i], FM_DB_CONNECT_FAIL) << "operation " << i;
  EXPECT_TRUE(!exists && count == 0 && tables.empty() && g_voidReached == 0);
  EXPECT_FALSE(CFMDBTools::IsTableExist("tbl_fdn_mgr"));
  EXPECT_FALSE(CFMDBTools::initTempTable(std::set<long>{1, 2}, "t_gone"));
  EXPECT_TRUE(cap.contains(poolMessage, Kyrofm::TRACE_ERROR)) << poolMessage;
  CFMDBPool* pool = CDBMaintain::instance()->GetDBPool();
  EXPECT_EQ(pool == nullptr ? 0 : pool->leasedCount(), 0);
  EXPECT_EQ(CFMThreadLimitSingle::activeThreads(), 0);
}

TEST(DbLayerFailureTest, UnopenableSqliteFileGivesConnectFail) {
  std::string blocker = fmtest::makeTempDir("dbfail") + "/file";
  std::ofstream(blocker) << "not a directory";
  CDBMaintain::instance()->setDBUrl("sqlite3://db=" + blocker + "/sub/fm.db");
  {
    fmtest::TraceCapture cap;
    EXPECT_EQ(CDBMaintain::instance()->Init(5), FM_DB_CONNECT_FAIL);
    expectEveryOperationFails(cap, "FMDB_CONNECTION_GUARD Get database connection fail!");
  }
  // The same layer serves as soon as the database can be opened.
  useDatabase(fmtest::sqliteTestUrl("dbfail_ok"));
  EXPECT_EQ(guardedPlain(), FM_SUCCESS);
  g_voidReached = 0;
  guardedVoid();
  EXPECT_EQ(g_voidReached, 1);
  fmtest::TraceCapture cap;
  EXPECT_EQ(guardedLogErr(), FM_FAILURE);  // a bad statement: the operation's failure code
  long rc = CFMDBGuard::run(__FILE__, __LINE__, nullptr, 4242, [](SAConnection& conn) -> long {
    SACommand(&conn, "select *\n  from no_such_table_y").Execute();
    return FM_SUCCESS;
  });
  EXPECT_EQ(rc, 4242);
  // One line with the operation and the driver's cause, line breaks folded.
  EXPECT_EQ(cap.count("Get database connection throw SAException! cause: SACommand::Execute [select * | from "
                      "no_such_table_y]"), 1u);
  CDBMaintain::instance()->setDBUrl("");
}

TEST_P(DbLayerTest, PoolTimeoutGivesConnectFail) {
  CDBMaintain* db = CDBMaintain::instance();
  long saved = db->getConnPoolTimeOut();
  db->setConnPoolTimeOut(50);
  {
    std::vector<std::unique_ptr<FMAutoTransaction>> held;
    for (int i = 0; i < 5; ++i) held.push_back(std::make_unique<FMAutoTransaction>(db->GetDBPool(), 50));
    fmtest::TraceCapture quiet;
    std::thread other([] { EXPECT_EQ(guardedPlain(), FM_DB_CONNECT_FAIL); });
    other.join();
  }
  EXPECT_EQ(db->GetDBPool()->leasedCount(), 0);
  EXPECT_EQ(guardedPlain(), FM_SUCCESS);
  db->setConnPoolTimeOut(saved);
}

// PostgreSQL goes away in the middle of a run and comes back: every operation
// answers 33038 while it is away, and the same pool serves again afterwards.
TEST(DbLayerFailureTest, PostgresServerStopsAndComesBack) {
  const char* stop = std::getenv("FM_TEST_PG_STOP");
  const char* start = std::getenv("FM_TEST_PG_START");
  if (fmtest::postgresUrl().empty() || stop == nullptr || start == nullptr) {
    GTEST_SKIP() << "no PostgreSQL (run under scripts/with-postgres)";
  }
  useDatabase(fmtest::postgresUrl());
  {  // Every pooled connection has been used before the server goes away.
    std::vector<std::unique_ptr<FMAutoTransaction>> all;
    for (int i = 0; i < 5; ++i) all.push_back(std::make_unique<FMAutoTransaction>(CDBMaintain::instance()->GetDBPool(), 1000));
    for (auto& a : all) ASSERT_TRUE(a->getConn()->isConnected());
  }
  ASSERT_EQ(guardedPlain(), FM_SUCCESS);
  ASSERT_EQ(std::system((std::string(stop) + " >/dev/null 2>&1").c_str()), 0);
  {
    fmtest::TraceCapture cap;
    expectEveryOperationFails(cap, "Get database connection fail!");
  }
  {  // A pool that has to be opened while the server is away fails the same way.
    CDBMaintain::instance()->Reset();
    fmtest::TraceCapture cap;
    expectEveryOperationFails(cap, "FMDB_CONNECTION_GUARD Get database connection fail!");
  }
  ASSERT_EQ(std::system((std::string(start) + " >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(guardedPlain(), FM_SUCCESS);
  EXPECT_TRUE(CFMDBTools::IsTableExist("tbl_fdn_mgr"));
  // A pool made before an outage revives its broken connections too.
  CDBMaintain::instance()->setDBUrl(fmtest::postgresUrl());
  ASSERT_EQ(CDBMaintain::instance()->Init(5), FM_SUCCESS);
  ASSERT_EQ(std::system((std::string(stop) + " >/dev/null 2>&1").c_str()), 0);
  ASSERT_EQ(std::system((std::string(start) + " >/dev/null 2>&1").c_str()), 0);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(guardedPlain(), FM_SUCCESS) << "attempt " << i;
  EXPECT_EQ(CDBMaintain::instance()->GetDBPool()->leasedCount(), 0);
  CDBMaintain::instance()->setDBUrl("");
}

// Escaped literals keep their meaning when the server's default treats
// backslashes as escapes: every pooled connection turns that off.
TEST_P(DbLayerTest, PostgresBackslashesArePlainWhateverTheServerDefault) {
  if (!isPg()) GTEST_SKIP() << "a PostgreSQL setting";
  ASSERT_EQ(CFMDBTools::ExecuteSQL("alter database fmtest set standard_conforming_strings = off"), FM_SUCCESS);
  CDBMaintain::instance()->Reset();
  ASSERT_EQ(CDBMaintain::instance()->Init(5), FM_SUCCESS);
  EXPECT_EQ(queryOne("select length('" + CFMDBTools::getFiltSql("a\\b'", CFMDBTools::FILT_LITERAL) + "')"), "4");
  EXPECT_EQ(queryOne("select count(*) where 'a%b' like '" + CFMDBTools::getFiltSql("a%", CFMDBTools::FILT_LIKE) +
                     "%'" + Kyrofm::KyroCommonUtils::getEscapeString()),
            "1");
  EXPECT_EQ(CFMDBTools::ExecuteSQL("alter database fmtest reset standard_conforming_strings"), FM_SUCCESS);
}

TEST(DbLayerServiceFlagTest, ThreadLimitGivesUpWhenStopping) {
  CFMThreadLimitSingle::setMaxThreads(1);
  {
    CFMThreadLimitSingle outer(__FILE__, __LINE__);
    ASSERT_TRUE(outer.isAcquired());
    CFMThreadLimitSingle nested(__FILE__, __LINE__);  // the same thread counts once
    EXPECT_TRUE(nested.isAcquired());
    CFMServiceFlag::instance()->setServiceStatus(CFMServiceFlag::SERVICE_STOPPING);
    std::thread other([] {
      fmtest::TraceCapture cap;
      CFMThreadLimitSingle blocked(__FILE__, __LINE__);
      EXPECT_FALSE(blocked.isAcquired());
      EXPECT_EQ(guardedPlain(), FM_DB_CONNECT_FAIL);
    });
    other.join();
    CFMServiceFlag::instance()->setServiceStatus(CFMServiceFlag::SERVICE_RUNNING);
  }
  CFMThreadLimitSingle::setMaxThreads(32);
  EXPECT_EQ(CFMThreadLimitSingle::activeThreads(), 0);
}

}  // namespace
}  // namespace Kyrofmdb
