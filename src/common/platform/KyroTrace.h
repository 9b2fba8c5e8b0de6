// KyroTrace.h: the platform trace client.
//
// Every message of the library goes through here: a level (2 detail, 3 progress,
// 4 warning, 5 error), the module number (16 for fault management) and a
// printf-style body. Messages below the minimum level are dropped before
// formatting. The installed sink decides where the others end up; tests install
// a KyroCaptureSink and assert on the messages.
//
// Destination. While no sink is installed (or after setSink(nullptr)) the
// default sink applies one rule to every message, whatever happened before:
//   - root = KyroCommonUtils::getRoot(), asked again for each message;
//   - when root is not empty, the folder root + "/log" is created with all its
//     missing parents and every message goes to root + "/log/fm_common.log";
//   - when root is empty or that file cannot be opened, warnings and errors go
//     to stderr and lower levels are dropped; logFilePath() is then "".
// The choice is remade when the root changes; a file that could not be opened
// is tried again only then. A sink installed by setSink replaces the rule
// completely until setSink(nullptr); logFilePath() asks that sink (filePath()).
//
// Line format of the stream sinks (file and stderr), one line per message:
//   2026-12-05 19:43:39.123Z pid=4711 tid=4712 ERROR mod=16 body
// The time is UTC to the millisecond; tid is the kernel thread id (gettid on
// Linux, as ps -L and gdb show it; a hash of the thread id elsewhere); the level
// is DETAIL, PROGRESS, WARNING or ERROR. Line breaks in the body are folded
// (see oneLine), so a message never spans lines.
//
// Size cap. A file sink whose file would pass the cap with the next line first
// renames it to <file>.1 (replacing an older <file>.1) and starts a new file,
// so at most cap bytes are kept in each of the two files (a single line longer
// than the cap still goes out whole). The cap is 10 MiB unless the environment
// variable KYRO_TRACE_MAX_BYTES gives a byte count (0: no cap) or
// setMaxFileBytes sets one. Several processes may share one file: a process
// that finds the file already rotated by another just reopens it.
//
// Minimum level. Default 3; KYRO_TRACE_LEVEL may give a level name (detail,
// progress, warning, error, any case) or a number 2 to 5. Anything else is
// rejected with one warning line on stderr and the default stays.
//
// Thread safety: every function may be called from any thread. Sinks are
// called in the caller's thread under no lock of the trace client and must be
// thread-safe themselves. A message logged while the same thread is already
// delivering one (a sink, or the root lookup, that logs) goes straight to
// stderr instead of recursing.
#ifndef FM_PLATFORM_KYROTRACE_H
#define FM_PLATFORM_KYROTRACE_H

#include <cstdarg>
#include <cstdio>
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

// Writes each message as one line (format above) to stderr or to a file it
// owns, rotating the file at the size cap.
class KyroStreamSink : public KyroTraceSink {
 public:
  KyroStreamSink();  // stderr
  // Appends to path, creating its missing parent folders; falls back to
  // stderr (filePath() "") when the file cannot be opened.
  explicit KyroStreamSink(const std::string& path);
  ~KyroStreamSink() override;
  void write(const KyroTraceMessage& msg) override;
  std::string filePath() const override;

 private:
  void rotate();  // m_mutex held

  std::string m_strPath;
  FILE* m_pFile;
  bool m_bOwned;
  mutable std::mutex m_mutex;
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
  // stderr or to a sink that writes no file. With the default sink this
  // applies the destination rule now (creating the folder if needed).
  static std::string logFilePath();

  // Messages below this level are dropped (default 3, or KYRO_TRACE_LEVEL).
  static void setMinLevel(int level);
  static int getMinLevel();
  static bool enabled(int level);
  // Reads a level as KYRO_TRACE_LEVEL gives it: a name (detail, progress,
  // warning, error; any case, blanks around ignored) or a number 2 to 5.
  // Returns false and leaves level unchanged for anything else.
  static bool parseLevel(const std::string& text, int& level);

  // Size cap of the file sinks in bytes, 0 for none (default: 10 MiB, or
  // KYRO_TRACE_MAX_BYTES). Takes effect with the next line written.
  static void setMaxFileBytes(unsigned long long bytes);
  static unsigned long long getMaxFileBytes();

  // The text as one line: each line break, with the blanks around it, becomes
  // " | "; breaks at either end are dropped; other control characters except
  // tab become blanks.
  static std::string oneLine(const std::string& text);
  // The line a stream sink writes for msg, without the final newline.
  static std::string formatLine(const KyroTraceMessage& msg);
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
