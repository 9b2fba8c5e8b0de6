// fmctl: the command-line program of fm_common. It drives the library end to
// end so that a newcomer can see it work and an operator can debug a filter.
//
// Every file it touches lies below the root of KyroCommonUtils::getRoot():
// KYRO_ROOT, or ./var under the working directory when that is unset.
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"
#include "fmctl.h"

namespace fmctl {
namespace {

const Command kCommands[] = {
    {"demo",
     "[--keep]\n"
     "  Builds an alarm filter by hand, shows which of six alarm records it\n"
     "  accepts in memory and why, then runs the same filter as SQL on a scratch\n"
     "  SQLite database that it creates for itself below <root>/tmp and removes\n"
     "  at the end. It never opens the database that KYRO_FM_DB or KYRO_ROOT name.\n"
     "  --keep      leave the scratch database in place for inspection\n"
     "  -h, --help  show this text\n",
     runDemo},
};

void printMainUsage(FILE* out) {
  std::fprintf(out, "usage: fmctl <command> [options]\n       fmctl <command> --help\ncommands:\n");
  for (const auto& cmd : kCommands) {
    std::fprintf(out, "  %s %s", cmd.name, cmd.usage);
  }
  std::fprintf(out,
               "Files: below $KYRO_ROOT; when it is unset, below ./var under the working\n"
               "directory (with one warning line).\n");
}

// Passes every message on to the sink that was installed before and keeps the
// last error, so that a failing command can print its cause.
class CauseSink : public Kyrofm::KyroTraceSink {
 public:
  explicit CauseSink(std::shared_ptr<Kyrofm::KyroTraceSink> next) : m_next(std::move(next)) {}
  void write(const Kyrofm::KyroTraceMessage& msg) override {
    if (msg.level >= Kyrofm::TRACE_ERROR) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_lastError = msg.text;
    }
    if (m_next) m_next->write(msg);
  }
  // The log file of the sink underneath, so that KyroTrace::logFilePath()
  // still names it while this sink is installed.
  std::string filePath() const override { return m_next ? m_next->filePath() : std::string(); }
  std::string lastError() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastError;
  }

 private:
  std::shared_ptr<Kyrofm::KyroTraceSink> m_next;
  mutable std::mutex m_mutex;
  std::string m_lastError;
};

std::shared_ptr<CauseSink> g_causes;


void printUsage(const Command& cmd, FILE* out) { std::fprintf(out, "usage: fmctl %s %s", cmd.name, cmd.usage); }

}  // namespace

int badArgument(const char* cmd, const std::string& arg) {
  std::fprintf(stderr, "fmctl %s: unknown argument '%s'\n", cmd, arg.c_str());
  for (const auto& c : kCommands) {
    if (std::strcmp(c.name, cmd) == 0) printUsage(c, stderr);
  }
  return 2;
}

int reportFailure(const char* cmd, const std::string& what, long code) {
  std::fprintf(stderr, "fmctl %s: %s: %s\n", cmd, what.c_str(), Kyrofm::FMResultText(code).c_str());
  const std::string cause = g_causes ? g_causes->lastError() : std::string();
  if (!cause.empty()) std::fprintf(stderr, "  cause: %s\n", cause.c_str());
  const std::string log = Kyrofm::KyroTrace::logFilePath();  // "" when the log goes to stderr
  if (!log.empty()) std::fprintf(stderr, "  see %s\n", log.c_str());
  return 1;
}

}  // namespace fmctl

int main(int argc, char** argv) {
  using fmctl::kCommands;
  if (argc < 2) {
    fmctl::printMainUsage(stderr);
    return 2;
  }
  const std::string first = argv[1];
  if (first == "-h" || first == "--help") {
    if (argc == 2) {
      fmctl::printMainUsage(stdout);
      return 0;
    }
    std::fprintf(stderr, "fmctl: unknown argument '%s'\n", argv[2]);
    fmctl::printMainUsage(stderr);
    return 2;
  }
  for (const auto& cmd : kCommands) {
    if (first != cmd.name) continue;
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& a : args) {
      if (a == "-h" || a == "--help") {
        fmctl::printUsage(cmd, stdout);
        return 0;
      }
    }
    auto previous = Kyrofm::KyroTrace::getSink();
    fmctl::g_causes = std::make_shared<fmctl::CauseSink>(previous);
    Kyrofm::KyroTrace::setSink(fmctl::g_causes);
    const int rc = cmd.run(args);
    Kyrofm::KyroTrace::setSink(previous);
    fmctl::g_causes.reset();
    return rc;
  }
  std::fprintf(stderr, "fmctl: unknown command '%s'\n", first.c_str());
  fmctl::printMainUsage(stderr);
  return 2;
}
