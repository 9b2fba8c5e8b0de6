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
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "fm_common/platform/KyroSetting.h"
#include "support/FmTestChild.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

namespace fs = std::filesystem;
using Kyrofmdb::CDBMaintain;
using Kyrofmdb::FMAlarmTableIO;

struct Ran {
  int rc;
  std::string out, err;
};

// Runs a shell command line in directory cwd.
Ran sh(const std::string& cwd, const std::string& cmd) {
  const std::string d = fmtest::makeTempDir("sh");
  const int st = std::system(("cd '" + cwd + "' && " + cmd + " >" + d + "/o 2>" + d + "/e").c_str());
  auto slurp = [](const std::string& p) { std::ostringstream s; s << std::ifstream(p).rdbuf(); return s.str(); };
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(d + "/o"), slurp(d + "/e")};
}

std::vector<long> storedCsns(const std::string& url, const std::vector<long>& add = {}) {
  CDBMaintain::instance()->setDBUrl(url);
  std::vector<AlmRecord_t> records(add.size());
  for (size_t i = 0; i < add.size(); ++i) records[i].setLogId(add[i]);
  if (!add.empty()) {
    EXPECT_EQ(FMAlarmTableIO::writeRecords("tbl_cur_alm", records), FM_SUCCESS);
  }
  std::vector<long> csns;
  EXPECT_EQ(FMAlarmTableIO::selectCsns("tbl_cur_alm", "", csns), FM_SUCCESS);
  CDBMaintain::instance()->setDBUrl("");
  return csns;
}

TEST(FmctlTest, DemoUsesOnlyItsOwnScratchDatabase) {
  for (bool byUrl : {true, false}) {
    const std::string site = fmtest::makeTempDir("site"), other = fmtest::makeTempDir("other");
    fs::create_directories(site + "/var/fm");
    const std::string url = "sqlite3://db=" + site + "/var/fm/fm.db";
    ASSERT_EQ(storedCsns(url, {7, 9}), (std::vector<long>{7, 9}));
    const std::string env = byUrl ? "KYRO_ROOT=" + other + " KYRO_FM_DB='" + url + "'" : "KYRO_ROOT=" + site;
    Ran r = sh(site, "env -u KYRO_FM_DB " + env + " " FM_FMCTL " demo" + (byUrl ? " --keep" : ""));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(storedCsns(url), (std::vector<long>{7, 9})) << byUrl;
    const size_t at = r.out.find("Database: ") + 10;
    const std::string scratch = r.out.substr(at, r.out.find(' ', at) - at);
    EXPECT_EQ(scratch.rfind((byUrl ? other : site) + "/tmp/fmctl-demo-", 0), 0u) << scratch;
    EXPECT_EQ(fs::exists(scratch), byUrl);  // kept with --keep, else removed
    EXPECT_FALSE(fs::exists(scratch + "-wal") || fs::exists(scratch + "-shm"));
  }
}

// The library's files with KYRO_ROOT unset, made by a child in its own cwd.
const bool g_rootlessChild = fmtest::registerChild("rootless", [](const std::vector<std::string>&) {
  int bad = Setting::instance()->setParam("/kyro/vela/fmctlTest", "1") != 0;
  bad += CDBMaintain::instance()->Init(1) != FM_SUCCESS;
  bad += FdnFile(CFdnManager::instance()->getFdnFileName()).saveToFile({{"NE=1", 5}}) != FM_SUCCESS;
  ConfigAdapter marks;
  bad += marks.init(FMIdMgr::getCfgFile(), true) != 0 || marks.modifySysParam("a", "b", "c", true) != 0;
  return bad;
});

TEST(FmctlTest, WithoutKyroRootEveryFileLiesBelowDotVar) {
  const std::string cwd = fmtest::makeTempDir("cwd");
  for (const std::string cmd : {"FM_TEST_CHILD=rootless " FM_TEST_HELPER, FM_FMCTL " demo --keep"}) {
    Ran r = sh(cwd, "env -u KYRO_ROOT -u KYRO_FM_DB " + cmd);
    EXPECT_EQ(r.rc, 0) << cmd << r.err;
    EXPECT_EQ(r.err, "fm_common: warning: KYRO_ROOT is not set; every file goes below " + cwd + "/var\n");
  }
  for (const char* f : {"/etc/kyro_settings.xml", "/var/fm/fm.db", "/var/fm/fmdb_FDN", "/etc/dynamic/fm_cfg.xml"}) {
    EXPECT_TRUE(fs::exists(cwd + "/var" + f)) << f;
  }
  for (const auto& e : fs::recursive_directory_iterator(cwd)) {
    EXPECT_EQ(e.path().string().rfind(cwd + "/var", 0), 0u) << e.path();
  }
}

TEST(FmctlTest, ArgumentsAndResultTexts) {
  struct Case {
    std::string args;
    int rc;
  };
  for (const Case& c : std::vector<Case>{{"", 2}, {"bogus", 2}, {"--help x", 2}, {"demo --keep x", 2},
                                         {"--help", 0}, {"demo -h", 0}}) {
    Ran r = sh(".", FM_FMCTL " " + c.args);
    EXPECT_EQ(r.rc, c.rc) << c.args;
    EXPECT_NE((c.rc == 0 ? r.out : r.err).find("usage: fmctl"), std::string::npos) << c.args;
    EXPECT_EQ((c.rc == 0 ? r.err : r.out), "") << c.args;
  }
  // A failure names its cause and the log file.
  const std::string root = fmtest::makeTempDir("blocked");
  std::ofstream(root + "/tmp") << "a file where the scratch directory should go";
  Ran r = sh(".", "KYRO_ROOT=" + root + " " FM_FMCTL " demo");
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("(Not a directory): general failure (33002)\n  see " + root + "/log/fm_common.log"),
            std::string::npos) << r.err;
  EXPECT_EQ(FMResultText(1005), "no such settings path (1005)");
  EXPECT_EQ(FMResultText(33038), "no database connection (33038)");
  EXPECT_EQ(FMResultText(33997), "busy: an alarm synchronisation is running (33997)");
  EXPECT_EQ(FMResultText(33003), "unknown result code 33003");
}

}  // namespace
}  // namespace Kyrofm
