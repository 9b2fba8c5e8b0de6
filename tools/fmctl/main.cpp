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
#include "fm_common/version.h"
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
     "  Last, an alarm explanation goes into the same scratch database through the\n"
     "  explanation operator.\n"
     "  --keep      leave the scratch database in place for inspection\n"
     "  -h, --help  show this text\n",
     runDemo},
    {"load",
     "FILE|- [-t TABLE] [--replace] [--keep-ids]\n"
     "       fmctl load --generate N [--seed S] [-t TABLE] [--replace]\n"
     "  Writes alarms into an alarm table: those of a text dump (FILE, or - for\n"
     "  standard input; see fmctl dump), or N generated ones (the same N and S give\n"
     "  the same alarms; their Csns follow the largest in the table). A dump is\n"
     "  refused whole at its first line that does not parse. Each alarm gets this\n"
     "  database's ids of its FDNs (tbl_fdn_mgr, new FDNs added). Before writing,\n"
     "  a line on stderr names the database and the table. The site database (the\n"
     "  default one, or KYRO_FM_DB) is written only into a table named with -t;\n"
     "  with --db the table defaults to tbl_cur_alm.\n"
     "  -t, --table TABLE  tbl_cur_alm, tbl_alm_log, tbl_event_log, tbl_mask_alm, tbl_his_alm\n"
     "  --replace          delete every alarm of the table first\n"
     "  --keep-ids         keep the FDN ids the dump carries\n"
     "  --generate N       write N generated alarms instead of a file\n"
     "  --seed S           seed of the generated alarms (default 1)\n",
     runLoad},
    {"dump",
     "[-t TABLE] [-f FILTER]... [-c CRITERION] [-o FILE] [--skip-unsafe]\n"
     "  Writes the alarms of a table (default tbl_cur_alm), in Csn order, as a text\n"
     "  dump: a header line of the 58 column names, then one line per alarm, fields\n"
     "  separated by \"||\". With -f, only the alarms the filter's SQL selects. A text\n"
     "  holding \"||\" or a line end, or ending with '|', cannot be dumped: the\n"
     "  command then fails naming the alarm and writes nothing (--skip-unsafe leaves\n"
     "  such alarms out instead, naming each on stderr).\n"
     "  -o, --output FILE  write to FILE instead of standard output\n"
     "  -f, -c, --build-flag  as for fmctl query\n",
     runDump},
    {"query",
     "[-t TABLE] -f FILTER... [-c CRITERION] [-s ITEM[:asc|:desc]]... [--json] [--build-flag]\n"
     "  Builds a filter with the expression factory from filter strings\n"
     "  \"NAME|TYPE|CONTENT\" (e.g. -f 'LVL|LEVEL|1,2'; without -c the conditions are\n"
     "  joined by AND) and a criterion over their names (-c 'LVL AND NOT X'), and\n"
     "  prints its WHERE text, the ORDER BY text of the sort items, the alarms of the\n"
     "  table (default tbl_cur_alm) the SQL selects in that order, and the alarms on\n"
     "  which evaluate() in memory and the SQL disagree. Exit 1 when they disagree.\n"
     "  -s, --sort ITEM[:asc|:desc]  sort item id (1 Csn, 4 severity, 5 type, 8 status,\n"
     "                     10 object FDN, 16 device Csn, 17 id; 10000000 and up:\n"
     "                     extended parameters), ascending unless :desc\n"
     "  --json             one JSON object instead of text\n"
     "  --build-flag       the factory's build flag: time windows exclude their start,\n"
     "                     INTEXT takes operator 2 (none of the values)\n"
     "  FDN and NE conditions start the FDN manager, which tidies tbl_fdn_mgr, and may\n"
     "  make temporary id tables; a line on stderr says so first.\n",
     runQuery},
    {"explain",
     "-f FILTER... [-c CRITERION] [--build-flag] [--csn N] [-t TABLE]\n"
     "  Prints the tree the expression factory builds from the filter, the\n"
     "  criterion's postfix words, and, for the alarm with Csn N of the table\n"
     "  (default tbl_cur_alm), each leaf's answer and the leaf that decided.\n",
     runExplain},
    {"kb",
     "list [--group G] | show GROUP ALARM | import FILE [--delete-missing]\n"
     "  The alarm explanation knowledge base (table tbl_alm_exp_info) through the\n"
     "  explanation operator. list: one line per reason (group, alarm, reason,\n"
     "  category, level, type, last operation, its UTC time, name). show: every\n"
     "  attribute and text of one alarm's entry. import: the entries of FILE (see\n"
     "  README.md: lines \"alarm G A | name=.. | category=.. | level=.. | type=..\" and\n"
     "  \"reason R | explain=.. | advice=..\"); a file with one bad line is refused\n"
     "  whole, naming each bad line and field. New reasons are added, changed ones\n"
     "  updated, equal ones left alone; it holds the exclusive ALARM_KNOWLG\n"
     "  category (refused when another import holds it) and writes one audit\n"
     "  entry \"Update_Alm_Knowlg_DB\" with the counts. A line on stderr names the\n"
     "  database before anything is written.\n"
     "  -g, --group G       list only group G\n"
     "  --delete-missing    mark deleted the reasons of the file's groups that the\n"
     "                      file does not hold\n",
     runKb},
};

void printMainUsage(FILE* out) {
  std::fprintf(out,
               "usage: fmctl [--root DIR] [--db URL] <command> [options]\n"
               "       fmctl <command> --help\n       fmctl --version\ncommands:\n");
  for (const auto& cmd : kCommands) {
    std::fprintf(out, "  %s %s", cmd.name, cmd.usage);
  }
  std::fprintf(out,
               "Options of every command:\n"
               "  --root DIR  root of every file (sets KYRO_ROOT)\n"
               "  --db URL    database: a SOCI URL (sqlite3://db=PATH, postgresql://...) or an\n"
               "              SQLite file; default KYRO_FM_DB, else <root>/var/fm/fm.db\n"
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
      if (m_firstError.empty()) m_firstError = msg.text;
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
  // The first and the last error, or the one error when they are the same.
  std::string errors() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_firstError == m_lastError ? m_lastError : m_firstError + "; then: " + m_lastError;
  }

 private:
  std::shared_ptr<Kyrofm::KyroTraceSink> m_next;
  mutable std::mutex m_mutex;
  std::string m_firstError;
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

std::string loggedErrors() { return g_causes ? g_causes->errors() : std::string(); }

int usageError(const char* cmd, const std::string& message) {
  std::fprintf(stderr, "fmctl %s: %s\n", cmd, message.c_str());
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
  std::vector<std::string> all(argv + 1, argv + argc);
  // Options before the command: --root, --db (also accepted after it), --version.
  size_t at = 0;
  while (at < all.size() && all[at].rfind("--", 0) == 0 && all[at] != "--help") {
    const std::string opt = all[at];
    if (opt == "--version") {
      if (all.size() != 1) return fmctl::usageError("--version", "takes no other argument");
      std::printf("fmctl %s\n", FM_COMMON_VERSION_STRING);
      return 0;
    }
    std::string name = opt.substr(2), value;
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    } else if (at + 1 < all.size()) {
      value = all[++at];
    }
    if (name == "root" && !value.empty()) {
      fmctl::applyRoot(value);
    } else if (name != "db" || !fmctl::applyDatabase(value)) {
      std::fprintf(stderr, "fmctl: bad option '%s'\n", opt.c_str());
      fmctl::printMainUsage(stderr);
      return 2;
    }
    ++at;
  }
  if (at >= all.size()) {
    fmctl::printMainUsage(stderr);
    return 2;
  }
  const std::string first = all[at];
  if (first == "-h" || first == "--help") {
    if (at + 1 == all.size()) {
      fmctl::printMainUsage(stdout);
      return 0;
    }
    std::fprintf(stderr, "fmctl: unknown argument '%s'\n", all[at + 1].c_str());
    fmctl::printMainUsage(stderr);
    return 2;
  }
  for (const auto& cmd : kCommands) {
    if (first != cmd.name) continue;
    std::vector<std::string> args(all.begin() + static_cast<long>(at) + 1, all.end());
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
