// Tests of the FDN manager, the temporary-table guard and the FDN parent
// relation. The database suites run on SQLite and, under scripts/with-postgres,
// on PostgreSQL; the failure story takes the database away (PostgreSQL: the
// server is stopped; SQLite: the layer is pointed at a file that cannot be
// opened, or a trigger refuses writes) and checks that no identifier is lost
// or given twice across the outage and a restart of the manager.
#include <gtest/gtest.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <unordered_map>

#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/KyroEvent.h"
#include "fm_common/fmcommon/FMEvents.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Kyrofmdb::CDBMaintain;
using Kyrofmdb::CFMDBGuard;
using Kyrofmdb::CFMDBTools;
using Kyrofmdb::CFMServiceFlag;
using Kyrofmdb::SACommand;
using Kyrofmdb::SAConnection;

using IdMap = std::map<long, std::string>;

long exec(const std::string& sql) { return CFMDBTools::ExecuteSQL(sql, 1, false); }

// Every row of tbl_fdn_mgr.
IdMap tableRows() {
  IdMap rows;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "test", FM_FAILURE, [&](SAConnection& conn) -> long {
    SACommand cmd(&conn, "select fdnid, fdnname from tbl_fdn_mgr");
    cmd.Execute();
    while (cmd.FetchNext()) rows[cmd.Field(1).asLong()] = cmd.Field(2).asString();
    return FM_SUCCESS;
  });
  EXPECT_EQ(rc, FM_SUCCESS);
  return rows;
}

std::string fdnFilePath() { return fmtest::kyroRoot() + "/var/fm/fmdb_FDN"; }

std::map<std::string, long> fileRows() {
  std::map<std::string, long> rows;
  FdnFile(fdnFilePath()).FileToStrBuffer(rows);  // none without the file
  return rows;
}

void writeFile(const std::string& text) {
  std::filesystem::create_directories(fmtest::kyroRoot() + "/var/fm");
  std::ofstream(fdnFilePath(), std::ios::binary | std::ios::trunc) << text;
}

void insertRow(long id, const std::string& name) {
  ASSERT_EQ(exec("insert into tbl_fdn_mgr(fdnid, fdnname) values(" + std::to_string(id) + ", '" +
                 CFMDBTools::getFiltSql(name, 0) + "')"),
            FM_SUCCESS);
}

CFdnManager* restart() {
  CFdnManager::Destroy();
  return CFdnManager::instance();
}

// A manager on a SQLite database of its own, for the suites that need no
// server (and none of its control).
class FdnLocalDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CFdnManager::Destroy();
    CDBMaintain::instance()->setDBUrl("sqlite3://db=" + fmtest::makeTempDir("fdnlocal") + "/fm.db");
    ASSERT_EQ(CDBMaintain::instance()->Init(5), FM_SUCCESS);
    std::filesystem::remove_all(fdnFilePath());
    m = CFdnManager::instance();
  }
  void TearDown() override {
    CFdnManager::Destroy();
    CDBMaintain::instance()->setDBUrl("");
  }
  CFdnManager* m = nullptr;
};
using FdnManagerLimitTest = FdnLocalDbTest;
using FdnManagerConcurrencyTest = FdnLocalDbTest;

// Points the layer at the test database, empties tbl_fdn_mgr and the FDN file,
// and gives each test a manager built on that state.
class FdnManagerTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    CFdnManager::Destroy();
    url_ = fmtest::databaseUrlFor(GetParam(), "fdnmgr");
    if (url_.empty()) GTEST_SKIP() << "no PostgreSQL (run under scripts/with-postgres)";
    CDBMaintain::instance()->setDBUrl(url_);
    ASSERT_EQ(CDBMaintain::instance()->Init(5), FM_SUCCESS);
    ASSERT_EQ(exec("delete from tbl_fdn_mgr"), FM_SUCCESS);
    std::filesystem::remove_all(fdnFilePath());
    CFDNSplitter::instance()->setSplitter(',');
    CFMServiceFlag::instance()->setServiceStatus(CFMServiceFlag::SERVICE_RUNNING);
  }
  void TearDown() override {
    CFdnManager::Destroy();
    if (down_) bringBack();
    CDBMaintain::instance()->setDBUrl("");
    std::filesystem::remove_all(fdnFilePath());
  }
  bool isPg() const { return GetParam() == "postgresql"; }

  // The database goes away: PostgreSQL stops; SQLite is replaced by a file
  // that cannot be opened.
  void takeDown() { serverControl(true); }
  void bringBack() { serverControl(false); }
  void serverControl(bool down) {
    if (isPg()) {
      ASSERT_EQ(std::system((std::string(std::getenv(down ? "FM_TEST_PG_STOP" : "FM_TEST_PG_START")) +
                             " >/dev/null 2>&1").c_str()), 0);
    } else if (down) {
      std::string blocker = fmtest::makeTempDir("fdndown") + "/file";
      std::ofstream(blocker) << "x";
      CDBMaintain::instance()->setDBUrl("sqlite3://db=" + blocker + "/sub/fm.db");
    } else {
      CDBMaintain::instance()->setDBUrl(url_);
    }
    down_ = down;
  }
  // Runs a statement text that holds ';' inside (trigger bodies) on a session
  // of its own, beside the database layer.
  void rawExec(const std::string& sql) {
    soci::session s(isPg() ? static_cast<const soci::backend_factory&>(soci::postgresql) : soci::sqlite3, url_.substr(url_.find("://") + 3));
    s << sql;
  }
  bool canStop() const { return !isPg() || (std::getenv("FM_TEST_PG_STOP") && std::getenv("FM_TEST_PG_START")); }

  std::string url_;
  bool down_ = false;
};

INSTANTIATE_TEST_SUITE_P(Db, FdnManagerTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST_P(FdnManagerTest, NewFdnsAreStoredAndSurviveARestart) {
  CFdnManager* m = CFdnManager::instance();
  EXPECT_EQ(m->GetIntFdn("NE=1"), 1);  // empty table and file
  std::list<long> ids;
  EXPECT_EQ(m->GetIntFdnList({"", "NE=2", "NE=3", "NE=3"}, ids), FM_SUCCESS);
  EXPECT_EQ(ids, (std::list<long>{-1, 2, 3, 3}));
  std::set<long> idSet;
  EXPECT_EQ(m->GetIntFdnSet({"", "NE=1", "NE=4"}, idSet), FM_SUCCESS);
  EXPECT_EQ(idSet, (std::set<long>{-1, 1, 4}));
  std::map<std::string, long> idMap;
  EXPECT_EQ(m->GetIntFdnMap({"", "NE=5"}, idMap), FM_SUCCESS);
  EXPECT_EQ(idMap, (std::map<std::string, long>{{"", -1}, {"NE=5", 5}}));
  std::map<long, std::string> strMap;
  EXPECT_EQ(m->GetStrFdnMap({-1, 1, 77}, strMap), FM_SUCCESS);
  EXPECT_EQ(strMap, (std::map<long, std::string>{{-1, ""}, {1, "NE=1"}, {77, "UNKNOWN"}}));

  // After a restart, a full batch and a single row; quotes and colons in the names.
  m = restart();
  std::list<std::string> many{"NE=1", "NE=5"};
  for (int i = 0; i < 1001; ++i) many.push_back("B='" + std::to_string(i) + "'',:p" + std::to_string(i));
  ids.clear();
  EXPECT_EQ(m->GetIntFdnList(many, ids), FM_SUCCESS);
  IdMap rows = tableRows();
  EXPECT_EQ(rows.size(), many.size() + 3);
  auto idIt = ids.begin();
  for (const auto& f : many) EXPECT_EQ(rows[*idIt++], f);
}

// The counter after init lies above the table, the file and memory. A replay
// cut short after its insert (or a rename kept in the file) collides with rows
// of the table: the pairs already there count as written, a pair whose id has
// another name renames that row.
TEST_P(FdnManagerTest, InitCounterLiesAboveTableAndFileAndReplayCompletes) {
  insertRow(5, "OLD");
  insertRow(17, "B");
  insertRow(7, "X");
  writeFile("40:C\n9:D\n7:X\n5:A\n");
  CFdnManager* m = CFdnManager::instance();
  EXPECT_EQ(m->getCurMaxFdnId(), 41);
  EXPECT_FALSE(std::filesystem::exists(fdnFilePath()));  // replayed and deleted
  EXPECT_EQ(tableRows(), (IdMap{{5, "A"}, {7, "X"}, {9, "D"}, {17, "B"}, {40, "C"}}));
  EXPECT_EQ(m->getFdnIdEx("OLD"), -100);
  EXPECT_EQ(m->GetIntFdn("C"), 40);
  EXPECT_EQ(m->GetIntFdn("E"), 41);

  // A name stored under two ids resolves to the higher one; both ids keep it.
  insertRow(50, "A");
  ASSERT_EQ(exec("update tbl_fdn_mgr set fdnname = 'A' where fdnid = 5"), FM_SUCCESS);  // may come after 50 now
  m = restart();
  EXPECT_EQ(m->GetIntFdn("A"), 50);
  EXPECT_EQ(m->GetStrFdn(5) + m->GetStrFdn(50), "AA");
}

TEST_P(FdnManagerTest, SubtreeAndEqualityQueries) {
  CFdnManager* m = CFdnManager::instance();
  const std::string tooLong = "NE=1,L=" + std::string(250, 'x');  // 257 bytes
  const std::vector<std::string> fdns{"NE=1", "NE=1,S=1", "NE=1,S=1,P=2", "NE=12", "NE=1a", "NE=1+x", "NE=2,",
                                      "NE=2,S=9", "NE=3", tooLong};
  std::map<std::string, long> id;
  for (const auto& f : fdns) id[f] = m->GetIntFdn(f);

  struct Case {
    std::string p;
    std::set<std::string> below;
  };
  const Case cases[] = {
      {"NE=1", {"NE=1", "NE=1,S=1", "NE=1,S=1,P=2"}},  // not NE=12, NE=1a, NE=1+x
      {"NE=2,", {"NE=2,", "NE=2,S=9"}},  // a parent that ends with the splitter
      {"", {}},
  };
  for (const auto& c : cases) {
    std::set<long> longs, anyLength, want;
    m->GetFdnLikeSet({c.p}, longs);
    m->GetFdnLikeSetAnyLength({c.p}, anyLength);
    for (const auto& s : c.below) want.insert(id[s]);
    EXPECT_EQ(longs, want) << c.p;
    if (c.p == "NE=1") want.insert(id[tooLong]);  // taken only when any length is
    EXPECT_EQ(anyLength, want) << c.p;
  }

  std::set<long> eq, user;
  EXPECT_EQ(m->GetUserFdnLikeSet({"NE=1"}, {"NE=1,S=1", "NE=3"}, user), FM_SUCCESS);
  EXPECT_EQ(user, (std::set<long>{id["NE=1,S=1"], id["NE=1,S=1,P=2"]}));
  user.clear();
  EXPECT_EQ(m->QueryIntFdnEqualSet({"NE=1", "NE=9"}, eq), FM_SUCCESS);
  EXPECT_EQ(eq, (std::set<long>{id["NE=1"], -100}));
  EXPECT_EQ(m->GetUserFdnEqualSet({"NE=1", "NE=3", "x"}, {"NE=3", "NE=12", "y"}, user), FM_SUCCESS);
  EXPECT_EQ(user, (std::set<long>{id["NE=3"], -100}));  // both sides hold the marker of an unknown FDN
}

// GetFdnIdByFdnName stops at 100000 results with 33035 and keeps them.
TEST_F(FdnManagerLimitTest, GetFdnIdByFdnNameStopsAtTheLimit) {
  std::map<std::string, long> big;
  std::list<std::string> names;
  for (long i = 0; i <= 100000; ++i) {
    names.push_back("NE=1,P=" + std::to_string(i));
    big[names.back()] = i + 1;
  }
  int level = KyroTrace::getMinLevel();
  KyroTrace::setMinLevel(4);
  m->mergeFdn(big);  // memory only
  KyroTrace::setMinLevel(level);
  for (char type : {char(1), char(2)}) {
    std::list<FMNameValue_t> out;
    EXPECT_EQ(m->GetFdnIdByFdnName(type == 1 ? names : std::list<std::string>{"NE=1"}, type, out),
              FM_RESULT_LIMIT_REACHED);
    EXPECT_EQ(out.size(), 100000u);
  }
  names.pop_back();
  std::list<FMNameValue_t> out;
  EXPECT_EQ(m->GetFdnIdByFdnName(names, 1, out), FM_SUCCESS);
  EXPECT_EQ(m->getCurMaxFdnId(), 100002);  // merged ids raise the counter
  out.clear();
  EXPECT_EQ(m->GetFdnIdByFdnName({"NE=1,P=7", "NE=77", "NE=1,P=3"}, 1, out), FM_SUCCESS);
  EXPECT_EQ(out, (std::list<FMNameValue_t>{{"NE=1,P=7", "8"}, {"NE=1,P=3", "4"}}));  // unknown names left out
  m->mergeFdn({{"needdelete", 1}});          // a merged-away identifier names no FDN
  EXPECT_EQ(m->GetStrFdn(1), "UNKNOWN");
  EXPECT_EQ(m->getFdnIdEx("NE=1,P=0"), -100);
}

// Deleting a subtree removes it from the table and memory and tells the
// subscribers, which may call back into the manager; the highest deleted
// identifier is never given again, not even after a restart.
TEST_P(FdnManagerTest, DelFdnRemovesSubtreeAndNeverReusesItsIds) {
  CFdnManager* m = CFdnManager::instance();
  const std::string longFdn = "NE=2,S=1,P=" + std::string(300, '1');  // longer than 255: deleted all the same
  for (const auto& f : std::vector<std::string>{"NE=1", "NE=2", "NE=2,S=1", longFdn, "NE=22"}) m->GetIntFdn(f);
  std::vector<std::string> received;
  std::string calledBack;
  auto sub = Kyroem::EventChannel::instance()->subscribe(0, [&](const Kyroem::EventBase& ev) {
    if (ev.getEventType() != "FMMODelEvent") return;
    Kyroem::NameValueEvent nv(ev);
    auto seq = nv.getNameValueSeq();
    for (CORBA::ULong i = 0; i < seq.length(); ++i) received.push_back(std::string(seq[i].value.in()));
    calledBack = CFdnManager::instance()->GetStrFdn(1);  // no deadlock: the lock is released
  });
  m->DelFdn("NE=2");
  sub.reset();
  EXPECT_EQ(received, (std::vector<std::string>{"NE=2", "NE=2,S=1", longFdn}));
  EXPECT_EQ(calledBack, "NE=1");
  EXPECT_EQ(m->GetStrFdn(3) + std::to_string(m->getFdnIdEx("NE=2,S=1")), "UNKNOWN-100");
  m->DelFdn("NE=22");  // the highest identifier
  EXPECT_EQ(tableRows(), (IdMap{{1, "NE=1"}, {5, ""}}));  // 5 stays reserved without a name

  m = restart();
  EXPECT_EQ(m->GetStrFdn(5), "UNKNOWN");
  EXPECT_EQ(m->GetIntFdn("NE=9"), 6);
}

// A rename keeps the id; a rename the table refuses goes to the file and
// reaches the table with the next replay.
TEST_P(FdnManagerTest, UpdateFdnIdRenamesKeepingIds) {
  CFdnManager* m = CFdnManager::instance();
  for (const char* f : {"A", "B", "C", "D"}) m->GetIntFdn(f);  // C is renamed onto A2 once A is: merged into its id
  std::map<std::string, std::string> ren{{"A", "A2"}, {"B", ""}, {"C", "A2"}, {"Z", "Z2"}};
  EXPECT_EQ(m->UpdateFdnID(ren), FM_SUCCESS);
  EXPECT_EQ(m->getFdnIdEx("A2"), 1);
  EXPECT_EQ(m->GetStrFdn(3) + std::to_string(m->getFdnIdEx("A")), "UNKNOWN-100");
  EXPECT_EQ(tableRows(), (IdMap{{1, "A2"}, {2, "B"}, {3, "needdelete"}, {4, "D"}}));

  if (isPg()) {
    rawExec("create or replace function fm_refuse() returns trigger as $$ begin raise exception 'refused'; "
            "end $$ language plpgsql");
    rawExec("create trigger t_refuse before update on tbl_fdn_mgr for each row execute function fm_refuse()");
  } else {
    rawExec("create trigger t_refuse before update on tbl_fdn_mgr begin select raise(abort, 'refused'); end");
  }
  std::map<std::string, std::string> refused{{"D", "D2"}};
  EXPECT_EQ(m->UpdateFdnID(refused), FM_SUCCESS);
  EXPECT_EQ(m->getFdnIdEx("D2"), 4);
  EXPECT_EQ(fileRows(), (std::map<std::string, long>{{"D2", 4}}));
  ASSERT_EQ(exec(isPg() ? "drop trigger t_refuse on tbl_fdn_mgr" : "drop trigger t_refuse"), FM_SUCCESS);
  restart();
  EXPECT_EQ(tableRows(), (IdMap{{1, "A2"}, {2, "B"}, {4, "D2"}}));
}

// NE rename: the subtree moves to the new NE FDN keeping its ids; an FDN whose
// new name exists already is merged into the existing id, its row marked
// "needdelete", and the next init removes the mark while the merged id (the
// highest one here) stays reserved.
TEST_P(FdnManagerTest, NeRenameMergesOntoExistingFdns) {
  CFdnManager* m = CFdnManager::instance();
  const long neNew = m->GetIntFdn("NE=new");      // 1
  const long b1New = m->GetIntFdn("NE=new,B=1");  // 2
  const long neOld = m->GetIntFdn("NE=old");      // 3
  const long b2Old = m->GetIntFdn("NE=old,B=2");  // 4
  const long b1Old = m->GetIntFdn("NE=old,B=1");  // 5, the highest
  FdnUpdateSource src({{"oldFDN", "NE=old"}, {"oldNEFDN", "NE=old"}, {"newFDN", "NE=new"},
                       {"newNEFDN", "NE=new"}, {"oldNEType", "7"}, {"newNEType", "8"}, {"fdnStartTime", "99"}});
  EXPECT_EQ(m->checkNewFdnIsExist(src), FM_FAILURE);
  m->backOldFdnIdForNefdnUpdate("NE=old");

  std::map<long, long> change;
  m->updateNefdn(src, change);
  EXPECT_EQ(change, (std::map<long, long>{{b1Old, b1New}, {neOld, neNew}}));
  EXPECT_EQ(m->getFdnIdEx("NE=new,B=2"), b2Old);   // renamed, same id
  EXPECT_EQ(m->GetStrFdn(b1Old), "UNKNOWN");      // merged away
  EXPECT_EQ(m->getFdnIdEx("NE=old,B=1"), b1Old);  // still resolved from the backup
  m->clearOldFdnIdBack();
  EXPECT_EQ(m->getFdnIdEx("NE=old,B=1"), -100);
  EXPECT_EQ(m->updateNefdnID(src), neNew);
  IdMap rows = tableRows();
  EXPECT_EQ(rows[b1Old], "needdelete");
  EXPECT_EQ(rows[b2Old], "NE=new,B=2");

  m = restart();
  rows = tableRows();
  EXPECT_EQ(rows.count(b1Old) ? rows[b1Old] : "absent", "");  // the only mark dropped, the id reserved
  EXPECT_EQ(m->GetIntFdn("NE=new,B=2"), b2Old);
  EXPECT_EQ(m->GetIntFdn("NE=other"), b1Old + 1);
}

// The whole outage: ids keep being given while the database is away, kept in
// the FDN file and usable at once; the next insert replays the file; a restart
// finds every id again, and the counter lies above all of them.
TEST_P(FdnManagerTest, OutageKeepsIdsInTheFileAndReplaysThem) {
  if (!canStop()) GTEST_SKIP() << "no PostgreSQL server control";
  CFdnManager* m = CFdnManager::instance();
  std::map<std::string, long> handed{{"NE=1", m->GetIntFdn("NE=1")}};
  takeDown();
  std::list<std::string> many{"NE=2"};
  for (int i = 0; i < 1500; ++i) many.push_back("NE=3,P=" + std::to_string(i));  // two batches
  std::list<long> ids;
  EXPECT_EQ(m->GetIntFdnList(many, ids), FM_SUCCESS);
  EXPECT_EQ(m->GetIntFdn("bad:name"), -100);  // can be stored nowhere: not handed out
  EXPECT_EQ(m->GetStrFdn(ids.front()), "NE=2");
  std::map<std::string, long> file = fileRows();
  for (const auto& f : many) {
    EXPECT_EQ(file[f], ids.front()) << f;
    handed[f] = ids.front();
    ids.pop_front();
  }
  EXPECT_EQ(file.size(), many.size());

  bringBack();
  handed["NE=4"] = m->GetIntFdn("NE=4");  // the next insert replays the file
  EXPECT_FALSE(std::filesystem::exists(fdnFilePath()));
  IdMap rows = tableRows();
  EXPECT_EQ(rows.size(), handed.size());
  m = restart();
  for (const auto& kv : handed) EXPECT_EQ(rows[kv.second] + "|" + m->GetStrFdn(kv.second), kv.first + "|" + kv.first);
  EXPECT_GT(m->getCurMaxFdnId(), rows.rbegin()->first);
}

// The same outage, with the replay done by the next init; an FDN deleted while
// only the file held it stays deleted (its id reserved). An init that cannot
// read the table gives no identifier (it does not know the highest one) until
// the table can be read; the file's ids resolve meanwhile.
TEST_P(FdnManagerTest, OutageReplayedByTheNextInit) {
  if (!canStop()) GTEST_SKIP() << "no PostgreSQL server control";
  CFdnManager* m = CFdnManager::instance();
  EXPECT_EQ(m->GetIntFdn("A"), 1);
  takeDown();
  EXPECT_EQ(m->GetIntFdn("B"), 2);
  EXPECT_EQ(m->GetIntFdn("C"), 3);
  bringBack();
  m->DelFdn("B");
  m = restart();
  EXPECT_FALSE(std::filesystem::exists(fdnFilePath()));
  EXPECT_EQ(tableRows(), (IdMap{{1, "A"}, {2, ""}, {3, "C"}}));
  EXPECT_EQ(m->GetStrFdn(3), "C");
  EXPECT_EQ(m->GetIntFdn("D"), 4);

  writeFile("5:E\n");
  takeDown();
  m = restart();
  EXPECT_EQ(m->getFdnIdEx("E"), 5);
  EXPECT_EQ(m->GetIntFdn("F"), -100);
  EXPECT_EQ(m->GetIntFdn("A"), -100);  // unknown without the table: not given a second id
  bringBack();
  EXPECT_EQ(m->GetIntFdn("A"), 1);
  EXPECT_EQ(m->GetIntFdn("F"), 6);
  EXPECT_FALSE(std::filesystem::exists(fdnFilePath()));
  EXPECT_EQ(tableRows(), (IdMap{{1, "A"}, {3, "C"}, {4, "D"}, {5, "E"}, {6, "F"}}));  // 2 no longer reserved

  // Neither the table nor the file takes a new FDN: it is not handed out, and
  // its id does not come back; a deletion the table refuses keeps memory.
  EXPECT_EQ(m->GetIntFdn("A,S=1"), 7);
  std::filesystem::create_directories(fdnFilePath());  // the file cannot be opened
  takeDown();
  m->DelFdn("A");
  EXPECT_EQ(m->getFdnIdEx("A,S=1"), 7);
  EXPECT_EQ(m->GetIntFdn("B"), -100);
  std::list<long> ids;
  EXPECT_EQ(m->GetIntFdnList({"A", "G"}, ids), FM_FAILURE);  // G stored nowhere: unresolved
  EXPECT_EQ(ids, (std::list<long>{1, -2}));
  bringBack();
  std::filesystem::remove_all(fdnFilePath());
  const long b = m->GetIntFdn("B");
  EXPECT_GT(b, 7);
  EXPECT_EQ(tableRows().size(), 7u);
  m = restart();
  EXPECT_EQ(m->GetIntFdn("B"), b);
  EXPECT_EQ(m->GetStrFdn(1), "A");
}

// A process without the allocation flag reads identifiers only; it neither
// replays nor deletes the allocating process's file. Becoming the allocating
// process reads the table again before its first id.
TEST_P(FdnManagerTest, NonAllocatingProcessOnlyReads) {
  insertRow(1, "A");
  writeFile("2:B\n");
  CFMServiceFlag::instance()->setServiceStatus(11);
  CFdnManager* m = CFdnManager::instance();
  CFMServiceFlag::instance()->setServiceStatus(CFMServiceFlag::SERVICE_RUNNING);
  EXPECT_TRUE(std::filesystem::exists(fdnFilePath()));
  EXPECT_EQ(m->GetIntFdn("B"), 2);
  insertRow(7, "X");  // written by the allocating process after our init
  EXPECT_EQ(m->GetIntFdn("X"), 7);
  std::list<long> ids;
  EXPECT_EQ(m->GetIntFdnList({"", "A", "Y"}, ids), FM_FAILURE);
  EXPECT_EQ(ids, (std::list<long>{-1, 1, -2}));
  EXPECT_EQ(tableRows(), (IdMap{{1, "A"}, {7, "X"}}));
  // More names than one statement reads.
  ASSERT_EQ(exec("insert into tbl_fdn_mgr(fdnid, fdnname) with recursive n(i) as (select 0 union all select i + 1 "
                 "from n where i < 1499) select 1000 + i, 'M=' || cast(i as varchar(8)) || '''q' from n"),
            FM_SUCCESS);
  std::list<std::string> many;
  for (long i = 0; i < 1500; ++i) many.push_back("M=" + std::to_string(i) + "'q");
  ids.clear();
  EXPECT_EQ(m->GetIntFdnList(many, ids), FM_SUCCESS);
  EXPECT_EQ(std::make_pair(ids.front(), ids.back()), std::make_pair(1000L, 2499L));
  ASSERT_EQ(exec("delete from tbl_fdn_mgr where fdnid >= 1000"), FM_SUCCESS);

  insertRow(9, "Z");  // the other process goes on
  EXPECT_EQ(m->setServiceFlag(true), FM_SUCCESS);
  EXPECT_EQ(m->GetIntFdn("Y"), 10);
  EXPECT_EQ(m->GetIntFdn("Z"), 9);
  EXPECT_FALSE(std::filesystem::exists(fdnFilePath()));  // now replayed by us
  EXPECT_EQ(tableRows(), (IdMap{{1, "A"}, {2, "B"}, {7, "X"}, {9, "Z"}, {10, "Y"}}));
}

// Overlapping new FDNs from many threads get exactly one id each, while known
// FDNs, answered without the manager's lock, keep theirs as other FDNs come
// and go (the exact table grows, and deletions shift its entries).
TEST_F(FdnManagerConcurrencyTest, OneIdPerFdnWhileOthersComeAndGo) {
  const int kThreads = 8, kFdns = 400;
  std::map<std::string, long> stable;
  for (int i = 0; i < 200; ++i) stable["S=" + std::to_string(i)] = m->GetIntFdn("S=" + std::to_string(i));
  std::vector<std::map<std::string, long>> seen(kThreads);
  std::atomic<long> wrong{0};
  fmtest::runTogether(kThreads, [&](int t) {
    std::vector<std::string> order;
    for (int i = 0; i < kFdns; ++i) order.push_back("NE=" + std::to_string(i % 50) + ",P=" + std::to_string(i));
    std::shuffle(order.begin(), order.end(), std::mt19937(t));
    for (int k = 0; k < kFdns; k += 20) {
      std::list<std::string> gone{"T=" + std::to_string(k)};
      std::list<long> ids;
      for (int i = k; i < k + 20; ++i) seen[t][order[i]] = m->GetIntFdn(order[i]);
      for (int j = 0; t == 0 && j < 30; ++j) gone.push_back(gone.front() + ",P=" + std::to_string(j));
      if (t == 0 && m->GetIntFdnList(gone, ids) == FM_SUCCESS) m->DelFdn(gone.front());
      for (const auto& kv : stable) wrong += m->GetIntFdn(kv.first) != kv.second;
    }
  });
  EXPECT_EQ(wrong.load(), 0);
  IdMap rows = tableRows();
  long named = 0;
  for (const auto& kv : rows) named += !kv.second.empty();  // the highest deleted id stays reserved without a name
  EXPECT_EQ(named, static_cast<long>(stable.size()) + kFdns);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t], seen[0]) << "thread " << t;
  }
  for (const auto& kv : seen[0]) EXPECT_EQ(rows[kv.second], kv.first);
}

// The exact table against std::unordered_map under random puts, erases and
// look-ups over few keys: long probe runs, runs that wrap around the end,
// deletions that shift entries back.
TEST(FdnExactTableTest, AgreesWithUnorderedMap) {
  FdnExactTable t;
  std::unordered_map<std::string, long> ref;
  std::mt19937 rng(5);
  long id = 0;
  for (int i = 0; i < 100000; ++i) {
    const std::string k = i % 1000 == 0 ? std::string() : "NE=" + std::to_string(rng() % 300);
    switch (rng() % 3) {
      case 0:
        t.put(k, i);
        ref[k] = i;
        break;
      case 1:
        ASSERT_EQ(t.erase(k), ref.erase(k) == 1) << k;
        break;
      default:
        ASSERT_EQ(t.find(k, id), ref.count(k) == 1) << k;
        ASSERT_TRUE(ref.count(k) == 0 || id == ref[k]) << k;
    }
    ASSERT_EQ(t.size(), ref.size());
  }
  t.clear();
  EXPECT_FALSE(t.find(ref.begin()->first, id));
}

// ---------------------------------------------------------------------------
// CTempTableGuard

std::set<long> idRange(long n) {
  std::set<long> ids;
  for (long i = 1; i <= n; ++i) ids.insert(i * 3);
  return ids;
}

long countIn(const std::string& cond) {
  long n = -1;
  EXPECT_EQ(CFMDBTools::getRecordCountOfTable("tbl_fdn_mgr", n, " where fdnid in " + cond), FM_SUCCESS);
  return n;
}

// Below 200 ids the condition is inline, from 200 a table holds them; the
// table goes with the guard, also when the caller throws. Without a name the
// guard takes one from the identifier allocator (kind 3): two guards never
// share a table.
TEST_P(FdnManagerTest, TempTableGuardInlineBelow200TableFrom200) {
  for (long i = 1; i <= 700; ++i) insertRow(i, "F" + std::to_string(i));
  std::string firstName;
  try {
    CTempTableGuard first;
    CTempTableGuard second;
    firstName = first.getTableName();
    EXPECT_NE(second.getTableName(), firstName);
    std::string cond;
    ASSERT_TRUE(first.getSqlInCond(idRange(199), cond));
    EXPECT_EQ(countIn(cond), 199);
    EXPECT_FALSE(CFMDBTools::IsTableExist(firstName));
    ASSERT_TRUE(first.getSqlInCond(idRange(200), cond));
    EXPECT_EQ(cond, "( select id from " + firstName + " )");
    EXPECT_TRUE(CFMDBTools::IsTableExist(firstName));
    EXPECT_EQ(countIn(cond), 200);
    throw std::runtime_error("caller failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(CFMDBTools::IsTableExist(firstName));
}

// ---------------------------------------------------------------------------
// CAlmValidCheck::isFdnParent

TEST(AlmValidCheckFdnParentTest, ComponentWisePrefix) {
  CFDNSplitter::instance()->setSplitter(',');
  struct Case {
    const char* parent;
    std::string fdn;
    bool strict;
    bool want;
  };
  const std::string longFdn = "a=1," + std::string(252, 'x');  // 256 bytes
  const Case cases[] = {
      {"a=1", "a=1,b=2", true, true},    {"a=1", "a=12", true, false},   {"a=1", "a=1", true, true},
      {"a=1,", "a=1,b", true, true},     {"", "a=1", true, false},
      {"", "a=1", false, true},          {"a=1", "", false, true},       {"a=1", longFdn, true, false},
      {"a=1", longFdn.substr(0, 255), true, true},
  };
  for (const auto& c : cases) EXPECT_EQ(CAlmValidCheck::isFdnParent(c.parent, c.fdn, c.strict), c.want) << c.parent << " / " << c.fdn;
  CFDNSplitter::instance()->setSplitter('/');
  EXPECT_TRUE(CAlmValidCheck::isFdnParent("a", "a/b", true) && !CAlmValidCheck::isFdnParent("a", "a,b", true));
  CFDNSplitter::instance()->setSplitter(',');
  EXPECT_FALSE(CAlmValidCheck::CheckFdnParent("", "x", ','));  // no emptiness rule: an empty parent ends nowhere
  EXPECT_TRUE(CAlmValidCheck::CheckFdnParent("", ",x", ','));
  EXPECT_FALSE(CAlmValidCheck::CheckFdnParent("ab", "a", ','));
}

}  // namespace
}  // namespace Kyrofm
