// Tests of the identifier allocator: ranges, marks and generations against
// the real table, the start-up reconciliation with "fm_cfg.xml", the failure
// orders of table and file writes, restarts after SIGKILL at random points,
// and concurrent callers. Every suite runs on SQLite and, under
// scripts/with-postgres, on PostgreSQL too.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "fm_common/fmcommon/FMIdMgr.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBIdUtil.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "support/FmTestChild.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Kyrofmdb::CDBMaintain;
using Kyrofmdb::CFMDBTools;

const FMIDTYPE kKind = static_cast<FMIDTYPE>(7);
const char* const kKindName = "TestKindID";
const char* const kSection = "vela/fmdb/tables/TBL_FM_ID";

struct Range {
  long lo, hi;
};

// Fails when two ranges share an identifier.
void expectDisjoint(std::vector<Range> ranges, const std::string& what) {
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.lo < b.lo; });
  for (size_t i = 0; i < ranges.size(); ++i) {
    ASSERT_TRUE(ranges[i].lo >= 1 && ranges[i].lo <= ranges[i].hi && (i == 0 || ranges[i].lo > ranges[i - 1].hi))
        << what << ": [" << ranges[i].lo << "," << ranges[i].hi << "] after " << (i > 0 ? ranges[i - 1].hi : 0);
  }
}

// A URL under which no database can be opened: its directory is a file.
std::string unreachableUrl(const std::string& goodUrl) {
  if (CDBMaintain::dbTypeOfUrl(goodUrl) == Kyrofmdb::FM_DBTYPE_POSTGRESQL) {
    return "postgresql://dbname=fmtest user=fm host=127.0.0.1 port=1 connect_timeout=2";
  }
  std::string blocker = fmtest::makeTempDir("nodb") + "/file";
  std::ofstream(blocker) << "not a directory";
  return "sqlite3://db=" + blocker + "/sub/fm.db";
}

long fileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

long exec(const std::string& sql) { return CFMDBTools::ExecuteSQL(sql); }

// The stored row of a kind (lDBTimer -1 when absent).
SFMID storedRow(FMIDTYPE type) {
  std::map<FMIDTYPE, SFMID> rows;
  EXPECT_EQ(Kyrofmdb::initDBIdFromDB("tbl_fm_id", rows), FM_SUCCESS);
  SFMID none;
  none.lDBTimer = -1;
  return rows.count(type) ? rows[type] : none;
}

// The stored mark and generation of a kind.
std::pair<long, long> markOf(FMIDTYPE type) {
  SFMID row = storedRow(type);
  return {row.lDBMax, row.lDBTimer};
}

void seedKind(FMIDTYPE type, const std::string& name, int32_t dbMax, int32_t timer) {
  SFMID s;
  s.strName = name;
  s.lDBMax = dbMax;
  s.lMemMax = dbMax;
  s.lDBTimer = timer;
  ASSERT_EQ(Kyrofmdb::setDBIdToDB("tbl_fm_id", type, s), FM_SUCCESS);
}

void writeCfg(const std::string& name, const std::string& value) {
  ConfigAdapter adapter;
  ASSERT_EQ(adapter.init(FMIdMgr::getCfgFile(), true), 0);
  ASSERT_EQ(adapter.modifySysParam(kSection, name, value, true), 0);
}

std::string readCfg(const std::string& name) {
  std::string value = "<none>";
  ConfigAdapter::readValue(FMIdMgr::getCfgFile(), kSection, name, value);
  return value;
}

// Makes the file unreadable for the adapter: not well-formed XML.
void damageCfg() {
  std::string path = FMIdMgr::getCfgFile();
  std::filesystem::create_directories(path.substr(0, path.rfind('/')));
  std::ofstream(path) << "<vela><fmdb><tables>";
}

FMIdMgr* restart() {
  FMIdMgr::destroy();
  return FMIdMgr::instance();
}

class FmIdMgrTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    url_ = fmtest::databaseUrlFor(GetParam(), "fmid");
    if (url_.empty()) GTEST_SKIP() << "no PostgreSQL (run under scripts/with-postgres)";
    FMIdMgr::destroy();
    CDBMaintain::instance()->setDBUrl(url_);
    ASSERT_EQ(CDBMaintain::instance()->Init(5), FM_SUCCESS);
    if (isPg()) {  // the server keeps its tables from test to test
      ASSERT_EQ(exec("delete from tbl_fm_id"), FM_SUCCESS);
      seedKind(FM_IDTYPE_TEMPTABLE, "TmpTableID", 0, 0);
    }
    ASSERT_EQ(exec("delete from tbl_alarm_shield_rule"), FM_SUCCESS);
    std::remove(FMIdMgr::getCfgFile().c_str());
    seedKind(kKind, kKindName, 0, 0);
  }
  void TearDown() override {
    FMIdMgr::destroy();
    Kyrofmdb::CFMDBPool* pool = CDBMaintain::instance()->GetDBPool();
    EXPECT_TRUE(pool == nullptr || pool->leasedCount() == 0) << "connection leaked";
    CDBMaintain::instance()->setDBUrl("");
    std::remove(FMIdMgr::getCfgFile().c_str());
  }
  bool isPg() const { return GetParam() == "postgresql"; }

  // Takes the database away (the layer can open no connection) and back.
  void databaseAway() { CDBMaintain::instance()->setDBUrl(unreachableUrl(url_)); }
  void databaseBack() {
    CDBMaintain::instance()->setDBUrl(url_);
    ASSERT_EQ(CDBMaintain::instance()->Init(5), FM_SUCCESS);
  }

  std::string url_;
};

INSTANTIATE_TEST_SUITE_P(Db, FmIdMgrTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST_P(FmIdMgrTest, FreshKindStartsAtOneAndPersistsAMarkOnlyWhenARangeReachesIt) {
  FMIdMgr* mgr = FMIdMgr::instance();
  long lo = 0, hi = 0;
  ASSERT_EQ(mgr->allocateIds(kKind, 9997, lo, hi), FM_SUCCESS);
  EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(1L, 9997L));
  EXPECT_EQ(markOf(kKind), std::make_pair(10000L, 1L));
  // [9998, 9999] stays below the mark 10000: no write.
  ASSERT_EQ(mgr->allocateIds(kKind, 2, lo, hi), FM_SUCCESS);
  EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(9998L, 9999L));
  // 10000 reaches it: mark 20000, next generation.
  ASSERT_EQ(mgr->allocateIds(kKind, 1, lo, hi), FM_SUCCESS);
  EXPECT_EQ(lo, 10000);
  EXPECT_EQ(markOf(kKind), std::make_pair(20000L, 2L));
  // A restart resumes at the mark, skipping 10001..19999.
  mgr = restart();
  EXPECT_EQ(mgr->allocateId(kKind), 20000);

  // Requests are capped at 100000 and must ask for one at least; an unknown
  // kind hands out nothing.
  ASSERT_EQ(mgr->allocateIds(kKind, 250000, lo, hi), FM_SUCCESS);
  EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(20001L, 120000L));
  fmtest::TraceCapture quiet;
  EXPECT_EQ(mgr->allocateIds(kKind, 0, lo, hi), FM_INVALID_ARG);
  EXPECT_EQ(lo + hi, 0);
  EXPECT_EQ(mgr->allocateIds(static_cast<FMIDTYPE>(99), 1, lo, hi), FM_FAILURE);
  EXPECT_EQ(mgr->allocateId(kKind), 120001);  // the refused requests took nothing
}

TEST_P(FmIdMgrTest, WrapPastTheLastIdentifierRestartsAtOne) {
  struct Case {
    long start, num, wantLo, wantHi, wantNext;
  };
  const Case cases[] = {
      {2147483640, 10, 1, 10, 11},                 // would pass 2147483647
      {2147483640, 8, 2147483640, 2147483647, 0},  // ends exactly on it: next request wraps
      {0, 3, 1, 3, 4},                             // 0 is never handed out
  };
  FMIdMgr* mgr = FMIdMgr::instance();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + "+" + std::to_string(c.num));
    ASSERT_EQ(mgr->modifydb(kKind, c.start), FM_SUCCESS);
    int32_t timer = storedRow(kKind).lDBTimer;
    long lo = 0, hi = 0, next = -1;
    ASSERT_EQ(mgr->allocateIds(kKind, c.num, lo, hi), FM_SUCCESS);
    ASSERT_EQ(mgr->getMaxID(kKind, next), FM_SUCCESS);
    EXPECT_EQ((std::vector<long>{lo, hi, next}), (std::vector<long>{c.wantLo, c.wantHi, c.wantNext}));
    SFMID row = storedRow(kKind);
    EXPECT_EQ(row.lDBTimer, timer + 1);
    EXPECT_GT(static_cast<long>(row.lDBMax), std::min(c.wantHi, 2147483646L));
  }
  EXPECT_EQ(mgr->modifydb(kKind, -1), FM_INVALID_ARG);
  EXPECT_EQ(mgr->modifydb(kKind, 2147483648L), FM_INVALID_ARG);
  EXPECT_EQ(mgr->modifydb(static_cast<FMIDTYPE>(99), 100), FM_FAILURE);
  // 2147483647 handed out, then a restart: the kind restarts at 1 instead of
  // repeating 2147483647 (the mark cannot lie above it).
  ASSERT_EQ(mgr->modifydb(kKind, 2147483647), FM_SUCCESS);
  EXPECT_EQ(storedRow(kKind).lDBMax, 2147483647);
  ASSERT_EQ(mgr->allocateId(kKind), 2147483647);
  mgr = restart();
  EXPECT_EQ(mgr->allocateId(kKind), 1);
}

TEST_P(FmIdMgrTest, StartReconcilesWithTheFile) {
  struct Case {
    std::string value;
    long wantMark, wantTimer;  // the counter starts at the mark
  };
  // The table holds mark 10000 with generation 6.
  const Case cases[] = {
      {"  25000:7 ", 25000, 7},   // newer: counter and mark from the file, copied to the table
      {"25000:6", 10000, 6},      // same generation: the table stays
      {"90000:3", 10000, 6},      // older
      {"abc:7", 10000, 6},        // malformed: skipped
      {"20000:8", 20000, 8},      // newer and lower (a restart of the kind): the file wins
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("file value '" + c.value + "'");
    seedKind(kKind, kKindName, 10000, 6);
    writeCfg(kKindName, c.value);
    FMIdMgr* mgr = restart();
    EXPECT_EQ(markOf(kKind), std::make_pair(c.wantMark, c.wantTimer));
    EXPECT_EQ(mgr->allocateId(kKind), c.wantMark);
  }
}

// Failure orders of the two stores. Each ends with a restart and checks that
// the counter lies above every range handed out before.
TEST_P(FmIdMgrTest, FailureOrdersNeverRepeatAnIdentifier) {
  FMIdMgr* mgr = FMIdMgr::instance();
  long lo = 0, hi = 0;
  auto take = [&](long n) { return mgr->allocateIds(kKind, n, lo, hi); };
  ASSERT_EQ(take(5000), FM_SUCCESS);  // table: 10000 gen 1

  // 1. Table and file both fail: nothing is handed out, the counter stays, and
  // the generation is not reused by the next write.
  databaseAway();
  damageCfg();
  EXPECT_EQ(take(20000), FM_FAILURE);
  std::remove(FMIdMgr::getCfgFile().c_str());
  // A counter set while the table is away is persisted by the next request.
  EXPECT_EQ(mgr->modifydb(kKind, 7000), FM_DB_CONNECT_FAIL);
  ASSERT_EQ(take(20000), FM_SUCCESS);  // [7000, 26999] -> file 30000:4 (2 was spent)
  EXPECT_EQ(lo, 7000);
  EXPECT_EQ(readCfg(kKindName), "30000:4");

  // 2. Restart while the file holds the newer mark and the table write-back
  // fails: the counter still resumes at the file's mark.
  mgr = restart();  // database away: kinds unknown
  EXPECT_EQ(take(1), FM_FAILURE);
  databaseBack();
  ASSERT_EQ(take(1), FM_SUCCESS);  // table 40000 gen 5
  EXPECT_EQ(lo, 30000);

  // 3. The file cannot be read at start while the table is fine: it may hold
  // a newer mark, so nothing is handed out until it can be read again.
  databaseAway();
  ASSERT_EQ(take(10000), FM_SUCCESS);  // [30001, 40000] -> file 50000:6
  databaseBack();
  EXPECT_EQ(readCfg(kKindName), "50000:6");
  std::string path = FMIdMgr::getCfgFile();
  ASSERT_EQ(std::rename(path.c_str(), (path + ".keep").c_str()), 0);
  damageCfg();
  mgr = restart();
  EXPECT_EQ(take(1), FM_FAILURE);
  ASSERT_EQ(std::rename((path + ".keep").c_str(), path.c_str()), 0);
  ASSERT_EQ(take(1), FM_SUCCESS);
  EXPECT_EQ(lo, 50000);
}

TEST_P(FmIdMgrTest, ShieldRuleIdentifiersFollowTheHighestStoredRule) {
  EXPECT_EQ(FMIdMgr::instance()->getFiltRuleID(), 1);  // no rule stored yet
  ASSERT_EQ(exec("insert into tbl_alarm_shield_rule (ID, RuleName) values (5, 'a')"), FM_SUCCESS);
  ASSERT_EQ(exec("insert into tbl_alarm_shield_rule (ID, RuleName) values (42, 'b')"), FM_SUCCESS);
  // Started without the database: no rule ID until the highest one is known.
  databaseAway();
  FMIdMgr* mgr = restart();
  EXPECT_EQ(mgr->getFiltRuleID(), -1);
  EXPECT_EQ(mgr->initFiltRuleID(), FM_FAILURE);
  databaseBack();
  EXPECT_EQ(mgr->getFiltRuleID(), 43);
  // Re-reading never goes back below what was handed out.
  ASSERT_EQ(mgr->initFiltRuleID(), FM_SUCCESS);
  EXPECT_EQ(mgr->getFiltRuleID(), 44);
}

// Child: allocates ranges of kind 7 in a loop and appends each range to a file
// (fsync) before taking the next. args: url, unreachable url, out file, seed,
// allocations after which the database goes away (-1: never).
const bool g_allocChild = fmtest::registerChild("fm_id_alloc_loop", [](const std::vector<std::string>& args) {
  if (args.size() != 5) return 2;
  CDBMaintain::instance()->setDBUrl(args[0]);
  int fd = ::open(args[2].c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return 3;
  std::mt19937 rng(static_cast<unsigned>(std::stoul(args[3])));
  long awayAfter = std::stol(args[4]);
  FMIdMgr* mgr = FMIdMgr::instance();
  for (long i = 0;; ++i) {
    if (i == awayAfter) CDBMaintain::instance()->setDBUrl(args[1]);
    long lo = 0, hi = 0;
    // Mostly small ranges, so that most of them stay below the mark (no write)
    // and a kill usually finds identifiers handed out since the last write.
    long n = std::uniform_int_distribution<long>(1, i % 4 == 0 ? 25000 : 3000)(rng);
    if (mgr->allocateIds(kKind, n, lo, hi) != FM_SUCCESS) return 4;
    char line[64];
    int len = std::snprintf(line, sizeof(line), "%ld %ld\n", lo, hi);
    if (::write(fd, line, static_cast<size_t>(len)) != len || ::fsync(fd) != 0) return 5;
  }
});

TEST_P(FmIdMgrTest, KilledAtRandomPointsNeverRepeatsARange) {
  std::string out = fmtest::makeTempDir("fmid_kill") + "/ranges.txt";
  std::string bad = unreachableUrl(url_);
  std::mt19937 rng(20261205u + (isPg() ? 1u : 0u));
  const int rounds = 6;
  for (int round = 0; round < rounds; ++round) {
    // Every other round the database goes away after a few allocations, so
    // the marks of that round live in the file.
    long sizeBefore = fileSize(out);
    long awayAfter = (round % 2 == 1) ? std::uniform_int_distribution<long>(0, 20)(rng) : -1;
    pid_t pid = fmtest::spawnChild("fm_id_alloc_loop", {url_, bad, out, std::to_string(rng()),
                                                        std::to_string(awayAfter)});
    ASSERT_GT(pid, 0);
    // Kill at a random moment after the child has received its first range
    // (starting it takes long on PostgreSQL).
    fmtest::waitUntil([&] { return fileSize(out) > sizeBefore; }, 30);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 250)(rng)));
    ::kill(pid, SIGKILL);
    ASSERT_EQ(fmtest::waitChild(pid), 128 + SIGKILL) << "child ended by itself in round " << round;
  }
  std::vector<Range> ranges;
  std::ifstream in(out);
  long lo = 0, hi = 0;
  while (in >> lo >> hi) ranges.push_back({lo, hi});
  ASSERT_GT(ranges.size(), static_cast<size_t>(rounds)) << "the children allocated too little";
  // The parent restarts too and allocates after all of them.
  FMIdMgr* mgr = restart();
  ASSERT_EQ(mgr->allocateIds(kKind, 100000, lo, hi), FM_SUCCESS);
  ranges.push_back({lo, hi});
  expectDisjoint(ranges, "ranges of killed children");
}

class FmIdMgrConcurrencyTest : public FmIdMgrTest {};

INSTANTIATE_TEST_SUITE_P(Db, FmIdMgrConcurrencyTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST_P(FmIdMgrConcurrencyTest, ManyThreadsReceiveDisjointRanges) {
  FMIdMgr::destroy();
  const int threads = 4, perThread = 40;
  std::vector<std::vector<Range>> got(threads);
  std::vector<int> rules(threads);
  fmtest::runTogether(threads, [&](int t) {
    FMIdMgr* mgr = FMIdMgr::instance();  // the first callers race on instance() too
    rules[t] = mgr->getFiltRuleID();
    std::mt19937 rng(static_cast<unsigned>(t));
    for (int i = 0; i < perThread; ++i) {
      long lo = 0, hi = 0;
      long n = std::uniform_int_distribution<long>(1, 4000)(rng);
      if (mgr->allocateIds(kKind, n, lo, hi) == FM_SUCCESS) got[t].push_back({lo, hi});
    }
  });
  std::vector<Range> all;
  for (const auto& v : got) all.insert(all.end(), v.begin(), v.end());
  EXPECT_EQ(all.size(), static_cast<size_t>(threads * perThread));
  expectDisjoint(all, "threads");
  std::sort(rules.begin(), rules.end());
  for (int t = 0; t < threads; ++t) EXPECT_EQ(rules[t], t + 1);  // none twice, none skipped
  long top = 0;  // the stored mark covers every range
  for (const auto& r : all) top = std::max(top, r.hi);
  EXPECT_GT(static_cast<long>(storedRow(kKind).lDBMax), top);
}

}  // namespace
}  // namespace Kyrofm
