// filter.cpp: filters given on the command line, built by the expression
// factory, and what query and explain say about their trees.
//
// A filter is a list of filter strings "NAME|TYPE|CONTENT" (-f, repeatable)
// and an optional criterion over the names (-c). The criterion travels to the
// factory as one more filter string, "CRITERION|<criterion>", which is why it
// may not hold a '|'.
#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <list>
#include <typeinfo>

#include "fm_common/filter/AlarmExpFactory.h"
#include "fmctl.h"

namespace fmctl {

using Kyrofm::AlarmExp;

const std::vector<OptionDef> kFilterOptions = {
    {"filter", "f", true}, {"criterion", "c", true}, {"build-flag", nullptr, false}};

std::unique_ptr<AlarmExp> buildFilter(const char* cmd, const FilterArgs& filter, bool buildFlag) {
  std::list<std::string> strings(filter.filters.begin(), filter.filters.end());
  if (!filter.criterion.empty()) strings.push_back("CRITERION|" + filter.criterion);
  std::unique_ptr<AlarmExp> tree(Kyrofm::AlarmExpFactory::createByStrinFilter(strings, 0, buildFlag));
  if (!tree) {
    const std::string cause = loggedErrors();
    usageError(cmd, "the expression factory refused the filter" + (cause.empty() ? std::string() : ": " + cause));
  }
  return tree;
}

int readFilterArgs(const char* cmd, const ParsedArgs& a, FilterArgs& filter) {
  filter.filters = a.all("filter");
  filter.criterion = a.get("criterion");
  if (filter.criterion.find('|') != std::string::npos) return usageError(cmd, "a criterion cannot hold '|'");
  if (a.has("criterion") && filter.criterion.empty()) return usageError(cmd, "-c needs a criterion text");
  for (const auto& f : filter.filters) {
    std::string name, type, content;
    if (!Kyrofm::ExpStringFilter(f, name, type, content)) {
      return usageError(cmd, "not a filter string NAME|TYPE|CONTENT: '" + f + "'");
    }
  }
  return 0;
}

std::string leafClass(const AlarmExp& e) {
  const char* mangled = typeid(e).name();
  int status = 0;
  char* name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string s = (status == 0 && name != nullptr) ? name : mangled;
  std::free(name);
  if (s.rfind("Kyrofm::", 0) == 0) s.erase(0, 8);
  return s;
}

void collectLeaves(const AlarmExp* e, std::vector<const AlarmExp*>& leaves) {
  if (e == nullptr) return;
  if (auto* a = dynamic_cast<const Kyrofm::AndAlarmExp*>(e)) {
    collectLeaves(a->getFirst(), leaves);
    collectLeaves(a->getSecond(), leaves);
  } else if (auto* o = dynamic_cast<const Kyrofm::OrAlarmExp*>(e)) {
    collectLeaves(o->getFirst(), leaves);
    collectLeaves(o->getSecond(), leaves);
  } else if (auto* n = dynamic_cast<const Kyrofm::NotAlarmExp*>(e)) {
    collectLeaves(n->getChild(), leaves);
  } else {
    leaves.push_back(e);
  }
}

std::vector<std::string> documentedDifferences(const AlarmExp& tree, const std::string& table) {
  // Leaf classes whose SQL selects other rows than evaluate accepts by design
  // (see the leaf headers), always or on some tables.
  struct Known { const char* cls; const char* why; bool eventLogOnly; };
  static const Known known[] = {
      {"LogTypeExp", "LOG: the SQL follows the tree's log type, not the values", false},
      {"TimeCondExp", "TIMECOND: filters in memory only (no SQL)", false},
      {"DelayDayExp", "DELAYDAY: filters in memory only (no SQL)", false},
      {"AlarmDurationExp", "DURATION: 'now' differs between the SQL and evaluate", false},
      {"ShieldFDNExp", "SHIELDFDN: filters in memory only (no SQL)", false},
      {"CategoryExp", "CATEGORY: no SQL on the event log", true},
      {"StatusExp", "STATUS: the SQL judges event rows (category 3) of the current and log tables as alarms, "
                    "selects every row of the event log and none of the other tables", false},
      {"ClearDateTimeExp", "CLEARTIME: selects nothing on the event log", true},
      {"AckDateTimeExp", "ACKTIME: selects nothing on the event log", true},
  };
  std::vector<const AlarmExp*> leaves;
  collectLeaves(&tree, leaves);
  std::vector<std::string> out;
  const bool eventLog = table == "tbl_event_log";
  for (const AlarmExp* leaf : leaves) {
    const std::string cls = leafClass(*leaf);
    for (const auto& k : known) {
      if (cls == k.cls && (!k.eventLogOnly || eventLog)) out.push_back(k.why);
    }
    auto* basic = dynamic_cast<const Kyrofm::BasicExp*>(leaf);
    if (basic != nullptr && (basic->getOperator() == 11 || basic->getOperator() == 12)) {
      out.push_back(basic->getCondName() + ": operators 11 and 12 are suffix/prefix matches in SQL only");
    }
  }
  return out;
}

void announceFdnWrites(const char* cmd) {
  std::fprintf(stderr,
               "fmctl %s: the FDN conditions write to database %s: the FDN manager tidies tbl_fdn_mgr when it "
               "starts, and large FDN sets go to temporary id tables (t_fdn_*, t_Nefdn_*) dropped at exit\n",
               cmd, databaseText().c_str());
}

bool hasFdnTempTables(const AlarmExp& tree) {
  std::vector<const AlarmExp*> leaves;
  collectLeaves(&tree, leaves);
  for (const AlarmExp* leaf : leaves) {
    const std::string cls = leafClass(*leaf);
    if (cls == "FDNExp" || cls == "NeObjectExp") return true;
  }
  return false;
}

}  // namespace fmctl
