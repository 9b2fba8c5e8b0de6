// fmctl dump: the alarms of a table as a text dump (AlarmTextDump.h).
//
// The rows are read first (all of them, or those the filter's SQL selects,
// in Csn order) and checked: the dump layout has no escaping, so a text that
// holds "||" or a line end, or ends with '|', would not read back. Such an
// alarm stops the command before anything is written, unless --skip-unsafe
// leaves it out. Only then is the output opened, so a refused dump never
// leaves a half-written file.
#include <cstdio>
#include <fstream>
#include <iostream>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/fmcommon/AlarmTextDump.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMResult.h"
#include "fmctl.h"

namespace fmctl {
namespace {

constexpr const char* kCmd = "dump";

using Kyrofm::AlmRecord_t;

bool writeDump(std::ostream& out, const std::vector<AlmRecord_t>& alarms) {
  if (!Kyrofm::writeAlarmColumns(out)) return false;
  out.put('\n');
  for (const auto& a : alarms) {
    if (!Kyrofm::writeAlarmRecord(out, a)) return false;
    out.put('\n');
  }
  out.flush();
  return out.good();
}

}  // namespace

int runDump(const std::vector<std::string>& args) {
  std::vector<OptionDef> defs = kFilterOptions;
  defs.insert(defs.end(), {{"table", "t", true}, {"output", "o", true}, {"skip-unsafe", nullptr, false}});
  ParsedArgs a;
  if (int rc = parseArgs(kCmd, args, defs, 0, a)) return rc;
  FilterArgs filter;
  if (int rc = readFilterArgs(kCmd, a, filter)) return rc;
  const std::string table = a.get("table", "tbl_cur_alm");
  if (int rc = checkAlarmTable(kCmd, table)) return rc;

  std::string where;
  if (!filter.filters.empty() || !filter.criterion.empty()) {
    std::unique_ptr<Kyrofm::AlarmExp> tree = buildFilter(kCmd, filter, a.has("build-flag"));
    if (!tree) return 2;
    if (hasFdnTempTables(*tree)) {
      announceFdnWrites("dump");
    }
    where = tree->sqlWhereCond(table);
  }
  std::vector<AlmRecord_t> alarms;
  if (long rc = Kyrofmdb::FMAlarmTableIO::readRecords(table, where, alarms); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "cannot read " + table + " of database " + databaseText(), rc);
  }
  std::vector<AlmRecord_t> safe;
  safe.reserve(alarms.size());
  for (auto& alarm : alarms) {
    std::string why;
    if (Kyrofm::checkAlarmDumpRecord(alarm, why) == Kyrofm::FM_SUCCESS) {
      safe.push_back(std::move(alarm));
    } else if (a.has("skip-unsafe")) {
      std::fprintf(stderr, "fmctl dump: left out %s\n", why.c_str());
    } else {
      return reportFailure(kCmd, "the dump cannot carry " + why +
                                     " (nothing written; --skip-unsafe leaves such alarms out)",
                           Kyrofm::FM_INVALID_ARG);
    }
  }
  const std::string file = a.get("output");
  bool ok = false;
  if (file.empty() || file == "-") {
    ok = writeDump(std::cout, safe);
  } else {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return reportFailure(kCmd, "cannot open " + file + " for writing", Kyrofm::FM_FAILURE);
    ok = writeDump(out, safe);
  }
  if (!ok) return reportFailure(kCmd, "writing the dump failed", Kyrofm::FM_FAILURE);
  std::fprintf(stderr, "fmctl dump: %zu alarms of %s written%s%s\n", safe.size(), table.c_str(),
               file.empty() || file == "-" ? "" : " to ", file.empty() || file == "-" ? "" : file.c_str());
  return 0;
}

}  // namespace fmctl
