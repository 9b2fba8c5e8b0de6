// Tests of the platform pieces behind the settings accessor: the file-backed
// settings service, the XML configuration adapter, the atomic file discipline,
// the iconv code-set service and the small registries.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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
  std::string text = "untouched";
  EXPECT_EQ(s->getParamValue("/kyro/vela/nothing", text), SETTING_NO_SUCH_PATH);
  EXPECT_EQ(s->getParamValue("/kyro/nogroup/x", text), SETTING_NO_SUCH_PATH);
  EXPECT_EQ(text, "untouched");
  long n = -1;  // numbers: the text's rules are the settings accessor's
  EXPECT_EQ(s->getParamValue("/kyro/vela/threshold Percent", n) * 100 + n, 45);
  EXPECT_EQ(s->getParamValue("/kyro/vela/alarm_configure/clear_alm_buf_size", n), SETTING_NOT_A_NUMBER);
  for (const char* bad : {"", "/", "kyro/vela/x", "/kyro//x", "/kyro/vela/"}) {
    EXPECT_EQ(s->getParamValue(bad, text), SETTING_INVALID_PATH) << bad;
  }
  std::map<std::string, std::string> group{{"keep", "me"}}, none;
  EXPECT_EQ(s->getGroupParams("/kyro/vela", group), 0);
  EXPECT_EQ(std::make_tuple(group.size(), group["threshold Percent"], group["keep"]),
            std::make_tuple(size_t{4}, std::string(" 45 "), std::string("me")));
  EXPECT_EQ(s->getGroupParams("/kyro/vela/", group), 0);
  EXPECT_EQ(s->getGroupParams("/kyro/absent", none), SETTING_NO_SUCH_PATH);
  EXPECT_TRUE(none.empty());
}

TEST_F(SettingServiceTest, SetParamCreatesFileAndKeepsTheRestOfIt) {
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
}

TEST_F(SettingServiceTest, SeesChangesMadeByOthersOnDisk) {
  Setting* s = Setting::instance();
  ASSERT_EQ(s->setParam("/a/b/c", "1"), 0);
  std::string text;
  ASSERT_EQ(s->getParamValue("/a/b/c", text), 0);
  // Another process replaces the file (a new inode, as an atomic writer makes).
  writeAll(m_file + ".other", "<settings><group path=\"/a/b\"><param name=\"c\" value=\"2\"/></group></settings>");
  fs::rename(m_file + ".other", m_file);
  ASSERT_EQ(s->getParamValue("/a/b/c", text), 0);
  EXPECT_EQ(text, "2");
  fs::remove(m_file);
  EXPECT_EQ(s->getParamValue("/a/b/c", text), SETTING_NO_SUCH_PATH);
}

TEST_F(SettingServiceTest, MalformedFileIsReportedWithLineTreatedAsAbsentAndNotOverwritten) {
  const std::string bad = "<settings>\n  <group path=\"/kyro/vela\">\n    <param name=\"a\" value=\"1\"/>\n"
                          "    <param name=\"b\" value=\"2\">\n  </group>\n</settings>\n";
  writeAll(m_file, bad);
  fmtest::TraceCapture cap;
  std::string text;
  EXPECT_EQ(Setting::instance()->getParamValue("/kyro/vela/a", text), SETTING_NO_SUCH_PATH);
  // Reported once per change of the file, with its line, not on every read.
  EXPECT_EQ(Setting::instance()->getParamValue("/kyro/vela/a", text), SETTING_NO_SUCH_PATH);
  EXPECT_EQ(cap.count("malformed XML file " + m_file + " at line 5"), 1u);
  EXPECT_EQ(Setting::instance()->setParam("/kyro/vela/a", "3"), SETTING_STORE_MALFORMED);
  EXPECT_EQ(readAll(m_file), bad);
  // The line of an offset: 1 before the first line feed, the last line beyond the end.
  for (const auto& [offset, line] : {std::pair<std::ptrdiff_t, int>{-3, 1}, {0, 1}, {1, 1}, {2, 2}, {4, 2}, {5, 3}, {6, 4}, {100, 4}}) {
    EXPECT_EQ(KyroXmlFile::lineOfOffset("a\nbc\n\nd", offset), line) << offset;
  }
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
  EXPECT_EQ(Setting::instance()->getParamValue("/kyro/vela/big", text), SETTING_NO_SUCH_PATH);
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
  for (int round = 0; round < 3; ++round) {
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
  writeAll(file, "<vela attr=\"a1\">\n  <correlate mode=\"attr\">\n    <param name=\"cor_engine_num\" value=\" 3 \"/>\n"
                 "    <leaf>leafvalue</leaf>\n    <mode>element wins over attribute</mode>\n"
                 "    <nested><x>1</x></nested>\n  </correlate>\n</vela>\n");
  const std::tuple<const char*, const char*, int, const char*> reads[] = {
      {"/vela/correlate", "cor_engine_num", 0, " 3 "}, {"vela/correlate", "leaf", 0, "leafvalue"},
      {"/other/correlate", "leaf", CONFIG_NO_SUCH_PARAM, ""}, {"", "leaf", CONFIG_INVALID_ARG, ""}};
  for (const auto& [node, key, rc, value] : reads) {
    std::string v;
    EXPECT_EQ(ConfigAdapter::readValue(file, node, key, v), rc) << node << " " << key;
    EXPECT_EQ(v, value) << node << " " << key;
  }
  std::string v;
  EXPECT_EQ(ConfigAdapter::readValue(m_dir + "/missing.xml", "/vela", "x", v), CONFIG_NO_FILE);

  ConfigAdapter adapter;
  std::map<std::string, std::string> all;
  EXPECT_EQ(adapter.getAllSysParam("/vela/correlate", all), CONFIG_NOT_INIT);
  ASSERT_EQ(adapter.init(file), 0);
  ASSERT_EQ(adapter.getAllSysParam("/vela/correlate", all), 0);
  EXPECT_EQ(adapter.getAllSysParam(std::string("/vela/correlate\0x", 17), all), CONFIG_INVALID_ARG);
  EXPECT_EQ(std::make_pair(all.size(), all["mode"]), std::make_pair(size_t{3}, std::string("element wins over attribute")));
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
  const char* const cases[][3] = {  // node "vela/s", key, its value (nullptr: absent)
      {"<s><n>1</n><n>2</n></s>", "n", "1"},
      {"<s n=\"a\"><n><x/></n><n>2</n></s>", "n", "2"},
      {"<s n=\"a\"><n>l</n><param name=\"n\">t</param><param name=\"n\" value=\"2\"/></s>", "n", "t"},
      {"<s param=\"a\"><param name=\"x\" value=\"y\"/></s>", "param", "a"},
      {"<s><param>5</param></s>", "param", nullptr},
      {"<s n=\"a\"><n><x/></n></s>", "n", "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    writeAll(file, std::string("<vela>") + c[0] + "</vela>");
    const std::string next = (&c - cases) % 2 ? " \t" : "x\r\ny";  // element text would lose these
    for (int round = 0; round < 2; ++round) {  // as written by hand, then after modifySysParam
      const std::string want = c[2] == nullptr ? "(absent)" : round ? next : c[2];
      ConfigAdapter adapter;
      std::string v = "(absent)";
      std::map<std::string, std::string> all{{c[1], "(absent)"}};
      ASSERT_EQ(adapter.init(file), 0);
      ASSERT_EQ(adapter.getAllSysParam("vela/s", all), 0);
      adapter.getSysParam("vela/s", c[1], v);
      EXPECT_EQ(v, want);
      EXPECT_EQ(all[c[1]], want);
      if (round == 0) {
        EXPECT_EQ(adapter.modifySysParam("vela/s", c[1], next, false), c[2] ? 0 : CONFIG_NO_SUCH_PARAM);
      }
    }
  }
  ConfigAdapter adapter;
  std::string v;
  ASSERT_EQ(adapter.init(file), 0);
  EXPECT_EQ(adapter.getSysParam("vela/s", std::string("param\0x", 7), v), CONFIG_INVALID_ARG);
  EXPECT_EQ(adapter.modifySysParam("vela/s", "k", std::string("a\0b", 3), true), CONFIG_INVALID_ARG);
}

// ---------------------------------------------------------------------------
// Code-set service

// Round trips through other code sets, a stateful one ending in its initial
// state; empty and large texts, converted in place.
TEST(KyroCodeSetTest, RoundTripsEmptyLargeAndInPlace) {
  const std::string utf8 = "Alarm \xE5\x91\x8A\xE8\xAD\xA6 caf\xC3\xA9", jp = "x\xE3\x81\x82y\xE3\x81\x82";
  std::string big(100000, 'a');  // to UTF-32 the output buffer must grow several times
  for (const auto& [text, cs] : {std::pair<std::string, const char*>{utf8, "GBK"}, {utf8, "UTF-16"}, {jp, "ISO-2022-JP"},
                                 {"", "GBK"}, {big, "UTF-32LE"}}) {
    std::string out = "x";
    ASSERT_EQ(KyroGlobalUtils::KyroCodeSetConvert("UTF-8", cs, text, out), KYRO_CONV_SUCCESS) << cs;
    EXPECT_TRUE(out != text || text.empty()) << cs;
    ASSERT_EQ(KyroGlobalUtils::KyroCodeSetConvert(cs, "UTF-8", out, out), KYRO_CONV_SUCCESS) << cs;
    EXPECT_EQ(out, text) << cs;
  }
}

TEST(KyroCodeSetTest, InvalidInputGivesACodeALogLineAndTheTextUnchanged) {
  const std::tuple<std::string, const char*, int, const char*> cases[] = {
      {std::string("ab\xC3\x28", 4), "GBK", KYRO_CONV_INVALID_SEQUENCE, "at byte 2 of 4"},       // bad continuation
      {std::string("ok\xE5\x91", 4), "GBK", KYRO_CONV_INCOMPLETE_SEQUENCE, "at byte 2 of 4"},    // truncated at end
      {"caf\xC3\xA9 \xE5\x91\x8A", "ISO-8859-1", KYRO_CONV_INVALID_SEQUENCE, "at byte 6 of 9"},  // not in target
      {"abc", "NO-SUCH-CODESET", KYRO_CONV_UNKNOWN_CODESET, "no conversion"}};
  for (const auto& [in, to, rc, where] : cases) {
    fmtest::TraceCapture cap;
    std::string out = "previous";
    EXPECT_EQ(KyroGlobalUtils::KyroCodeSetConvert("UTF-8", to, in, out), rc) << to;
    EXPECT_EQ(out, in) << to << ": never a partly converted or truncated text";
    EXPECT_TRUE(cap.contains(where, TRACE_ERROR)) << to;
    EXPECT_EQ(KyroGlobalUtils::KyroCodeSetConvert("UTF-8", to, out, out), rc) << to << " in place";
    EXPECT_EQ(out, in) << to;
  }
}

TEST(KyroGlobalUtilsTest, LocalCharsetFromOverrideEnvironmentOrLocale) {
  const char* const names[] = {"KYRO_LOCAL_CHARSET", "LC_ALL", "LC_CTYPE", "LANG"};
  auto put = [](const char* name, const char* value) { value ? ::setenv(name, value, 1) : ::unsetenv(name); };
  std::vector<std::optional<std::string>> saved;
  for (const char* n : names) saved.push_back(std::getenv(n) ? std::optional<std::string>(std::getenv(n)) : std::nullopt);
  // {KYRO_LOCAL_CHARSET, LC_ALL, LC_CTYPE, LANG}, answer
  const std::pair<std::array<const char*, 4>, const char*> cases[] = {
      {{nullptr, nullptr, nullptr, nullptr}, "UTF-8"},
      {{"gbk", "en_US.UTF-8", nullptr, nullptr}, "GBK"},
      {{nullptr, "zh_CN.GB18030@stroke", "en_US.UTF-8", nullptr}, "GB18030"},
      {{nullptr, nullptr, "de_DE.utf8", "zh_CN.GBK"}, "UTF-8"},
      {{nullptr, nullptr, nullptr, "zh_CN.GBK"}, "GBK"},
      {{nullptr, "C", nullptr, "zh_CN.GBK"}, "UTF-8"},
  };
  for (const auto& [values, expect] : cases) {
    for (int i = 0; i < 4; ++i) put(names[i], values[i]);
    EXPECT_EQ(KyroGlobalUtils::KyroGetLocalCharset(), expect);
  }
  KyroGlobalUtils::setLocalCharset("iso-8859-1");
  EXPECT_EQ(KyroGlobalUtils::KyroGetLocalCharset(), "ISO-8859-1");
  KyroGlobalUtils::setLocalCharset("");
  for (int i = 0; i < 4; ++i) put(names[i], saved[i] ? saved[i]->c_str() : nullptr);
}

// ---------------------------------------------------------------------------
// Concurrency (also run under ThreadSanitizer)

TEST(SettingServiceConcurrency, FirstCallsOfInstanceBuildOneObject) {
  for (int round = 0; round < 5; ++round) {
    Setting::destroy();
    CFDNSplitter::destroy();
    KyroMsg::destroy();
    EXPECT_EQ(fmtest::firstCallsFromThreads([] { return static_cast<const void*>(Setting::instance()); }).size() +
                  fmtest::firstCallsFromThreads([] { return static_cast<const void*>(CFDNSplitter::instance()); }).size() +
                  fmtest::firstCallsFromThreads([] { return static_cast<const void*>(KyroMsg::instance()); }).size(),
              3u);
  }
}

TEST(SettingServiceConcurrency, ConcurrentWritersAndReadersLoseNothing) {
  const std::string file = fmtest::makeTempDir("setting_conc") + "/kyro_settings.xml";
  Setting::instance()->setStorePath(file);
  constexpr int kWriters = 4;
  constexpr int kKeys = 15;
  std::atomic<bool> stop{false};
  std::atomic<int> readErrors{0};
  std::thread reader([&] {
    std::string v;
    while (!stop.load()) {
      int rc = Setting::instance()->getParamValue("/conc/w0/k0", v);
      if (rc != 0 && rc != SETTING_NO_SUCH_PATH) readErrors.fetch_add(1);
      std::map<std::string, std::string> g;
      Setting::instance()->getGroupParams("/conc/w1", g);
    }
  });
  fmtest::runTogether(kWriters, [](int w) {
    for (int k = 0; k < kKeys; ++k) {
      Setting::instance()->setParam("/conc/w" + std::to_string(w) + "/k" + std::to_string(k), std::to_string(k));
    }
  });
  stop.store(true);
  reader.join();
  EXPECT_EQ(readErrors.load(), 0);
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
