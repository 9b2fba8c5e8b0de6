// FmFilterDiff.h: the differential harness of the filter leaves.
//
// A filter is right when the rows its sqlWhereCond text selects from an alarm
// table are exactly the records its evaluate accepts. FilterDiffTable writes a
// set of generated records once to a private table of the current database
// (other suites empty the real alarm tables) and answers both questions for a
// filter. inDatabase() hands the leaf the name of the real table it stands for
// ("tbl_cur_alm", "tbl_event_log", ...) and runs the text against the private
// copy aliased under that name ("from tbl_diff AS tbl_cur_alm"), so leaves that
// look at the table name or write it into their SQL are tested as deployed.
// A row is identified by its Csn column, which holds the record's LogId: the
// records given must have distinct LogIds.
#ifndef FM_TESTS_SUPPORT_FMFILTERDIFF_H
#define FM_TESTS_SUPPORT_FMFILTERDIFF_H

#include <set>
#include <string>
#include <vector>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/platform/AlmRecord.h"

namespace fmtest {

// Points the database layer at "sqlite" (one file per test process) or "postgresql" (the
// throw-away server) and registers the bitand function that the mod/bitand
// dialect needs on PostgreSQL. Returns the reason to skip, empty when ready.
std::string useFilterDatabase(const std::string& backend);

class FilterDiffTable {
 public:
  // Recreates `store` with the columns of an alarm table and writes `records`;
  // ok() tells whether that worked.
  FilterDiffTable(std::string store, std::vector<Kyrofm::AlmRecord_t> records);

  bool ok() const { return m_ok; }
  // True while the private table still holds every record (suites reuse one
  // table across their tests and rewrite it when it is gone).
  bool intact() const;
  const std::vector<Kyrofm::AlmRecord_t>& records() const { return m_records; }

  // LogIds of the records the filter accepts in memory.
  std::set<long> inMemory(const Kyrofm::AlarmExp& e) const;
  // LogIds of the rows its SQL selects when given the table name `asTable`.
  std::set<long> inDatabase(const Kyrofm::AlarmExp& e, const std::string& asTable) const;
  // LogIds of the rows a raw condition selects from the private table.
  std::set<long> select(const std::string& condition, const std::string& asTable = "") const;

 private:
  std::string m_store;
  std::vector<Kyrofm::AlmRecord_t> m_records;
  bool m_ok = false;
};

}  // namespace fmtest

#endif
