// KyroTrace.h: the platform trace client.
//
// Every message of the library goes through here: a level (2 detail, 3 progress,
// 4 warning, 5 error), the module number (16 for fault management) and a
// printf-style body. Messages below the configured minimum level are dropped
// before formatting. Where messages end up is decided by the installed sink:
// by default errors and warnings go to stderr, or everything at or above the
// minimum level to "$KYRO_ROOT/log/fm_common.log" when that file can be opened.
// Tests install a KyroCaptureSink and assert on the messages.
//
// Thread safety: every function may be called from any thread; sinks are
// called under no lock of the trace client and must be thread-safe themselves.
#ifndef FM_PLATFORM_KYROTRACE_H
#define FM_PLATFORM_KYROTRACE_H

#include <cstdarg>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace Kyrofm {

constexpr int FM_MODULE = 16;

enum KyroTraceLevel {
  TRACE_DETAIL = 2,
  TRACE_PROGRESS = 3,
  TRACE_WARNING = 4,
  TRACE_ERROR = 5,
};

// One formatted message.
struct KyroTraceMessage {
  int level = 0;
  int module = 0;
  std::string text;
};

// Destination of trace messages.
class KyroTraceSink {
 public:
  virtual ~KyroTraceSink() = default;
  virtual void write(const KyroTraceMessage& msg) = 0;
  // The file this sink writes lines to; "" when it writes elsewhere.
  virtual std::string filePath() const { return std::string(); }
};

// Writes each message as one line to a stdio stream (stderr or a file it owns).
class KyroStreamSink : public KyroTraceSink {
 public:
  KyroStreamSink();                              // stderr
  explicit KyroStreamSink(const std::string& path);  // appends to path; stderr if it cannot be opened
  ~KyroStreamSink() override;
  void write(const KyroTraceMessage& msg) override;
  std::string filePath() const override { return m_bOwned ? m_strPath : std::string(); }

 private:
  std::string m_strPath;
  FILE* m_pFile;
  bool m_bOwned;
  std::mutex m_mutex;
};

// Keeps every message in memory; for tests.
class KyroCaptureSink : public KyroTraceSink {
 public:
  void write(const KyroTraceMessage& msg) override;
  std::vector<KyroTraceMessage> messages() const;
  // True when some message at `level` (0: any level) contains `fragment`.
  bool contains(const std::string& fragment, int level = 0) const;
  size_t count(const std::string& fragment, int level = 0) const;
  void clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<KyroTraceMessage> m_messages;
};

class KyroTrace {
 public:
  // Formats and delivers a message when level >= minimum level.
  static void trace(int level, int module, const char* fmt, ...)
      __attribute__((format(printf, 3, 4)));
  static void vtrace(int level, int module, const char* fmt, va_list args);
  // Delivers an already formatted text (no % interpretation).
  static void traceText(int level, int module, const std::string& text);

  // Installs a sink; null restores the default sink. Returns the previous one.
  static std::shared_ptr<KyroTraceSink> setSink(std::shared_ptr<KyroTraceSink> sink);
  static std::shared_ptr<KyroTraceSink> getSink();

  // The path of the log file that lines currently go to; "" when they go to
  // stderr or to a sink that writes no file.
  static std::string logFilePath();

  // Messages below this level are dropped (default 3, or KYRO_TRACE_LEVEL).
  static void setMinLevel(int level);
  static int getMinLevel();
  static bool enabled(int level);
};

// Function-trace guard: logs "enter NAME" on construction and "leave NAME" on
// destruction at detail level.
class KyroFuncTrace {
 public:
  KyroFuncTrace(int module, const char* name);
  ~KyroFuncTrace();
  KyroFuncTrace(const KyroFuncTrace&) = delete;
  KyroFuncTrace& operator=(const KyroFuncTrace&) = delete;

 private:
  int m_iModule;
  const char* m_pName;
};

// Long-trace helper: collects items into one line, written as
// "<prefix>[n]: item1,item2,..." when flushed or destroyed. Lines longer than
// the chunk size are split into several messages so that none is truncated.
class KyroLongTrace {
 public:
  KyroLongTrace(int level, const std::string& prefix, size_t chunk = 4000);
  ~KyroLongTrace();
  template <typename T>
  KyroLongTrace& add(const T& item) {
    std::ostringstream os;
    os << item;
    addText(os.str());
    return *this;
  }
  void addText(const std::string& item);
  void flush();

 private:
  int m_iLevel;
  std::string m_strPrefix;
  size_t m_nChunk;
  size_t m_nItems = 0;
  std::string m_strLine;
};

}  // namespace Kyrofm

// Convenience macro: FM_TRACE(level, fmt, ...) with the fault-management module.
#define FM_TRACE(level, ...)                                          \
  do {                                                                \
    if (::Kyrofm::KyroTrace::enabled(level))                          \
      ::Kyrofm::KyroTrace::trace((level), ::Kyrofm::FM_MODULE, __VA_ARGS__); \
  } while (0)

#define FM_FUNC_TRACE(name) ::Kyrofm::KyroFuncTrace _fm_func_trace_guard(::Kyrofm::FM_MODULE, name)

#endif
