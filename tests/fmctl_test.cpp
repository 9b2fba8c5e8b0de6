// Tests of fmctl and of the one root below which every file of the library lies.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fm_common/fmcommon/FMIdMgr.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "fm_common/platform/KyroSetting.h"
#include "support/FmTestChild.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

namespace fs = std::filesystem;
using Kyrofmdb::CDBMaintain;
using Kyrofmdb::FMAlarmTableIO;

struct Ran { int rc; std::string out, err; };  // exit status, stdout, stderr

std::string slurp(const std::string& p) { std::ostringstream s; s << std::ifstream(p).rdbuf(); return s.str(); }

// Runs a shell command line in directory cwd.
Ran sh(const std::string& cwd, const std::string& cmd) {
  const std::string d = fmtest::makeTempDir("sh");
  const int st = std::system(("cd '" + cwd + "' && " + cmd + " >" + d + "/o 2>" + d + "/e").c_str());
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(d + "/o"), slurp(d + "/e")};
}

// KYRO_ROOT and KYRO_FM_DB both name a site's database that holds alarms.
TEST(FmctlTest, DemoUsesOnlyItsOwnScratchDatabase) {
  const std::string site = fmtest::makeTempDir("site"), db = site + "/var/fm/fm.db";
  fs::create_directories(site + "/var/fm");
  std::vector<AlmRecord_t> alarms(2);
  alarms[0].setLogId(7), alarms[1].setLogId(9);
  CDBMaintain::instance()->setDBUrl("sqlite3://db=" + db);
  ASSERT_EQ(FMAlarmTableIO::writeRecords("tbl_cur_alm", alarms), FM_SUCCESS);
  CDBMaintain::instance()->setDBUrl("");  // closed: the file alone holds the alarms
  const std::string before = slurp(db);
  Ran r = sh(site, "KYRO_ROOT=" + site + " KYRO_FM_DB=sqlite3://db=" + db + " " FM_FMCTL " demo");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_TRUE(slurp(db) == before && !fs::exists(db + "-wal")) << "the site's database was touched";
  EXPECT_NE(r.out.find("Database: " + site + "/tmp/fmctl-demo-"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_empty(site + "/tmp")) << "the scratch database was not removed";
}

// Makes the library's files with KYRO_ROOT unset; run in a scratch working directory.
const bool g_rootlessChild = fmtest::registerChild("rootless", [](const std::vector<std::string>&) {
  ConfigAdapter marks;
  return (Setting::instance()->setParam("/kyro/vela/fmctlTest", "1") != 0) +
         (FdnFile(CFdnManager::instance()->getFdnFileName()).saveToFile({{"NE=1", 5}}) != FM_SUCCESS) +
         (marks.init(FMIdMgr::getCfgFile(), true) != 0 || marks.modifySysParam("a", "b", "c", true) != 0);
});

TEST(FmctlTest, WithoutKyroRootEveryFileLiesBelowDotVar) {
  const std::string cwd = fmtest::makeTempDir("cwd");
  for (const std::string cmd : {"FM_TEST_CHILD=rootless " FM_TEST_HELPER, FM_FMCTL " demo --keep"}) {
    Ran r = sh(cwd, "env -u KYRO_ROOT -u KYRO_FM_DB " + cmd);
    EXPECT_EQ(r.rc, 0) << cmd << r.err;
    EXPECT_EQ(r.err, "fm_common: warning: KYRO_ROOT is not set; every file goes below " + cwd + "/var\n");
  }
  for (const char* f : {"/etc/kyro_settings.xml", "/var/fm/fm.db", "/var/fm/fmdb_FDN", "/etc/dynamic/fm_cfg.xml"})
    EXPECT_TRUE(fs::exists(cwd + "/var" + f)) << f;
  for (const auto& e : fs::recursive_directory_iterator(cwd)) {  // nothing beside the root
    EXPECT_EQ(e.path().string().rfind(cwd + "/var", 0), 0u) << e.path();
    if (e.path().filename().string().rfind("fmctl-demo-", 0) == 0) {  // the kept scratch: no -wal, no -shm
      EXPECT_EQ(std::distance(fs::directory_iterator(e), fs::directory_iterator()), 1) << e.path();
    }
  }
}

TEST(FmctlTest, FailuresAndResultTexts) {
  const std::string root = fmtest::makeTempDir("blocked");
  std::ofstream(root + "/tmp") << "a file where the scratch directory should go";
  Ran r = sh(".", "KYRO_ROOT=" + root + " " FM_FMCTL " demo");
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("(Not a directory): general failure (33002)\n  see " + root + "/log/fm_common.log"),
            std::string::npos) << r.err;
  EXPECT_EQ(FMResultText(1005), "no such settings path (1005)");
  EXPECT_EQ(FMResultText(33003), "unknown result code 33003");
}

}  // namespace
}  // namespace Kyrofm
