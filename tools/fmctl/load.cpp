// fmctl load: alarms of a text dump, or generated ones, into an alarm table.
//
// Everything that can be refused is refused before the database is opened:
// the arguments, the table, and the whole dump (one bad line refuses the
// file, so a table never holds half a dump). Then one line on stderr says
// what will be written where, and the records go in with one transaction
// (FMAlarmTableIO::writeRecords): all of them or none. --replace empties the
// table just before, in its own statement, once the FDN ids are settled.
#include <fstream>
#include <iostream>

#include "fm_common/fmcommon/AlarmTextDump.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fmctl.h"

namespace fmctl {
namespace {

constexpr const char* kCmd = "load";

using Kyrofm::AlmRecord_t;
using Kyrofmdb::FMAlarmTableIO;

// The largest Csn of table, 0 when it is empty.
long largestCsn(const std::string& table, long& csn) {
  std::vector<long> csns;
  const long rc = FMAlarmTableIO::selectCsns(table, "", csns);
  csn = csns.empty() ? 0 : csns.back();
  return rc;
}

}  // namespace

int runLoad(const std::vector<std::string>& args) {
  ParsedArgs a;
  if (int rc = parseArgs(kCmd, args,
                         {{"table", "t", true}, {"replace", nullptr, false}, {"keep-ids", nullptr, false},
                          {"generate", nullptr, true}, {"seed", nullptr, true}},
                         1, a)) {
    return rc;
  }
  const bool generate = a.has("generate");
  if (generate == !a.words.empty()) return usageError(kCmd, "give either a dump FILE or --generate N");
  long count = 0, seed = 1;
  if (generate && (!parseNumber(a.get("generate"), count) || count < 0)) {
    return usageError(kCmd, "--generate needs a count of 0 or more: " + a.get("generate"));
  }
  if (a.has("seed") && (!generate || !parseNumber(a.get("seed"), seed) || seed < 0)) {
    return usageError(kCmd, generate ? "--seed needs a number of 0 or more" : "--seed goes with --generate");
  }
  if (generate && a.has("keep-ids")) return usageError(kCmd, "--keep-ids goes with a dump FILE");
  if (!a.has("table") && !databaseNamed()) {
    return usageError(kCmd, "the site database " + databaseText() +
                                " is written only into a table you name: add -t TABLE (or name another "
                                "database with --db)");
  }
  const std::string table = a.get("table", "tbl_cur_alm");
  if (int rc = checkAlarmTable(kCmd, table)) return rc;

  std::vector<AlmRecord_t> alarms;
  if (!generate) {
    const std::string file = a.words.front();
    std::ifstream in;
    if (file != "-") {
      in.open(file, std::ios::binary);
      if (!in.is_open()) return reportFailure(kCmd, "cannot open " + file, Kyrofm::FM_INVALID_ARG);
    }
    std::string why;
    if (long rc = Kyrofm::readAlarmDump(file == "-" ? std::cin : in, alarms, why); rc != Kyrofm::FM_SUCCESS) {
      return reportFailure(kCmd, file + ": " + why + " (nothing written)", rc);
    }
  }

  const std::string db = databaseText();
  const std::string first = a.has("replace") ? "deleting every alarm of table " + table + ", then " : "";
  const size_t n = generate ? static_cast<size_t>(count) : alarms.size();
  std::fprintf(stderr, "fmctl load: %swriting %zu alarms into table %s of database %s (and their FDNs into %s)\n",
               first.c_str(), n, table.c_str(), db.c_str(), "tbl_fdn_mgr");
  if (long rc = Kyrofmdb::CDBMaintain::instance()->Init(2); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "cannot open the database " + db, rc);
  }
  if (generate) {
    long last = 0;  // a replaced table starts again at Csn 1
    if (long rc = a.has("replace") ? Kyrofm::FM_SUCCESS : largestCsn(table, last); rc != Kyrofm::FM_SUCCESS) {
      return reportFailure(kCmd, "cannot read the Csns of " + table, rc);
    }
    alarms = generateAlarms(count, static_cast<unsigned long>(seed), last + 1);
  }
  long changed = 0;
  if (!a.has("keep-ids")) {
    std::string failed;
    if (long rc = assignFdnIds(alarms, changed, failed); rc != Kyrofm::FM_SUCCESS) {
      return reportFailure(kCmd, "no FDN id for \"" + failed + "\" (no alarm written)", rc);
    }
  }
  if (a.has("replace")) {
    if (long rc = Kyrofmdb::CFMDBTools::ExecuteSQL("delete from " + table, 1, false); rc != Kyrofm::FM_SUCCESS) {
      return reportFailure(kCmd, "cannot empty " + table, rc);
    }
  }
  if (long rc = FMAlarmTableIO::writeRecords(table, alarms); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "writing into " + table + " failed (no alarm written" +
                                   std::string(a.has("replace") ? "; the table was emptied)" : ")"), rc);
  }
  std::printf("loaded %zu alarms into %s", alarms.size(), table.c_str());
  if (!alarms.empty()) std::printf(" (Csn %ld to %ld)", alarms.front().getLogId(), alarms.back().getLogId());
  std::printf("\n");
  if (!generate && changed > 0) {
    std::printf("%ld alarms carried FDN ids other than this database's; they now carry this database's ids\n",
                changed);
  }
  return 0;
}

}  // namespace fmctl
