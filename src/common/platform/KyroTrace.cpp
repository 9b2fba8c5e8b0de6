// KyroTrace.cpp: the trace client. Formatting happens once in the caller's
// thread; delivery goes to the sink that is current at that moment, held by a
// shared pointer so that a sink swapped out while a message is in flight stays
// alive until that message is written.
#include "fm_common/platform/KyroTrace.h"

#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <thread>

#include "fm_common/platform/KyroCommonUtils.h"

namespace Kyrofm {
namespace {

constexpr unsigned long long kDefaultMaxBytes = 10ULL * 1024 * 1024;

std::mutex g_sinkMutex;
std::shared_ptr<KyroTraceSink> g_sink;  // guarded by g_sinkMutex

// Both start unset (constant-initialised, so usable from other static
// initialisers) and are read from the environment on first use.
std::atomic<int> g_minLevel{-1};
std::atomic<long long> g_maxBytes{-1};

// Set while this thread delivers a message: a message logged meanwhile (by a
// sink or by the root lookup) goes straight to stderr.
thread_local bool t_delivering = false;

void writeStderrLine(const KyroTraceMessage& msg) {
  std::string line = KyroTrace::formatLine(msg) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void warnEnv(const std::string& text) {
  writeStderrLine(KyroTraceMessage{TRACE_WARNING, FM_MODULE, text});
}

int levelFromEnv() {
  const char* env = std::getenv("KYRO_TRACE_LEVEL");
  int level = TRACE_PROGRESS;
  if (env != nullptr && *env != '\0' && !KyroTrace::parseLevel(env, level)) {
    warnEnv(std::string("KyroTrace: KYRO_TRACE_LEVEL \"") + env +
            "\" not understood (detail, progress, warning, error or 2 to 5); level stays progress");
  }
  return level;
}

long long maxBytesFromEnv() {
  const char* env = std::getenv("KYRO_TRACE_MAX_BYTES");
  if (env == nullptr || *env == '\0') return static_cast<long long>(kDefaultMaxBytes);
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(env, &end, 10);
  if (errno != 0 || end == env || *end != '\0' || !std::isdigit(static_cast<unsigned char>(*env)) ||
      v > static_cast<unsigned long long>(INT64_MAX)) {
    warnEnv(std::string("KyroTrace: KYRO_TRACE_MAX_BYTES \"") + env +
            "\" is not a byte count; the cap stays " + std::to_string(kDefaultMaxBytes));
    return static_cast<long long>(kDefaultMaxBytes);
  }
  return static_cast<long long>(v);
}

int minLevel() {
  int v = g_minLevel.load(std::memory_order_relaxed);
  if (v >= 0) return v;
  static const int fromEnv = levelFromEnv();  // once, so the warning is one line
  int expected = -1;
  g_minLevel.compare_exchange_strong(expected, fromEnv);
  return g_minLevel.load();
}

unsigned long long maxBytes() {
  long long v = g_maxBytes.load(std::memory_order_relaxed);
  if (v >= 0) return static_cast<unsigned long long>(v);
  static const long long fromEnv = maxBytesFromEnv();
  long long expected = -1;
  g_maxBytes.compare_exchange_strong(expected, fromEnv);
  return static_cast<unsigned long long>(g_maxBytes.load());
}

// mkdir -p; true when the folder exists afterwards.
bool makeFolders(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !makeFolders(dir.substr(0, slash))) return false;
  return ::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

FILE* openAppend(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) makeFolders(path.substr(0, slash));
  return std::fopen(path.c_str(), "a");
}

// Not cached: a forked child's thread would keep its parent's id.
unsigned long threadId() {
#if defined(__linux__)
  return static_cast<unsigned long>(::syscall(SYS_gettid));
#else
  return static_cast<unsigned long>(std::hash<std::thread::id>()(std::this_thread::get_id()));
#endif
}

const char* levelName(int level) {
  switch (level) {
    case TRACE_DETAIL: return "DETAIL";
    case TRACE_PROGRESS: return "PROGRESS";
    case TRACE_WARNING: return "WARNING";
    case TRACE_ERROR: return "ERROR";
    default: return nullptr;
  }
}

// The default sink: the destination rule of the header, applied per message.
class DefaultSink : public KyroTraceSink {
 public:
  void write(const KyroTraceMessage& msg) override {
    if (std::shared_ptr<KyroStreamSink> file = target()) {
      file->write(msg);
    } else if (msg.level >= TRACE_WARNING) {
      m_stderr.write(msg);
    }
  }
  std::string filePath() const override {
    std::shared_ptr<KyroStreamSink> file = target();
    return file ? file->filePath() : std::string();
  }

 private:
  std::shared_ptr<KyroStreamSink> target() const {
    std::string root = KyroCommonUtils::getRoot();  // outside m_mutex: it may log
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bResolved || root != m_strRoot) {
      m_bResolved = true;
      m_strRoot = root;
      m_file.reset();
      if (!root.empty()) {
        auto file = std::make_shared<KyroStreamSink>(root + "/log/fm_common.log");
        if (!file->filePath().empty()) m_file = std::move(file);
      }
    }
    return m_file;
  }

  mutable std::mutex m_mutex;
  mutable bool m_bResolved = false;
  mutable std::string m_strRoot;
  mutable std::shared_ptr<KyroStreamSink> m_file;
  KyroStreamSink m_stderr;
};

std::shared_ptr<KyroTraceSink> currentSink() {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  if (!g_sink) g_sink = std::make_shared<DefaultSink>();
  return g_sink;
}

// Marks the calling thread as delivering for its lifetime.
class DeliveryScope {
 public:
  DeliveryScope() { t_delivering = true; }
  ~DeliveryScope() { t_delivering = false; }
};

}  // namespace

std::string KyroTrace::oneLine(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    char c = text[i];
    if (c == '\n' || c == '\r') {
      while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
      while (i < n && (text[i] == '\n' || text[i] == '\r' || text[i] == ' ' || text[i] == '\t')) ++i;
      if (i < n && !out.empty()) out += " | ";
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = ' ';
    out += c;
    ++i;
  }
  return out;
}

std::string KyroTrace::formatLine(const KyroTraceMessage& msg) {
  using namespace std::chrono;
  system_clock::time_point now = system_clock::now();
  std::time_t secs = system_clock::to_time_t(now);
  long ms = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  if (ms < 0) ms += 1000;
  struct tm tmv;
  gmtime_r(&secs, &tmv);
  char stamp[40];
  size_t len = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tmv);
  std::snprintf(stamp + len, sizeof stamp - len, ".%03ldZ", ms);
  const char* name = levelName(msg.level);
  std::string level = name ? std::string(name) : "L" + std::to_string(msg.level);
  char head[160];
  std::snprintf(head, sizeof head, "%s pid=%ld tid=%lu %s mod=%d ", stamp, static_cast<long>(::getpid()),
                threadId(), level.c_str(), msg.module);
  return head + oneLine(msg.text);
}

KyroStreamSink::KyroStreamSink() : m_pFile(stderr), m_bOwned(false) {}

KyroStreamSink::KyroStreamSink(const std::string& path)
    : m_strPath(path), m_pFile(openAppend(path)), m_bOwned(true) {
  if (!m_pFile) {
    m_pFile = stderr;
    m_bOwned = false;
  }
}

KyroStreamSink::~KyroStreamSink() {
  if (m_bOwned) std::fclose(m_pFile);
}

std::string KyroStreamSink::filePath() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bOwned ? m_strPath : std::string();
}

void KyroStreamSink::rotate() {
  struct stat mine;
  struct stat named;
  // Another process sharing the file may have rotated it already: then the
  // name no longer refers to our file and only the reopening is left to do.
  bool ours = ::fstat(::fileno(m_pFile), &mine) == 0 && ::stat(m_strPath.c_str(), &named) == 0 &&
              mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
  if (ours) std::rename(m_strPath.c_str(), (m_strPath + ".1").c_str());
  std::fclose(m_pFile);
  m_pFile = openAppend(m_strPath);
  if (m_pFile == nullptr) {
    m_pFile = stderr;
    m_bOwned = false;
  }
}

void KyroStreamSink::write(const KyroTraceMessage& msg) {
  std::string line = KyroTrace::formatLine(msg);
  line += '\n';
  unsigned long long cap = maxBytes();
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bOwned && cap > 0) {
    struct stat st;
    if (::fstat(::fileno(m_pFile), &st) == 0 && st.st_size > 0 &&
        static_cast<unsigned long long>(st.st_size) + line.size() > cap) {
      rotate();
    }
  }
  std::fwrite(line.data(), 1, line.size(), m_pFile);
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
  if (t_delivering) {
    writeStderrLine(msg);
    return;
  }
  DeliveryScope scope;
  currentSink()->write(msg);
}

std::shared_ptr<KyroTraceSink> KyroTrace::setSink(std::shared_ptr<KyroTraceSink> sink) {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  std::shared_ptr<KyroTraceSink> old = g_sink;
  g_sink = std::move(sink);
  return old;
}

std::shared_ptr<KyroTraceSink> KyroTrace::getSink() { return currentSink(); }

std::string KyroTrace::logFilePath() {
  if (t_delivering) return std::string();
  DeliveryScope scope;
  return currentSink()->filePath();
}

void KyroTrace::setMinLevel(int level) { g_minLevel.store(level < 0 ? 0 : level); }
int KyroTrace::getMinLevel() { return minLevel(); }
bool KyroTrace::enabled(int level) { return level >= minLevel(); }

bool KyroTrace::parseLevel(const std::string& text, int& level) {
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  std::string word;
  for (size_t i = b; i <= e; ++i) {
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
  }
  static const struct {
    const char* name;
    int level;
  } kNames[] = {{"detail", TRACE_DETAIL}, {"progress", TRACE_PROGRESS}, {"warning", TRACE_WARNING},
                {"error", TRACE_ERROR},   {"2", TRACE_DETAIL},          {"3", TRACE_PROGRESS},
                {"4", TRACE_WARNING},     {"5", TRACE_ERROR}};
  for (const auto& n : kNames) {
    if (word == n.name) {
      level = n.level;
      return true;
    }
  }
  return false;
}

void KyroTrace::setMaxFileBytes(unsigned long long bytes) {
  g_maxBytes.store(bytes > static_cast<unsigned long long>(INT64_MAX) ? INT64_MAX
                                                                      : static_cast<long long>(bytes));
}

unsigned long long KyroTrace::getMaxFileBytes() { return maxBytes(); }

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
