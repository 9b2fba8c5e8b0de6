// fmctl explain: what the expression factory made of a filter, and why an
// alarm passes it or not.
//
// Prints the tree (children in the order evaluate() asks them, each leaf with
// its class, operator, flags and its own SQL text), the criterion's postfix
// words as the factory evaluates them, and, with --csn, the walk of evaluate()
// over that alarm: every leaf asked, its answer, and the leaf that decided
// (AlarmExpFactory::decidingCondition).
#include <cstdio>
#include <list>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/filter/AlarmExpFactory.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMResult.h"
#include "fmctl.h"

namespace fmctl {
namespace {

constexpr const char* kCmd = "explain";

using Kyrofm::AlarmExp;
using Kyrofm::AlmRecord_t;

const char* operatorText(char op) {
  static const char* const texts[] = {"?",          "is one of",      "is none of",        "> max",
                                      ">= max",     "< min",          "<= min",            "contains one of",
                                      "is one of",  "contains none of", "lies between",    "ends with (SQL) / contains",
                                      "starts with (SQL) / contains"};
  return op >= 1 && op <= 12 ? texts[static_cast<int>(op)] : "unknown operator";
}

std::string describeLeaf(const AlarmExp& e, const std::string& table) {
  if (auto* c = dynamic_cast<const Kyrofm::ConstantExp*>(&e)) return c->getValue() ? "TRUE" : "FALSE";
  std::string s = leafClass(e);
  if (auto* b = dynamic_cast<const Kyrofm::BasicExp*>(&e)) {
    s = "[" + b->getCondName() + "] " + s + ", operator " + std::to_string(static_cast<int>(b->getOperator())) +
        " (" + operatorText(b->getOperator()) + ")";
  }
  if (e.isMatchAll()) s += ", accepts every alarm";
  if (e.getPriority() != AlarmExp::DEFAULT_PRIORITY) s += ", priority " + std::to_string(e.getPriority());
  const std::string sql = e.sqlWhereCond(table);
  s += sql.empty() ? "; SQL: (none)" : "; SQL:" + sql;
  return s;
}

void printTree(const AlarmExp* e, const std::string& table, const std::string& indent, bool last, bool root) {
  const std::string branch = root ? "  " : indent + (last ? "`-- " : "|-- ");
  const std::string childIndent = root ? "  " : indent + (last ? "    " : "|   ");
  if (e == nullptr) {
    std::printf("%s(nothing)\n", branch.c_str());
  } else if (auto* a = dynamic_cast<const Kyrofm::AndAlarmExp*>(e)) {
    std::printf("%sAND\n", branch.c_str());
    printTree(a->getFirst(), table, childIndent, false, false);
    printTree(a->getSecond(), table, childIndent, true, false);
  } else if (auto* o = dynamic_cast<const Kyrofm::OrAlarmExp*>(e)) {
    std::printf("%sOR\n", branch.c_str());
    printTree(o->getFirst(), table, childIndent, false, false);
    printTree(o->getSecond(), table, childIndent, true, false);
  } else if (auto* n = dynamic_cast<const Kyrofm::NotAlarmExp*>(e)) {
    std::printf("%sNOT\n", branch.c_str());
    printTree(n->getChild(), table, childIndent, true, false);
  } else {
    std::printf("%s%s\n", branch.c_str(), describeLeaf(*e, table).c_str());
  }
}

// evaluate() step by step: notes each leaf asked with its answer. A
// combinator with a missing child is left to its own evaluate().
bool walk(const AlarmExp* e, const AlmRecord_t& r, std::vector<std::string>& asked) {
  auto* a = dynamic_cast<const Kyrofm::AndAlarmExp*>(e);
  if (a != nullptr && a->getFirst() && a->getSecond()) {
    return walk(a->getFirst(), r, asked) && walk(a->getSecond(), r, asked);
  }
  auto* o = dynamic_cast<const Kyrofm::OrAlarmExp*>(e);
  if (o != nullptr && o->getFirst() && o->getSecond()) {
    return walk(o->getFirst(), r, asked) || walk(o->getSecond(), r, asked);
  }
  auto* n = dynamic_cast<const Kyrofm::NotAlarmExp*>(e);
  if (n != nullptr && n->getChild()) return !walk(n->getChild(), r, asked);
  const bool ok = e->evaluate(r);
  auto* b = dynamic_cast<const Kyrofm::BasicExp*>(e);
  asked.push_back((b ? "[" + b->getCondName() + "] " + leafClass(*e) : describeLeaf(*e, "")) + ": " +
                  (ok ? "yes" : "no"));
  return ok;
}

}  // namespace

int runExplain(const std::vector<std::string>& args) {
  std::vector<OptionDef> defs = kFilterOptions;
  defs.insert(defs.end(), {{"table", "t", true}, {"csn", nullptr, true}});
  ParsedArgs a;
  if (int rc = parseArgs(kCmd, args, defs, 0, a)) return rc;
  FilterArgs filter;
  if (int rc = readFilterArgs(kCmd, a, filter)) return rc;
  if (filter.filters.empty()) return usageError(kCmd, "give at least one filter string with -f");
  const std::string table = a.get("table", "tbl_cur_alm");
  if (int rc = checkAlarmTable(kCmd, table)) return rc;
  long csn = 0;
  if (a.has("csn") && !parseNumber(a.get("csn"), csn)) return usageError(kCmd, "--csn needs a number");
  std::unique_ptr<AlarmExp> tree = buildFilter(kCmd, filter, a.has("build-flag"));
  if (!tree) return 2;
  if (hasFdnTempTables(*tree)) {
    announceFdnWrites("explain");
  }

  std::printf("Filter strings:\n");
  for (const auto& f : filter.filters) std::printf("  %s\n", f.c_str());
  if (filter.criterion.empty()) {
    std::printf("Criterion: none; the conditions are joined by AND in name order\n");
  } else {
    std::list<std::string> words;
    const bool wellFormed = Kyrofm::AlarmExpFactory::criterionWords(filter.criterion, words);
    std::string text;
    for (const auto& w : words) text += " " + w;
    std::printf("Criterion: %s\nPostfix words:%s%s\n", filter.criterion.c_str(), text.c_str(),
                wellFormed ? "" : " (not well formed)");
  }
  std::printf("Tree (children in the order evaluate() asks them; SQL for %s):\n", table.c_str());
  printTree(tree.get(), table, "", true, true);
  std::printf("WHERE:%s\n", tree->sqlWhereCond(table).c_str());
  if (!a.has("csn")) return 0;

  std::vector<AlmRecord_t> rows;
  if (long rc = Kyrofmdb::FMAlarmTableIO::readRecords(table, "Csn = " + std::to_string(csn), rows);
      rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "cannot read " + table + " of database " + databaseText(), rc);
  }
  if (rows.empty()) {
    return reportFailure(kCmd, "no alarm with Csn " + std::to_string(csn) + " in " + table, Kyrofm::FM_INVALID_ARG);
  }
  for (const auto& r : rows) {
    std::vector<std::string> asked;
    walk(tree.get(), r, asked);
    bool result = false;
    const std::string decided = Kyrofm::AlarmExpFactory::decidingCondition(*tree, r, result);
    std::printf("\nAlarm Csn %ld (level %ld, category %ld, FDN \"%s\"):\n", r.getLogId(), r.getLevel(),
                r.getCategory(), r.getMoDn().c_str());
    for (const auto& line : asked) std::printf("  asked %s\n", line.c_str());
    std::printf("  => %s, decided by %s\n", result ? "ACCEPTED" : "rejected",
                decided.empty() ? "no leaf" : decided.c_str());
  }
  return 0;
}

}  // namespace fmctl
