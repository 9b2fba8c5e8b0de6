// fmctl demo: an alarm filter built by hand.
//
// Shows a newcomer the two faces of a filter tree: the same tree decides in
// memory whether an alarm record matches (AlarmExp::evaluate) and writes the
// SQL WHERE condition that selects the same alarms from an alarm table
// (AlarmExp::sqlWhereCond). The leaves are two small field expressions defined
// here: one on the alarm level (an integer field) and one on the text of the
// managed object's FDN (a string field). Each leaf notes its verdict while the
// tree is evaluated, so the demo can tell which leaves were asked and which one
// decided.
//
// The SQL half runs on a scratch SQLite database that the demo creates in a
// fresh directory below <root>/tmp (mkdtemp, so it can never be a database
// someone else made) and removes at the end unless --keep is given. The
// database named by KYRO_FM_DB or the default one under the root is never
// opened. The last step adds an alarm explanation to the scratch database
// through the explanation operator. The pool is closed before the demo ends,
// so SQLite folds its WAL back into the file and leaves no -wal or -shm file
// behind.
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/fmlog/AlarmExpOperator.h"
#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fmctl.h"

namespace fmctl {
namespace {

using Kyrofm::AlarmExp;
using Kyrofm::AlmRecord_t;

// What the leaves said during one evaluation, in the order they were asked.
std::vector<std::string>* g_verdicts = nullptr;

void note(const std::string& text) {
  if (g_verdicts) g_verdicts->push_back(text);
}

const char* yesNo(bool b) { return b ? "yes" : "no"; }

std::string join(const std::set<long>& values) {
  std::string s;
  for (long v : values) s += (s.empty() ? "" : ", ") + std::to_string(v);
  return "{" + s + "}";
}

std::string join(const std::set<std::string>& values) {
  std::string s;
  for (const auto& v : values) s += (s.empty() ? "\"" : ", \"") + v + "\"";
  return "{" + s + "}";
}

const char* opText(char op) {
  switch (op) {
    case 1: return "is one of";
    case 2: return "is none of";
    case 7: return "contains one of";
    case 9: return "contains none of";
    case 10: return "lies between";
    default: return "matches";
  }
}

// Leaf on the alarm level (column AlmLevel).
class DemoLevelExp : public Kyrofm::BasicExp {
 public:
  DemoLevelExp(const std::string& name, char op, std::set<long> levels)
      : BasicExp(name, op), m_levels(std::move(levels)) {}

  bool evaluate(const AlmRecord_t& r) const override {
    bool ok = evaluateInt(r.getLevel(), m_levels);
    note("[" + getCondName() + "] level " + std::to_string(r.getLevel()) + " " + opText(getOperator()) + " " +
         join(m_levels) + "? " + yesNo(ok));
    return ok;
  }
  std::string sqlWhereCond(const std::string& table) const override {
    return createIntSqlCond(table, "AlmLevel", m_levels);
  }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_levels.size()); }
  AlarmExp* copy() const override { return new DemoLevelExp(*this); }
  bool setStringContent(const std::string&) override { return false; }
  bool setFilter(const std::list<std::string>&, bool) override { return false; }

  std::string describe() const {
    return "level " + std::string(opText(getOperator())) + " " + join(m_levels);
  }

 private:
  std::set<long> m_levels;
};

// Leaf on the text of the managed object's FDN (column MoDn). Like the FDN
// leaves of the library it has a low priority: it is asked last.
class DemoFdnTextExp : public Kyrofm::BasicExp {
 public:
  DemoFdnTextExp(const std::string& name, char op, std::set<std::string> texts)
      : BasicExp(name, op), m_texts(std::move(texts)) {
    setPriority(1);
  }

  bool evaluate(const AlmRecord_t& r) const override {
    bool ok = evaluateStr(r.getMoDn(), m_texts);
    note("[" + getCondName() + "] FDN \"" + r.getMoDn() + "\" " + opText(getOperator()) + " " + join(m_texts) +
         "? " + yesNo(ok));
    return ok;
  }
  std::string sqlWhereCond(const std::string& table) const override {
    return createStrSqlCond(table, "MoDn", m_texts);
  }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_texts.size()); }
  AlarmExp* copy() const override { return new DemoFdnTextExp(*this); }
  bool setStringContent(const std::string&) override { return false; }
  bool setFilter(const std::list<std::string>&, bool) override { return false; }

  std::string describe() const {
    return "FDN " + std::string(opText(getOperator())) + " " + join(m_texts);
  }

 private:
  std::set<std::string> m_texts;
};

// Draws the tree, children in the order in which they are evaluated.
void printTree(const AlarmExp* e, const std::string& indent, bool last, bool root) {
  const std::string branch = root ? "  " : indent + (last ? "`-- " : "|-- ");
  const std::string childIndent = root ? "  " : indent + (last ? "    " : "|   ");
  if (e == nullptr) {
    std::printf("%s(nothing)\n", branch.c_str());
  } else if (auto* a = dynamic_cast<const Kyrofm::AndAlarmExp*>(e)) {
    std::printf("%sAND (both must hold; stops at the first \"no\")\n", branch.c_str());
    printTree(a->getFirst(), childIndent, false, false);
    printTree(a->getSecond(), childIndent, true, false);
  } else if (auto* o = dynamic_cast<const Kyrofm::OrAlarmExp*>(e)) {
    std::printf("%sOR (one must hold; stops at the first \"yes\")\n", branch.c_str());
    printTree(o->getFirst(), childIndent, false, false);
    printTree(o->getSecond(), childIndent, true, false);
  } else if (auto* n = dynamic_cast<const Kyrofm::NotAlarmExp*>(e)) {
    std::printf("%sNOT\n", branch.c_str());
    printTree(n->getChild(), childIndent, true, false);
  } else if (auto* l = dynamic_cast<const DemoLevelExp*>(e)) {
    std::printf("%s[%s] %s\n", branch.c_str(), l->getCondName().c_str(), l->describe().c_str());
  } else if (auto* f = dynamic_cast<const DemoFdnTextExp*>(e)) {
    std::printf("%s[%s] %s\n", branch.c_str(), f->getCondName().c_str(), f->describe().c_str());
  } else if (auto* c = dynamic_cast<const Kyrofm::ConstantExp*>(e)) {
    std::printf("%s%s\n", branch.c_str(), c->getValue() ? "TRUE" : "FALSE");
  }
}

AlmRecord_t makeAlarm(long logId, char level, const std::string& fdn) {
  AlmRecord_t r;
  r.setLogId(logId);
  r.setSeverity(level);
  r.setMoDn(fdn);
  return r;
}

constexpr const char* kCmd = "demo";

// The demo's own database: a fresh directory below <root>/tmp holding
// "demo.db". The directory is removed when the object goes, unless kept.
class ScratchDatabase {
 public:
  ScratchDatabase() = default;
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;
  ~ScratchDatabase() {
    close();
    if (!m_dir.empty() && !m_bKeep) {
      std::error_code ec;
      std::filesystem::remove_all(m_dir, ec);
    }
  }

  // Makes the directory and points the database layer at the file in it.
  // False (errno tells why) when the directory cannot be made.
  bool create(bool keep) {
    m_bKeep = keep;
    const std::string parent = Kyrofm::KyroCommonUtils::getRoot() + "/tmp";
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    std::string templ = parent + "/fmctl-demo-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) return false;
    m_dir = templ;
    m_strFile = m_dir + "/demo.db";
    Kyrofmdb::CDBMaintain::instance()->setDBUrl(url());
    return true;
  }
  // Closes the pool: the last connection folds the WAL back into the file.
  void close() {
    if (m_dir.empty()) return;
    Kyrofmdb::CDBMaintain::instance()->setDBUrl(std::string());
  }
  // The -wal and -shm files still present after close() (none expected).
  std::vector<std::string> leftovers() const {
    std::vector<std::string> found;
    for (const char* suffix : {"-wal", "-shm"}) {
      std::error_code ec;
      if (std::filesystem::exists(m_strFile + suffix, ec)) found.push_back(m_strFile + suffix);
    }
    return found;
  }
  const std::string& file() const { return m_strFile; }
  std::string url() const { return "sqlite3://db=" + m_strFile; }

 private:
  std::string m_dir;
  std::string m_strFile;
  bool m_bKeep = false;
};

// Writes the alarms into the current-alarm table of the scratch database,
// selects them with the tree's WHERE text and prints the rows next to the
// in-memory answer.
int runInDatabase(const ScratchDatabase& scratch, const std::vector<AlmRecord_t>& alarms, const AlarmExp& tree,
                  const std::string& where) {
  using Kyrofmdb::CDBMaintain;
  using Kyrofmdb::FMAlarmTableIO;
  CDBMaintain* db = CDBMaintain::instance();
  // Never write anywhere but into the database made for this run.
  if (db->getDBUrl() != scratch.url()) {
    return reportFailure(kCmd, "the database layer is not on the scratch database", Kyrofm::FM_FAILURE);
  }
  if (long rc = db->Init(1); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "cannot open the scratch database " + scratch.file(), rc);
  }
  std::printf("Database: %s (a scratch SQLite database made for this run)\n", scratch.file().c_str());
  if (long rc = FMAlarmTableIO::writeRecords("tbl_cur_alm", alarms); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "cannot write the alarms into tbl_cur_alm", rc);
  }
  std::vector<long> selected;
  if (long rc = FMAlarmTableIO::selectCsns("tbl_cur_alm", where, selected); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "the WHERE text did not run", rc);
  }
  std::printf("The %zu alarms were written to tbl_cur_alm; the WHERE text selects:\n\n", alarms.size());
  std::printf("  alarm  in memory  in SQL\n");
  bool same = true;
  for (const auto& alarm : alarms) {
    const bool mem = tree.evaluate(alarm);
    const bool sql = std::find(selected.begin(), selected.end(), alarm.getLogId()) != selected.end();
    same = same && mem == sql;
    std::printf("  %5ld  %-9s  %s\n", alarm.getLogId(), mem ? "yes" : "no", sql ? "yes" : "no");
  }
  std::printf("\n%s\n\n", same ? "Both answers agree." : "THE ANSWERS DIFFER.");
  return same ? 0 : 1;
}

// One alarm with two reasons into the scratch knowledge base through the
// explanation operator, one reason marked deleted, then the operator's buffer.
// The operator is destroyed before the scratch database is closed.
int demoKnowledgeBase() {
  Kyrofm::CAlarmExpOperator* op = Kyrofm::CAlarmExpOperator::instance();
  if (op == nullptr || op->getInitStatus() == Kyrofm::EXP_INIT_FAILED) {
    return reportFailure(kCmd, "the explanation operator did not start", Kyrofm::FM_FAILURE);
  }
  op->mergeRedefinedName({});
  Kyrofm::AlmExp_t e;
  e.m_lGroupId = 7, e.m_lAlarmId = 100, e.AlarmName = "Link down", e.Category = 1, e.AlarmLevel = 2, e.AlarmType = 1;
  e.Reasons.resize(2);
  e.Reasons[0].Explain = "The optical link is down.";
  e.Reasons[1].ReasonID = 1, e.Reasons[1].Explain = "The far end is switched off.";
  Kyrofm::AlmExp_t second = e;
  second.Reasons.erase(second.Reasons.begin());
  Kyrofm::AlmExpErrorMap errors;
  std::list<Kyrofm::AlarmInfo_t> keys;
  Kyrofm::AlmExpList added, deleted;
  std::list<Kyrofm::AlmBasicExp_t> buffer;
  long rc = op->add({e}, errors, keys, added);
  if (rc == Kyrofm::FM_SUCCESS) rc = op->del({second}, keys, errors, deleted);
  if (rc == Kyrofm::FM_SUCCESS) rc = op->getAlarmExpBasicInfo(buffer);
  Kyrofm::CAlarmExpOperator::destroy();
  if (rc != Kyrofm::FM_SUCCESS) return reportFailure(kCmd, "the knowledge base step failed", rc);
  for (const auto& x : buffer) {
    for (const auto& r : x.Reasons) {
      std::printf("  alarm %ld/%ld reason %d \"%s\": %s\n", x.m_lGroupId, x.m_lAlarmId, r.ReasonID, x.AlarmName.c_str(),
                  r.OperationType == Kyrofm::EXP_OPER_DELETED ? "marked deleted" : "added");
    }
  }
  return 0;
}

// The four steps of the demo; 0 when they all worked and both answers agree.
int runDemoSteps(const ScratchDatabase& scratch) {
  std::printf(
      "fmctl demo: one alarm filter, two uses\n"
      "======================================\n\n"
      "The operator wants to see the critical and major alarms (levels 1 and 2)\n"
      "except those raised by lab equipment, and every alarm of the core router\n"
      "whatever its level. As a filter tree:\n\n");

  // Built by hand here; in the service the expression factory builds such trees
  // from a client's field conditions.
  std::unique_ptr<AlarmExp> tree = std::make_unique<Kyrofm::OrAlarmExp>(
      std::make_unique<Kyrofm::AndAlarmExp>(
          std::make_unique<DemoLevelExp>("severe", 1, std::set<long>{1, 2}),
          std::make_unique<Kyrofm::NotAlarmExp>(
              std::make_unique<DemoFdnTextExp>("lab", 7, std::set<std::string>{"Lab"}))),
      std::make_unique<DemoFdnTextExp>("core", 7, std::set<std::string>{"CoreRouter"}));
  printTree(tree.get(), "", true, true);

  std::printf(
      "\nLeaves are asked in priority order: the FDN leaves have the lowest\n"
      "priority, so the cheap level test runs first.\n\n"
      "1. In memory: AlarmExp::evaluate(record)\n"
      "----------------------------------------\n");

  const std::vector<AlmRecord_t> alarms = {
      makeAlarm(101, 1, "NE=Paris,Shelf=1,Board=3"),  makeAlarm(102, 2, "NE=Lab7,Shelf=1"),
      makeAlarm(103, 4, "NE=CoreRouter,Board=2"),     makeAlarm(104, 5, "NE=Paris,Shelf=2"),
      makeAlarm(105, 1, "NE=CoreRouter,Lab=1"),       makeAlarm(106, 2, ""),
  };
  int accepted = 0;
  for (const auto& alarm : alarms) {
    std::vector<std::string> verdicts;
    g_verdicts = &verdicts;
    const bool ok = tree->evaluate(alarm);
    g_verdicts = nullptr;
    accepted += ok ? 1 : 0;
    std::printf("\nalarm %ld: level %ld, FDN \"%s\"\n", alarm.getLogId(), alarm.getLevel(), alarm.getMoDn().c_str());
    for (const auto& v : verdicts) std::printf("    asked %s\n", v.c_str());
    // With short-circuit evaluation the last leaf asked settles the answer.
    std::printf("  => %s (decided by leaf %s, the last one asked)\n", ok ? "ACCEPTED" : "rejected",
                verdicts.empty() ? "-" : verdicts.back().substr(0, verdicts.back().find(']') + 1).c_str());
  }
  std::printf("\n%d of %zu alarms pass the filter.\n\n", accepted, alarms.size());

  std::printf(
      "2. In the database: AlarmExp::sqlWhereCond(\"tbl_cur_alm\")\n"
      "----------------------------------------------------------\n"
      "The same tree writes a WHERE condition that selects the same alarms from\n"
      "the current-alarm table (an empty FDN text is stored as NULL):\n\n");
  const std::string where = tree->sqlWhereCond("tbl_cur_alm");
  std::printf("  select * from tbl_cur_alm where%s\n\n", where.c_str());
  if (int rc = runInDatabase(scratch, alarms, *tree, where); rc != 0) return rc;

  std::printf(
      "Reading it: \" 1 > 0 \" closes a list of values (long lists are cut into\n"
      "chunks of 240 values); like patterns are followed by the escape clause so\n"
      "that %%, _ and \\ in a value match themselves; the case expression under\n"
      "NOT makes a NULL FDN count as \"does not contain\", as in memory.\n\n");

  std::printf(
      "3. Changing one condition: AlarmExp::replace\n"
      "--------------------------------------------\n"
      "replace(\"severe\", level is one of {1}) gives a new, independent tree; the\n"
      "original is untouched:\n\n");
  DemoLevelExp criticalOnly("critical", 1, {1});
  std::unique_ptr<AlarmExp> narrowed = tree->cloneReplaced("severe", &criticalOnly);
  if (!narrowed) return reportFailure(kCmd, "replace failed", Kyrofm::FM_FAILURE);
  printTree(narrowed.get(), "", true, true);
  std::printf("\n  where%s\n", narrowed->sqlWhereCond("tbl_cur_alm").c_str());

  std::printf(
      "\n4. The alarm explanation knowledge base: CAlarmExpOperator\n"
      "----------------------------------------------------------\n"
      "The operator writes tbl_alm_exp_info and its buffer together; an alarm with\n"
      "two reasons is added and one reason marked deleted (fmctl kb import does\n"
      "this from a file):\n\n");
  return demoKnowledgeBase();
}

}  // namespace

int runDemo(const std::vector<std::string>& args) {
  bool keep = false;
  for (const auto& a : args) {
    if (a == "--keep") {
      keep = true;
    } else {
      return badArgument(kCmd, a);
    }
  }
  ScratchDatabase scratch;
  if (!scratch.create(keep)) {
    return reportFailure(kCmd, "cannot make a scratch directory below " + Kyrofm::KyroCommonUtils::getRoot() +
                                   "/tmp (" + std::strerror(errno) + ")",
                         Kyrofm::FM_FAILURE);
  }
  int rc = runDemoSteps(scratch);
  scratch.close();
  if (const auto left = scratch.leftovers(); !left.empty()) {
    rc = reportFailure(kCmd, "the scratch database left " + left.front() + " behind", Kyrofm::FM_FAILURE);
  }
  std::printf(keep ? "\nThe scratch database stays at %s\n" : "\nThe scratch database %s has been removed.\n",
              scratch.file().c_str());
  return rc;
}

}  // namespace fmctl
