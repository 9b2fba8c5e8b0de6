// fmctl query: one filter, both ways, on a real alarm table.
//
// The filter is built by the expression factory; its WHERE text and the
// ORDER BY text of the sort items (CreateQryOrderCond) select rows of the
// table, and the same tree's evaluate() decides every row of the table in
// memory. The two answers are compared by Csn (counting rows, so that a table
// holding a Csn twice is compared fairly). A disagreement is an error (exit
// 1) unless the tree holds a leaf whose SQL differs from evaluate() by design;
// those are named.
#include <algorithm>
#include <cstdio>
#include <map>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/filter/AlarmSortOrder.h"
#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMResult.h"
#include "fmctl.h"

namespace fmctl {
namespace {

constexpr const char* kCmd = "query";

using Kyrofm::AlmRecord_t;
using Kyrofmdb::FMAlarmTableIO;

// "ID", "ID:asc" or "ID:desc".
bool parseSortItem(const std::string& text, Kyrofm::FieldSortItem_t& item) {
  const size_t colon = text.find(':');
  const std::string order = colon == std::string::npos ? "asc" : text.substr(colon + 1);
  long id = 0;
  if (!parseNumber(text.substr(0, colon), id) || id < 0 || id > 0x7fffffffL) return false;
  if (order != "asc" && order != "desc") return false;
  item = Kyrofm::FieldSortItem_t(static_cast<int>(id), order == "asc" ? 1 : 0);
  return true;
}

struct Disagreement {
  long csn;
  long inMemory;  // rows of this Csn that evaluate() accepts
  long inSql;     // rows of this Csn that the SQL selects
};

}  // namespace

int runQuery(const std::vector<std::string>& args) {
  std::vector<OptionDef> defs = kFilterOptions;
  defs.insert(defs.end(), {{"table", "t", true}, {"sort", "s", true}, {"json", nullptr, false}});
  ParsedArgs a;
  if (int rc = parseArgs(kCmd, args, defs, 0, a)) return rc;
  FilterArgs filter;
  if (int rc = readFilterArgs(kCmd, a, filter)) return rc;
  if (filter.filters.empty()) return usageError(kCmd, "give at least one filter string with -f");
  const std::string table = a.get("table", "tbl_cur_alm");
  if (int rc = checkAlarmTable(kCmd, table)) return rc;
  std::vector<Kyrofm::FieldSortItem_t> items;
  for (const auto& s : a.all("sort")) {
    Kyrofm::FieldSortItem_t item;
    if (!parseSortItem(s, item)) return usageError(kCmd, "not a sort item ID[:asc|:desc]: '" + s + "'");
    items.push_back(item);
  }
  std::unique_ptr<Kyrofm::AlarmExp> tree = buildFilter(kCmd, filter, a.has("build-flag"));
  if (!tree) return 2;
  if (hasFdnTempTables(*tree)) {
    announceFdnWrites("query");
  }

  const std::string where = tree->sqlWhereCond(table);
  Kyrofmdb::CFMBulkReader reader;
  Kyrofm::CreateQryOrderCond(items, table, reader);
  const std::string orderBy = reader.getOrderByText();  // " order by a asc, ..." or ""
  const std::string orderCols = orderBy.empty() ? "Csn" : orderBy.substr(std::string(" order by ").size()) + ", Csn";

  std::vector<AlmRecord_t> selected, all;
  if (long rc = FMAlarmTableIO::readRecords(table, where, selected, orderCols); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "the WHERE text did not run on " + table + " of database " + databaseText(), rc);
  }
  if (long rc = FMAlarmTableIO::readRecords(table, "", all); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "cannot read " + table + " of database " + databaseText(), rc);
  }
  std::map<long, std::pair<long, long>> byCsn;  // Csn -> (accepted in memory, selected by SQL)
  long accepted = 0;
  for (const auto& r : all) {
    if (tree->evaluate(r)) {
      ++byCsn[r.getLogId()].first;
      ++accepted;
    }
  }
  for (const auto& r : selected) ++byCsn[r.getLogId()].second;
  std::vector<Disagreement> differ;
  for (const auto& [csn, n] : byCsn) {
    if (n.first != n.second) differ.push_back({csn, n.first, n.second});
  }
  const std::vector<std::string> documented = documentedDifferences(*tree, table);

  if (a.has("json")) {
    std::printf("{\"database\":%s,\"table\":%s,\"where\":%s,\"orderBy\":%s,\"rows\":%zu,\"evaluated\":%zu,"
                "\"acceptedInMemory\":%ld,\"matches\":[",
                jsonString(databaseText()).c_str(), jsonString(table).c_str(), jsonString(where).c_str(),
                jsonString(orderBy).c_str(), selected.size(), all.size(), accepted);
    for (size_t i = 0; i < selected.size(); ++i) {
      std::printf("%s%s", i ? "," : "", alarmJson(selected[i]).c_str());
    }
    std::printf("],\"disagreements\":[");
    for (size_t i = 0; i < differ.size(); ++i) {
      std::printf("%s{\"Csn\":%ld,\"evaluate\":%ld,\"sql\":%ld}", i ? "," : "", differ[i].csn, differ[i].inMemory,
                  differ[i].inSql);
    }
    std::printf("],\"documentedDifferences\":[");
    for (size_t i = 0; i < documented.size(); ++i) {
      std::printf("%s%s", i ? "," : "", jsonString(documented[i]).c_str());
    }
    std::printf("]}\n");
  } else {
    std::printf("Database: %s\nTable:    %s\n", databaseText().c_str(), table.c_str());
    std::printf("WHERE:   %s\n", where.empty() ? " (none: every row)" : where.c_str());
    std::printf("ORDER BY:%s\n", orderBy.empty() ? " (none; Csn)" : (orderBy.substr(9) + " (ties by Csn)").c_str());
    std::printf("\n%zu of %zu alarms selected by the SQL:\n", selected.size(), all.size());
    printAlarmTable(selected);
    std::printf("\nevaluate() accepts %ld of %zu alarms.\n", accepted, all.size());
    if (differ.empty()) {
      std::printf("Disagreements between evaluate() and the SQL: none\n");
    } else {
      std::printf("Disagreements between evaluate() and the SQL: %zu\n", differ.size());
      for (const auto& d : differ) {
        std::printf("  Csn %ld: evaluate %s, SQL %s\n", d.csn, d.inMemory ? "accepts" : "rejects",
                    d.inSql ? "selects" : "does not select");
      }
    }
    for (const auto& why : documented) std::printf("  documented difference: %s\n", why.c_str());
  }
  if (!differ.empty() && documented.empty()) {
    std::fprintf(stderr, "fmctl query: evaluate() and the SQL disagree on %zu alarms\n", differ.size());
    return 1;
  }
  return 0;
}

}  // namespace fmctl
