// FmTestSupport.cpp: the test process's scratch root, trace capture and main.
#include "support/FmTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace fmtest {
namespace {

std::string g_root;

struct RootCleaner {
  ~RootCleaner() {
    if (!g_root.empty() && std::getenv("FM_TEST_KEEP_ROOT") == nullptr) {
      std::error_code ec;
      std::filesystem::remove_all(g_root, ec);
    }
  }
} g_cleaner;

}  // namespace

const std::string& kyroRoot() { return g_root; }

bool waitUntil(const std::function<bool()>& pred, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

void runTogether(int n, const std::function<void(int)>& body) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < n; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (ready.load() < n) std::this_thread::yield();
      body(i);
    });
  }
  for (auto& t : threads) t.join();
}

std::set<const void*> firstCallsFromThreads(const std::function<const void*()>& make) {
  std::vector<const void*> got(8, nullptr);
  runTogether(8, [&](int i) { got[static_cast<size_t>(i)] = make(); });
  return std::set<const void*>(got.begin(), got.end());
}

std::string makeTempDir(const std::string& hint) {
  static std::atomic<int> counter{0};
  std::string dir = g_root + "/tmp/" + hint + "_" + std::to_string(counter++);
  std::filesystem::create_directories(dir);
  return dir;
}

std::string postgresUrl() {
  const char* url = std::getenv("FM_TEST_PG_URL");
  return url ? std::string(url) : std::string();
}

std::string sqliteTestUrl(const std::string& hint) { return "sqlite3://db=" + makeTempDir(hint) + "/fm.db"; }

std::string databaseUrlFor(const std::string& backend, const std::string& hint) {
  return backend == "postgresql" ? postgresUrl() : sqliteTestUrl(hint);
}

TraceCapture::TraceCapture()
    : m_sink(std::make_shared<Kyrofm::KyroCaptureSink>()),
      m_previousLevel(Kyrofm::KyroTrace::getMinLevel()) {
  m_previous = Kyrofm::KyroTrace::setSink(m_sink);
  Kyrofm::KyroTrace::setMinLevel(Kyrofm::TRACE_DETAIL);
}

TraceCapture::~TraceCapture() {
  Kyrofm::KyroTrace::setSink(m_previous);
  Kyrofm::KyroTrace::setMinLevel(m_previousLevel);
}

// Sets up the scratch root before any test (and any library singleton) runs.
void initTestProcess() {
  const char* keep = std::getenv("FM_TEST_ROOT");
  if (keep && *keep) {
    g_root = keep;
    std::filesystem::create_directories(g_root);
  } else {
    char tmpl[] = "/tmp/fm_tests_XXXXXX";
    char* dir = ::mkdtemp(tmpl);
    if (!dir) std::abort();
    g_root = dir;
  }
  ::setenv("KYRO_ROOT", g_root.c_str(), 1);
  // Warnings and errors of tests that do not capture go to the default sink.
  Kyrofm::KyroTrace::setMinLevel(Kyrofm::TRACE_WARNING);
}

}  // namespace fmtest

// Test programs that need a child process (lock and crash tests) re-run this
// binary with FM_TEST_CHILD set; suites register their child entry points with
// fmtest::registerChild in their own files and dispatch through main.
#include "support/FmTestChild.h"

int main(int argc, char** argv) {
  if (const char* child = std::getenv("FM_TEST_CHILD")) {
    return fmtest::runChild(child, argc, argv);
  }
  fmtest::initTestProcess();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
