// FmTestSupport.h: shared helpers of the test suites.
//
// Every test process runs with its own scratch KYRO_ROOT (a fresh temporary
// directory, removed at exit) so that tests never touch a real installation.
// Trace messages are captured per test through TraceCapture.
#ifndef FM_TESTS_SUPPORT_FMTESTSUPPORT_H
#define FM_TESTS_SUPPORT_FMTESTSUPPORT_H

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "fm_common/platform/KyroTrace.h"

namespace fmtest {

// The scratch KYRO_ROOT of this test process.
const std::string& kyroRoot();

// A fresh empty directory under the scratch root.
std::string makeTempDir(const std::string& hint);

// The PostgreSQL URL of the throw-away test server (FM_TEST_PG_URL), empty when
// the suites run on SQLite only.
std::string postgresUrl();

// A fresh SQLite database file under the scratch root, as a SOCI URL.
std::string sqliteTestUrl(const std::string& hint);

// The URL of the database a parametrised suite runs on: "postgresql" gives
// postgresUrl() (empty without a server: the test skips itself), anything
// else a fresh SQLite database.
std::string databaseUrlFor(const std::string& backend, const std::string& hint);

// Polls `pred` every 200 us until it holds (true) or `seconds` pass (false).
bool waitUntil(const std::function<bool()>& pred, int seconds = 20);

// Runs body(0) .. body(n - 1) on n threads released together; returns when all have ended.
void runTogether(int n, const std::function<void(int)>& body);

// The distinct answers of `make` called by 8 threads released together: a
// lazily built singleton must give exactly one.
std::set<const void*> firstCallsFromThreads(const std::function<const void*()>& make);

// Installs a capturing trace sink (minimum level 2) for its lifetime.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;
  Kyrofm::KyroCaptureSink& sink() { return *m_sink; }
  bool contains(const std::string& fragment, int level = 0) const { return m_sink->contains(fragment, level); }
  size_t count(const std::string& fragment, int level = 0) const { return m_sink->count(fragment, level); }

 private:
  std::shared_ptr<Kyrofm::KyroCaptureSink> m_sink;
  std::shared_ptr<Kyrofm::KyroTraceSink> m_previous;
  int m_previousLevel;
};

}  // namespace fmtest

#endif
