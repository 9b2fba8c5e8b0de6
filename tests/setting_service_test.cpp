// Tests of the platform pieces behind the settings accessor: the file-backed
// settings service, the XML configuration adapter, the atomic file discipline,
// the iconv code-set service and the small registries.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include <pugixml.hpp>

#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "fm_common/platform/KyroGlobalUtils.h"
#include "fm_common/platform/KyroMsg.h"
#include "fm_common/platform/KyroSetting.h"
#include "fm_common/platform/KyroXmlFile.h"
#include "support/FmTestChild.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

namespace fs = std::filesystem;

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

void writeAll(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::vector<std::string> tempFilesNextTo(const std::string& path) {
  std::vector<std::string> found;
  const std::string prefix = fs::path(path).filename().string() + ".tmp.";
  for (const auto& e : fs::directory_iterator(fs::path(path).parent_path())) {
    if (e.path().filename().string().rfind(prefix, 0) == 0) found.push_back(e.path().string());
  }
  return found;
}

const char* const kSample =
    "<?xml version=\"1.0\"?>\n"
    "<settings>\n"
    "  <!-- kept across writes -->\n"
    "  <group path=\"/kyro/vela\">\n"
    "    <param name=\"AlmEfdThreadNum\" value=\"7\"/>\n"
    "    <param name=\"threshold Percent\" value=\" 45 \"/>\n"
    "    <param name=\"text\">as element text</param>\n"
    "    <param name=\"AlmEfdThreadNum\" value=\"8\"/>\n"
    "  </group>\n"
    "  <group path=\"/kyro/vela/alarm_configure/\">\n"
    "    <param name=\"clear_alm_buf_size\" value=\"12abc\"/>\n"
    "  </group>\n"
    "</settings>\n";

// Points the settings service at a fresh file for one test.
class SettingServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fmtest::makeTempDir("setting");
    m_file = m_dir + "/kyro_settings.xml";
    Setting::instance()->setStorePath(m_file);
  }
  void TearDown() override { Setting::instance()->setStorePath(""); }
  std::string m_dir;
  std::string m_file;
};

TEST_F(SettingServiceTest, ReadsPathsGroupsAndAnswers1005ForMissing) {
  writeAll(m_file, kSample);
  Setting* s = Setting::instance();
  // The first of duplicate names wins; a trailing slash of the group path is not part of it.
  for (const auto& [path, value] : {std::pair<const char*, const char*>{"/kyro/vela/AlmEfdThreadNum", "7"},
                                    {"/kyro/vela/text", "as element text"},
                                    {"/kyro/vela/alarm_configure/clear_alm_buf_size", "12abc"}}) {
    std::string text;
    EXPECT_EQ(s->getParamValue(path, text), 0) << path;
    EXPECT_EQ(text, value);
  }
  std::string text;
  EXPECT_EQ(s->getParamValue("/kyro/vela/nothing", text), SETTING_NO_SUCH_PATH);
  long n = -1;  // numbers: the text's rules are the settings accessor's
  EXPECT_EQ(s->getParamValue("/kyro/vela/threshold Percent", n) * 100 + n, 45);
  EXPECT_EQ(s->getParamValue("/kyro/vela/alarm_configure/clear_alm_buf_size", n), SETTING_NOT_A_NUMBER);
  EXPECT_EQ(s->setParam("/kyro/vela/", "1"), SETTING_INVALID_PATH);
  EXPECT_EQ(s->setParam("/kyro//x", "1"), SETTING_INVALID_PATH);
  std::map<std::string, std::string> group{{"keep", "me"}};
  EXPECT_EQ(s->getGroupParams("/kyro/vela", group), 0);
  EXPECT_EQ(std::make_tuple(group.size(), group["threshold Percent"], group["keep"]),
            std::make_tuple(size_t{4}, std::string(" 45 "), std::string("me")));
}

TEST_F(SettingServiceTest, SetParamCreatesFileKeepsTheRestOfItAndSeesChangesOnDisk) {
  Setting* s = Setting::instance();
  ASSERT_EQ(s->setParam("/kyro/vela/new", "1"), 0);  // no file yet
  writeAll(m_file, kSample);
  ASSERT_EQ(s->setParam("/kyro/vela/AlmEfdThreadNum", "9"), 0);
  ASSERT_EQ(s->setParam("/kyro/vela/text", "now an attribute"), 0);
  ASSERT_EQ(s->setParam("/other/group/x", "<&\"'>"), 0);
  const std::string content = readAll(m_file);
  EXPECT_NE(content.find("kept across writes"), std::string::npos) << content;
  // A fresh service (another process) reads the same file the same way.
  Setting::destroy();
  Setting::instance()->setStorePath(m_file);
  std::string a, b, c;
  EXPECT_EQ(Setting::instance()->getParamValue("/kyro/vela/AlmEfdThreadNum", a) +
                Setting::instance()->getParamValue("/kyro/vela/text", b) +
                Setting::instance()->getParamValue("/other/group/x", c), 0);
  EXPECT_EQ(a + "|" + b + "|" + c, "9|now an attribute|<&\"'>");
  // Another process replaces the file (a new inode, as an atomic writer makes), then removes it.
  writeAll(m_file + ".other", "<settings><group path=\"/a/b\"><param name=\"c\" value=\"2\"/></group></settings>");
  fs::rename(m_file + ".other", m_file);
  ASSERT_EQ(Setting::instance()->getParamValue("/a/b/c", a), 0);
  EXPECT_EQ(a, "2");
  fs::remove(m_file);
  EXPECT_EQ(Setting::instance()->getParamValue("/a/b/c", a), SETTING_NO_SUCH_PATH);
}

TEST_F(SettingServiceTest, MalformedFileIsReportedWithLineTreatedAsAbsentAndNotOverwritten) {
  const std::string bad = "<settings>\n  <group path=\"/kyro/vela\">\n    <param name=\"a\" value=\"1\"/>\n"
                          "    <param name=\"b\" value=\"2\">\n  </group>\n</settings>\n";
  writeAll(m_file, bad);
  fmtest::TraceCapture cap;
  std::string text;
  EXPECT_EQ(Setting::instance()->getParamValue("/kyro/vela/a", text), SETTING_NO_SUCH_PATH);
  EXPECT_TRUE(cap.contains("malformed XML file " + m_file + " at line 5"));
  EXPECT_EQ(Setting::instance()->setParam("/kyro/vela/a", "3"), SETTING_STORE_MALFORMED);
  EXPECT_EQ(readAll(m_file), bad);
}

// Child: writes with a file size limit far below the new content, so that the
// write of the temporary file fails. Exit 0 when setParam reported the failure.
const bool g_fsizeChild = fmtest::registerChild("setting_fsize_limit", [](const std::vector<std::string>& args) {
  if (args.size() != 1) return 2;
  ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit lim;
  lim.rlim_cur = 4096;
  lim.rlim_max = RLIM_INFINITY;
  if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 3;
  Setting::instance()->setStorePath(args[0]);
  int rc = Setting::instance()->setParam("/kyro/vela/big", std::string(64 * 1024, 'x'));
  Setting::destroy();
  return rc == SETTING_WRITE_FAILED ? 0 : 1;
});

// A failed write, and the stray temporary file of a writer killed between
// write and rename, leave the original as it was.
TEST_F(SettingServiceTest, FailedWriteLeavesTheOriginalIntact) {
  ASSERT_EQ(Setting::instance()->setParam("/kyro/vela/x", "original"), 0);
  const std::string original = readAll(m_file), stray = m_file + ".tmp.Ab12Cd";
  writeAll(stray, "<settings><group path=\"/kyro/vela\"><param name=\"x\" val");
  std::string text;
  ASSERT_EQ(Setting::instance()->getParamValue("/kyro/vela/x", text), 0);
  EXPECT_EQ(text, "original");
  pid_t pid = fmtest::spawnChild("setting_fsize_limit", {m_file});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(fmtest::waitChild(pid), 0);
  EXPECT_EQ(readAll(m_file), original);
  EXPECT_TRUE(tempFilesNextTo(m_file).empty()) << "the failed writer removes its temporary file and the stray one";
  // A store whose directory cannot be made: its parent is a regular file.
  writeAll(m_dir + "/plainfile", "x");
  Setting::instance()->setStorePath(m_dir + "/plainfile/sub/kyro_settings.xml");
  EXPECT_EQ(Setting::instance()->setParam("/kyro/vela/x", "1"), SETTING_WRITE_FAILED);
}

// Child: rewrites one parameter with a large value as fast as it can until killed.
const bool g_writerChild = fmtest::registerChild("setting_writer", [](const std::vector<std::string>& args) {
  if (args.size() != 2) return 2;
  Setting::instance()->setStorePath(args[0]);
  const std::string filler(20000, 'f');
  for (long i = 0;; ++i) {
    if (Setting::instance()->setParam("/crash/g/v", std::to_string(i) + filler) != 0) return 1;
    if (i == 0) {
      std::ofstream(args[1]) << "started";
    }
  }
});

TEST_F(SettingServiceTest, WriterKilledMidWriteNeverLeavesAHalfWrittenFile) {
  ASSERT_EQ(Setting::instance()->setParam("/crash/g/v", "start"), 0);
  const std::string flag = m_dir + "/started";
  for (int round = 0; round < 2; ++round) {
    fs::remove(flag);
    pid_t pid = fmtest::spawnChild("setting_writer", {m_file, flag});
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 500 && !fs::exists(flag); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(fmtest::waitChild(pid), 128 + SIGKILL);

    pugi::xml_document doc;
    ASSERT_EQ(KyroXmlFile::loadDocument(m_file, doc, "test"), KYRO_FILE_OK) << "round " << round;
    std::string text;
    ASSERT_EQ(Setting::instance()->getParamValue("/crash/g/v", text), 0);
    EXPECT_TRUE(text == "start" || text.size() > 20000) << text.substr(0, 40);
    // The next writer cleans up whatever the killed one left.
    ASSERT_EQ(Setting::instance()->setParam("/crash/g/after", std::to_string(round)), 0);
    EXPECT_TRUE(tempFilesNextTo(m_file).empty());
  }
}

TEST_F(SettingServiceTest, ConfigAdapterReadsAllThreeFormsAndWritesAtomically) {
  const std::string file = m_dir + "/alarm_conf.xml";
  writeAll(file, "<vela attr=\"a1\">\n  <correlate>\n    <leaf>leafvalue</leaf>\n  </correlate>\n</vela>\n");
  std::string v;

  ConfigAdapter adapter;
  ASSERT_EQ(adapter.init(file), 0);
  const std::tuple<const char*, const char*, const char*, bool, int> writes[] = {
      {"vela/correlate", "new", "1", false, CONFIG_NO_SUCH_PARAM},
      {"vela/fmdb/tables/TBL_FM_ID", "k", "1", false, CONFIG_NO_SUCH_PARAM},
      {"vela/fmdb/tables/TBL_FM_ID", "FM_ID", "100:1700000000", true, 0},
      {"vela/correlate", "leaf", "changed", false, 0},
      {"vela", "attr", "a2", false, 0},
      {"other", "x", "1", true, CONFIG_INVALID_ARG},  // a second document element is refused
      {"vela/bad name", "x", "1", true, CONFIG_INVALID_ARG}};
  for (const auto& [node, key, value, create, rc] : writes) {
    EXPECT_EQ(adapter.modifySysParam(node, key, value, create), rc) << node << " " << key;
  }
  EXPECT_EQ(adapter.modifySysParam("vela/correlate", "k", std::string("a\0b", 3), true), CONFIG_INVALID_ARG);
  EXPECT_EQ(adapter.getSysParam("vela/fmdb/tables/TBL_FM_ID", "FM_ID", v), 0);
  EXPECT_EQ(v, "100:1700000000");
  // Another adapter (another process) sees every change, and a change it
  // writes is not lost by the first one's next write.
  ConfigAdapter second, third;
  ASSERT_EQ(second.init(file), 0);
  std::string v2, v3;
  second.getSysParam("vela/correlate", "leaf", v2);
  second.getSysParam("vela", "attr", v3);
  EXPECT_EQ(v2 + v3, "changeda2");
  ASSERT_EQ(second.modifySysParam("vela/correlate", "from_second", "2", true), 0);
  ASSERT_EQ(adapter.modifySysParam("vela/correlate", "from_first", "1", true), 0);
  ASSERT_EQ(third.init(file), 0);
  EXPECT_EQ(third.getSysParam("vela/correlate", "from_second", v) + third.getSysParam("vela/correlate", "from_first", v), 0);
  EXPECT_TRUE(tempFilesNextTo(file).empty());

  // Missing and malformed files.
  const std::string other = m_dir + "/KYRO_velasvc.xml", bad = "<vela>\n<a>\n</vela>\n";
  ConfigAdapter created, malformed;
  EXPECT_EQ(created.init(other), CONFIG_NO_FILE);
  ASSERT_EQ(created.init(other, true), 0);
  ASSERT_EQ(created.modifySysParam("vela/fmdb/tables/ALARM_EXPLAIN", "versionId", "1.0.1", true), 0);
  writeAll(other, bad);
  EXPECT_EQ(created.modifySysParam("vela/fmdb/tables/ALARM_EXPLAIN", "versionId", "1.0.2", true), CONFIG_MALFORMED);
  EXPECT_EQ(readAll(other), bad);
  EXPECT_EQ(malformed.init(other), CONFIG_MALFORMED);
}

// Every read and the write find a key by one rule: first <param> entry, then
// first leaf element, then attribute; a <param> element is never a leaf.
TEST_F(SettingServiceTest, ConfigAdapterPathsAgreeOnWhichFormHoldsAKey) {
  const std::string file = m_dir + "/agree.xml";
  const char* const cases[][4] = {  // node "vela/s", key, its value, a new value element text would lose
      {"<s><n>1</n><n>2</n></s>", "n", "1", "x\r\ny"},
      {"<s n=\"a\"><n><x/></n><n>2</n></s>", "n", "2", " \t"},
      {"<s n=\"a\"><n>l</n><param name=\"n\">t</param><param name=\"n\" value=\"2\"/></s>", "n", "t", " \t"},
      {"<s param=\"a\"><param>5</param></s>", "param", "a", "x\r\ny"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    writeAll(file, std::string("<vela>") + c[0] + "</vela>");
    for (const char* want : {c[2], c[3]}) {  // as written by hand, then after modifySysParam
      ConfigAdapter adapter;
      std::string v;
      std::map<std::string, std::string> all;
      ASSERT_EQ(adapter.init(file), 0);
      ASSERT_EQ(adapter.getAllSysParam("vela/s", all), 0);
      adapter.getSysParam("vela/s", c[1], v);
      EXPECT_EQ(v, want);
      EXPECT_EQ(all[c[1]], want);
      EXPECT_EQ(adapter.modifySysParam("vela/s", c[1], c[3], false), 0);
    }
  }
  // A NUL byte in a key or section name is refused, not read as the name up to it.
  ConfigAdapter adapter;
  std::string v;
  std::map<std::string, std::string> all;
  ASSERT_EQ(adapter.init(file), 0);
  EXPECT_EQ(adapter.getSysParam("vela/s", std::string("param\0x", 7), v), CONFIG_INVALID_ARG);
  EXPECT_EQ(adapter.getAllSysParam(std::string("vela/s\0x", 8), all), CONFIG_INVALID_ARG);
}

// ---------------------------------------------------------------------------
// Code-set service

// Round trips through other code sets, a stateful one ending in its initial
// state, and a large text; invalid input gives a code and leaves the text as
// it was, also when converted in place.
TEST(KyroCodeSetTest, RoundTripsAndInvalidInput) {
  const std::string jp = "x\xE3\x81\x82y\xE3\x81\x82";
  std::string big(100000, 'a');  // to UTF-32 the output buffer must grow several times
  for (const auto& [text, cs] :
       {std::pair<std::string, const char*>{jp, "ISO-2022-JP"}, {"", "GBK"}, {big, "UTF-32LE"}}) {
    std::string out = "x";
    ASSERT_EQ(KyroGlobalUtils::KyroCodeSetConvert("UTF-8", cs, text, out), KYRO_CONV_SUCCESS) << cs;
    ASSERT_EQ(KyroGlobalUtils::KyroCodeSetConvert(cs, "UTF-8", out, out), KYRO_CONV_SUCCESS) << cs;
    EXPECT_EQ(out, text) << cs;
  }
  const std::tuple<std::string, const char*, int> cases[] = {
      {std::string("ab\xC3\x28", 4), "GBK", KYRO_CONV_INVALID_SEQUENCE},     // bad continuation
      {std::string("ok\xE5\x91", 4), "GBK", KYRO_CONV_INCOMPLETE_SEQUENCE},  // truncated at end
      {"abc", "NO-SUCH-CODESET", KYRO_CONV_UNKNOWN_CODESET}};
  for (const auto& [in, to, rc] : cases) {
    std::string out = "previous";
    EXPECT_EQ(KyroGlobalUtils::KyroCodeSetConvert("UTF-8", to, in, out), rc) << to;
    EXPECT_EQ(out, in) << to << ": never a partly converted or truncated text";
    EXPECT_EQ(KyroGlobalUtils::KyroCodeSetConvert("UTF-8", to, out, out), rc) << to << " in place";
    EXPECT_EQ(out, in) << to;
  }
}

// ---------------------------------------------------------------------------
// Concurrency (also run under ThreadSanitizer)

TEST(SettingServiceConcurrency, FirstCallsOfInstanceBuildOneObject) {
  Setting::destroy();
  CFDNSplitter::destroy();
  KyroMsg::destroy();
  EXPECT_EQ(fmtest::firstCallsFromThreads([] { return static_cast<const void*>(Setting::instance()); }).size() +
                fmtest::firstCallsFromThreads([] { return static_cast<const void*>(CFDNSplitter::instance()); }).size() +
                fmtest::firstCallsFromThreads([] { return static_cast<const void*>(KyroMsg::instance()); }).size(),
            3u);
}

TEST(SettingServiceConcurrency, ConcurrentWritersAndReadersLoseNothing) {
  const std::string file = fmtest::makeTempDir("setting_conc") + "/kyro_settings.xml";
  Setting::instance()->setStorePath(file);
  constexpr int kWriters = 3;
  constexpr int kKeys = 10;
  fmtest::runTogether(kWriters, [](int w) {  // each writer also reads what the others write
    for (int k = 0; k < kKeys; ++k) {
      Setting::instance()->setParam("/conc/w" + std::to_string(w) + "/k" + std::to_string(k), std::to_string(k));
      std::map<std::string, std::string> g;
      Setting::instance()->getGroupParams("/conc/w" + std::to_string((w + 1) % kWriters), g);
    }
  });
  // A fresh reader of the file sees every key of every writer.
  Setting::destroy();
  Setting::instance()->setStorePath(file);
  for (int w = 0; w < kWriters; ++w) {
    std::map<std::string, std::string> g;
    ASSERT_EQ(Setting::instance()->getGroupParams("/conc/w" + std::to_string(w), g), 0);
    EXPECT_EQ(g.size(), static_cast<size_t>(kKeys)) << "writer " << w;
  }
  Setting::instance()->setStorePath("");
}

// Child: writes keys of its own group; exit 0 when all writes succeeded.
const bool g_multiWriter = fmtest::registerChild("setting_multi_writer", [](const std::vector<std::string>& args) {
  if (args.size() != 2) return 2;
  Setting::instance()->setStorePath(args[0]);
  for (int k = 0; k < 20; ++k) {
    if (Setting::instance()->setParam("/proc/" + args[1] + "/k" + std::to_string(k), "v") != 0) return 1;
  }
  Setting::destroy();
  return 0;
});

TEST(SettingServiceTestProcesses, WritersInSeveralProcessesLoseNothing) {
  const std::string file = fmtest::makeTempDir("setting_procs") + "/kyro_settings.xml";
  std::vector<pid_t> pids;
  for (const char* name : {"p1", "p2", "p3"}) pids.push_back(fmtest::spawnChild("setting_multi_writer", {file, name}));
  for (pid_t pid : pids) EXPECT_EQ(fmtest::waitChild(pid), 0);
  Setting::instance()->setStorePath(file);
  for (const char* name : {"p1", "p2", "p3"}) {
    std::map<std::string, std::string> g;
    ASSERT_EQ(Setting::instance()->getGroupParams(std::string("/proc/") + name, g), 0);
    EXPECT_EQ(g.size(), 20u) << name;
  }
  Setting::instance()->setStorePath("");
}

}  // namespace
}  // namespace Kyrofm
