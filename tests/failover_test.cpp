// The database fails over while identifiers are handed out. Runs under
// `scripts/with-postgres --standby` (a primary with a synchronous hot standby;
// skipped otherwise): two threads allocate identifier ranges (FMIdMgr) and new
// FDN ids (CFdnManager) through one multi-host URL, the primary's postmaster is
// killed (or made read-only) at a random moment and the standby promoted. The same process must go
// on writing to the new primary through the same pool, and no identifier it
// handed out may be lost or given twice: in memory, in the tables of the new
// primary, and after the managers restart. FM_TEST_SEED repeats a run.
// A primary that lives on read-only is left too: what the outage wrote must
// reach the promoted standby.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "fm_common/fmcommon/FMIdMgr.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBIdUtil.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Kyrofmdb::CDBMaintain;

const FMIDTYPE kKind = static_cast<FMIDTYPE>(7);

const char* env(const char* name) {
  const char* v = std::getenv(name);
  return (v != nullptr && *v != '\0') ? v : nullptr;
}

// The first field of sql's answer on the server of a postgresql:// URL, ""
// when there is none.
std::string pgValue(const std::string& url, const char* sql) {
  PGconn* conn = PQconnectdb(url.substr(std::strlen("postgresql://")).c_str());
  PGresult* res = PQexec(conn, sql);
  std::string v = (PQresultStatus(res) == PGRES_TUPLES_OK && PQntuples(res) > 0) ? PQgetvalue(res, 0, 0) : "";
  PQclear(res);
  PQfinish(conn);
  return v;
}

// The newer (by generation) of the table's and the file's mark of kKind.
long persistedMark(const std::string& url) {
  std::istringstream row(pgValue(url, "select DBMax || ' ' || DBTimer from tbl_fm_id where IdType = 7"));
  long mark = 0, timer = -1;
  row >> mark >> timer;
  std::string cfg;
  ConfigAdapter::readValue(FMIdMgr::getCfgFile(), "vela/fmdb/tables/TBL_FM_ID", "FailoverKindID", cfg);
  size_t colon = cfg.find(':');
  if (colon != std::string::npos && std::stol(cfg.substr(colon + 1)) > timer) return std::stol(cfg.substr(0, colon));
  return mark;
}

// The primary goes away by SIGKILL ("kill"), or stays up read-only
// ("fence", its open connections still work for reads). A pair fails over
// once: run each case under its own scripts/with-postgres --standby.
class PgFailoverTest : public ::testing::TestWithParam<std::string> {};

INSTANTIATE_TEST_SUITE_P(Primary, PgFailoverTest, ::testing::Values("kill", "fence"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST_P(PgFailoverTest, IdentifiersSurviveLossOfThePrimaryAndPromotion) {
  const char *url = env("FM_TEST_PG_FAILOVER_URL"), *standby = env("FM_TEST_PG_STANDBY_URL"),
             *promote = env("FM_TEST_PG_PROMOTE_STANDBY"),
             *away = env(GetParam() == "kill" ? "FM_TEST_PG_KILL_PRIMARY" : "FM_TEST_PG_FENCE_PRIMARY");
  if (!url || !standby || !away || !promote) GTEST_SKIP() << "no primary/standby pair (scripts/with-postgres --standby)";
  if (pgValue(standby, "select pg_is_in_recovery()") != "t") GTEST_SKIP() << "the pair has failed over already";
  const unsigned seed = env("FM_TEST_SEED") ? std::stoul(env("FM_TEST_SEED")) : std::random_device{}();
  SCOPED_TRACE("FM_TEST_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);

  FMIdMgr::destroy();
  CFdnManager::Destroy();
  Kyrofmdb::CFMServiceFlag::instance()->setServiceStatus(Kyrofmdb::CFMServiceFlag::SERVICE_RUNNING);
  CDBMaintain* dbm = CDBMaintain::instance();
  dbm->setDBUrl(url);
  ASSERT_EQ(dbm->Init(5), FM_SUCCESS);
  ASSERT_EQ(Kyrofmdb::CFMDBTools::ExecuteSQL("delete from tbl_fdn_mgr"), FM_SUCCESS);
  SFMID seedRow;
  seedRow.strName = "FailoverKindID";
  ASSERT_EQ(Kyrofmdb::setDBIdToDB("tbl_fm_id", kKind, seedRow), FM_SUCCESS);
  std::filesystem::remove(FMIdMgr::getCfgFile());
  std::filesystem::remove(fmtest::kyroRoot() + "/var/fm/fmdb_FDN");
  auto quiet = std::make_shared<KyroCaptureSink>();  // the outage logs thousands of errors
  auto previousSink = KyroTrace::setSink(quiet);
  Kyrofmdb::CFMDBPool* pool = dbm->GetDBPool();

  // Workers: a new FDN, an FDN seen before (same id expected) and a range.
  std::mutex mu;
  std::map<std::string, long> fdns;          // FDN -> id handed out
  std::vector<std::pair<long, long>> ranges;  // identifier ranges handed out
  std::atomic<int> ops{0}, afterPromotion{0}, mismatches{0}, nextNe{0};
  std::atomic<bool> promoted{false}, stop{false};
  auto work = [&](unsigned wseed) {
    std::mt19937 r(wseed);
    std::vector<std::pair<std::string, long>> mine;
    while (!stop) {
      std::string fdn = "NE=" + std::to_string(nextNe++);
      int id = CFdnManager::instance()->GetIntFdn(fdn);
      if (id > 0) mine.emplace_back(fdn, id);
      if (!mine.empty()) {
        auto& old = mine[std::uniform_int_distribution<size_t>(0, mine.size() - 1)(r)];
        if (CFdnManager::instance()->GetIntFdn(old.first) != old.second) ++mismatches;
      }
      long lo = 0, hi = 0;
      bool got = FMIdMgr::instance()->allocateIds(kKind, std::uniform_int_distribution<long>(1, 3000)(r), lo, hi) ==
                 FM_SUCCESS;
      std::lock_guard<std::mutex> lock(mu);
      if (id > 0) fdns.emplace(fdn, id);
      if (got) ranges.emplace_back(lo, hi);
      ++ops;
      if (promoted) ++afterPromotion;
    }
  };
  std::thread w1(work, seed + 1), w2(work, seed + 2);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto waitFor = [&](const std::function<bool()>& done, int maxExtraMs) {
    while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, maxExtraMs)(rng)));
  };
  waitFor([&] { return ops >= 20; }, 400);
  int rcAway = std::system((std::string(away) + " >/dev/null").c_str());
  // Some work is done while no node takes writes (three operations: at least
  // one begun after the loss), then the standby is promoted.
  const int opsAtLoss = ops;
  waitFor([&] { return ops >= opsAtLoss + 3; }, 300);
  int rcPromote = std::system((std::string(promote) + " >/dev/null").c_str());
  promoted = true;
  // Served again: the file of the outage replayed, and more work done since.
  std::string fdnFile = fmtest::kyroRoot() + "/var/fm/fmdb_FDN";
  waitFor([&] { return afterPromotion >= 60 && !std::filesystem::exists(fdnFile); }, 0);
  stop = true;
  w1.join();
  w2.join();
  KyroTrace::setSink(previousSink);
  ASSERT_EQ(rcAway, 0);
  ASSERT_EQ(rcPromote, 0);
  EXPECT_FALSE(std::filesystem::exists(fdnFile)) << "FDNs of the outage never reached the new primary";
  EXPECT_EQ(mismatches, 0) << "an FDN changed its id";

  // Memory: ranges disjoint, every FDN id given once and resolving back.
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); ++i) ASSERT_GT(ranges[i].first, ranges[i - 1].second) << "range given twice";
  std::map<long, std::string> byId;
  for (const auto& kv : fdns) {
    EXPECT_TRUE(byId.emplace(kv.second, kv.first).second) << "fdnid " << kv.second << " given twice";
    EXPECT_EQ(CFdnManager::instance()->GetStrFdn(kv.second), kv.first);
  }
  // The pool made before the failover serves the promoted standby.
  EXPECT_EQ(dbm->GetDBPool(), pool);

  // The new primary, read on a session of its own, holds exactly these FDNs,
  // and a mark above every range.
  std::map<long, std::string> rows;
  std::istringstream in(pgValue(standby, "select string_agg(fdnid || ' ' || fdnname, ';') from tbl_fdn_mgr"));
  for (std::string row; std::getline(in, row, ';');) rows[std::stol(row)] = row.substr(row.find(' ') + 1);
  EXPECT_EQ(rows.size(), byId.size());
  for (const auto& kv : byId) {
    auto it = rows.find(kv.first);
    ASSERT_TRUE(it != rows.end() && it->second == kv.second) << "fdnid " << kv.first << " of " << kv.second << " lost";
  }
  ASSERT_FALSE(ranges.empty());
  long top = ranges.back().second;
  EXPECT_GT(persistedMark(standby), top);

  // After a restart of the managers (and of the pool) nothing is given again.
  FMIdMgr::destroy();
  CFdnManager::Destroy();
  dbm->Reset();
  for (const auto& kv : fdns) EXPECT_EQ(CFdnManager::instance()->getFdnIdEx(kv.first), kv.second) << kv.first;
  EXPECT_GT(CFdnManager::instance()->GetIntFdn("NE=after-restart"), byId.empty() ? 0 : byId.rbegin()->first);
  long lo = 0, hi = 0;
  ASSERT_EQ(FMIdMgr::instance()->allocateIds(kKind, 1, lo, hi), FM_SUCCESS);
  EXPECT_GT(lo, top);
  FMIdMgr::destroy();
  CFdnManager::Destroy();
  dbm->setDBUrl("");
}

}  // namespace
}  // namespace Kyrofm
