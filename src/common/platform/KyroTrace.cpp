// KyroTrace.cpp: the trace client. Formatting happens once in the caller's
// thread; delivery goes to the sink that is current at that moment, held by a
// shared pointer so that a sink swapped out while a message is in flight stays
// alive until that message is written.
#include "fm_common/platform/KyroTrace.h"

#include "fm_common/platform/KyroCommonUtils.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace Kyrofm {
namespace {

std::mutex g_sinkMutex;
std::shared_ptr<KyroTraceSink> g_sink;  // guarded by g_sinkMutex

int initialLevel() {
  const char* env = std::getenv("KYRO_TRACE_LEVEL");
  if (env && *env) {
    int v = std::atoi(env);
    if (v >= 0 && v <= 6) return v;
  }
  return TRACE_PROGRESS;
}

std::atomic<int> g_minLevel{initialLevel()};

// Default sink: the log file under KYRO_ROOT when it can be opened, else stderr
// for warnings and errors only.
class DefaultSink : public KyroTraceSink {
 public:
  DefaultSink() {
    const std::string root = KyroCommonUtils::getRoot();
    if (!root.empty()) {
      std::string dir = root + "/log";
      ::mkdir(dir.c_str(), 0755);
      std::string path = dir + "/fm_common.log";
      if (FILE* f = std::fopen(path.c_str(), "a")) {
        std::fclose(f);
        m_file = std::make_unique<KyroStreamSink>(path);
        return;
      }
    }
    m_stderr = std::make_unique<KyroStreamSink>();
  }
  std::string filePath() const override { return m_file ? m_file->filePath() : std::string(); }
  void write(const KyroTraceMessage& msg) override {
    if (m_file) {
      m_file->write(msg);
    } else if (msg.level >= TRACE_WARNING) {
      m_stderr->write(msg);
    }
  }

 private:
  std::unique_ptr<KyroStreamSink> m_file;
  std::unique_ptr<KyroStreamSink> m_stderr;
};

std::shared_ptr<KyroTraceSink> currentSink() {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  if (!g_sink) g_sink = std::make_shared<DefaultSink>();
  return g_sink;
}

const char* levelName(int level) {
  switch (level) {
    case TRACE_DETAIL: return "DETAIL";
    case TRACE_PROGRESS: return "INFO";
    case TRACE_WARNING: return "WARN";
    case TRACE_ERROR: return "ERROR";
    default: return "TRACE";
  }
}

}  // namespace

KyroStreamSink::KyroStreamSink() : m_pFile(stderr), m_bOwned(false) {}

KyroStreamSink::KyroStreamSink(const std::string& path)
    : m_strPath(path), m_pFile(std::fopen(path.c_str(), "a")), m_bOwned(true) {
  if (!m_pFile) {
    m_pFile = stderr;
    m_bOwned = false;
  }
}

KyroStreamSink::~KyroStreamSink() {
  if (m_bOwned) std::fclose(m_pFile);
}

void KyroStreamSink::write(const KyroTraceMessage& msg) {
  char stamp[32];
  std::time_t now = std::time(nullptr);
  struct tm tmv;
  localtime_r(&now, &tmv);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tmv);
  std::lock_guard<std::mutex> lock(m_mutex);
  std::fprintf(m_pFile, "%s [%s] [%d] %s\n", stamp, levelName(msg.level), msg.module,
               msg.text.c_str());
  std::fflush(m_pFile);
}

void KyroCaptureSink::write(const KyroTraceMessage& msg) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_messages.push_back(msg);
}

std::vector<KyroTraceMessage> KyroCaptureSink::messages() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_messages;
}

size_t KyroCaptureSink::count(const std::string& fragment, int level) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  size_t n = 0;
  for (const auto& m : m_messages) {
    if ((level == 0 || m.level == level) && m.text.find(fragment) != std::string::npos) ++n;
  }
  return n;
}

bool KyroCaptureSink::contains(const std::string& fragment, int level) const {
  return count(fragment, level) > 0;
}

void KyroCaptureSink::clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_messages.clear();
}

void KyroTrace::trace(int level, int module, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vtrace(level, module, fmt, args);
  va_end(args);
}

void KyroTrace::vtrace(int level, int module, const char* fmt, va_list args) {
  if (!enabled(level) || fmt == nullptr) return;
  char buf[1024];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(buf, sizeof buf, fmt, copy);
  va_end(copy);
  if (n < 0) return;
  std::string text;
  if (static_cast<size_t>(n) < sizeof buf) {
    text.assign(buf, static_cast<size_t>(n));
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(&text[0], text.size(), fmt, args);
    text.resize(static_cast<size_t>(n));
  }
  traceText(level, module, text);
}

void KyroTrace::traceText(int level, int module, const std::string& text) {
  if (!enabled(level)) return;
  KyroTraceMessage msg{level, module, text};
  currentSink()->write(msg);
}

std::shared_ptr<KyroTraceSink> KyroTrace::setSink(std::shared_ptr<KyroTraceSink> sink) {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  std::shared_ptr<KyroTraceSink> old = g_sink;
  g_sink = std::move(sink);
  return old;
}

std::shared_ptr<KyroTraceSink> KyroTrace::getSink() { return currentSink(); }

std::string KyroTrace::logFilePath() { return currentSink()->filePath(); }

void KyroTrace::setMinLevel(int level) { g_minLevel.store(level); }
int KyroTrace::getMinLevel() { return g_minLevel.load(); }
bool KyroTrace::enabled(int level) { return level >= g_minLevel.load(std::memory_order_relaxed); }

KyroFuncTrace::KyroFuncTrace(int module, const char* name) : m_iModule(module), m_pName(name) {
  if (KyroTrace::enabled(TRACE_DETAIL)) KyroTrace::trace(TRACE_DETAIL, m_iModule, "enter %s", m_pName);
}

KyroFuncTrace::~KyroFuncTrace() {
  if (KyroTrace::enabled(TRACE_DETAIL)) KyroTrace::trace(TRACE_DETAIL, m_iModule, "leave %s", m_pName);
}

KyroLongTrace::KyroLongTrace(int level, const std::string& prefix, size_t chunk)
    : m_iLevel(level), m_strPrefix(prefix), m_nChunk(chunk == 0 ? 4000 : chunk) {}

KyroLongTrace::~KyroLongTrace() { flush(); }

void KyroLongTrace::addText(const std::string& item) {
  if (!KyroTrace::enabled(m_iLevel)) return;
  if (!m_strLine.empty() && m_strLine.size() + item.size() + 1 > m_nChunk) flush();
  if (!m_strLine.empty()) m_strLine += ',';
  m_strLine += item;
  ++m_nItems;
}

void KyroLongTrace::flush() {
  if (m_nItems == 0) return;
  KyroTrace::traceText(m_iLevel, FM_MODULE,
                       m_strPrefix + "[" + std::to_string(m_nItems) + "]: " + m_strLine);
  m_strLine.clear();
  m_nItems = 0;
}

}  // namespace Kyrofm
