// FmFilterDiff.cpp: the differential harness of the filter leaves.
#include "support/FmFilterDiff.h"

#include <gtest/gtest.h>

#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBSchema.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmTestSupport.h"

namespace fmtest {

using Kyrofmdb::CDBMaintain;
using Kyrofmdb::CFMDBTools;

std::string useFilterDatabase(const std::string& backend) {
  static const std::string sqlite = sqliteTestUrl("filterdiff");
  std::string url = backend == "postgresql" ? postgresUrl() : sqlite;
  if (url.empty()) return "no PostgreSQL (run under scripts/with-postgres)";
  CDBMaintain::instance()->setDBUrl(url);
  if (CDBMaintain::instance()->Init(5) != Kyrofm::FM_SUCCESS) return "cannot open " + url;
  if (backend == "postgresql" &&
      CFMDBTools::ExecuteSQL("create or replace function bitand(bigint, bigint) returns bigint "
                             "as 'select $1 & $2' language sql immutable") != Kyrofm::FM_SUCCESS) {
    return "cannot create bitand";
  }
  return "";
}

FilterDiffTable::FilterDiffTable(std::string store, std::vector<Kyrofm::AlmRecord_t> records)
    : m_store(std::move(store)), m_records(std::move(records)) {
  if (CFMDBTools::DropTable(m_store) != Kyrofm::FM_SUCCESS) return;
  const int type = CDBMaintain::instance()->getDBType();
  for (const auto& stmt : Kyrofmdb::CFMDBSchema::splitStatements(Kyrofmdb::CFMDBSchema::alarmTableDdl(m_store, type))) {
    if (CFMDBTools::ExecuteSQL(stmt) != Kyrofm::FM_SUCCESS) return;
  }
  m_ok = Kyrofmdb::FMAlarmTableIO::writeRecords(m_store, m_records) == Kyrofm::FM_SUCCESS;
}

bool FilterDiffTable::intact() const {
  long count = -1;
  return m_ok && CFMDBTools::getRecordCountOfTable(m_store, count, "") == Kyrofm::FM_SUCCESS &&
         count == static_cast<long>(m_records.size());
}

std::set<long> FilterDiffTable::inMemory(const Kyrofm::AlarmExp& e) const {
  std::set<long> out;
  for (const auto& r : m_records) {
    if (e.evaluate(r)) out.insert(r.getLogId());
  }
  return out;
}

std::set<long> FilterDiffTable::inDatabase(const Kyrofm::AlarmExp& e, const std::string& asTable) const {
  return select(e.sqlWhereCond(asTable), asTable);
}

std::set<long> FilterDiffTable::select(const std::string& condition, const std::string& asTable) const {
  std::vector<long> csns;
  std::string from = asTable.empty() || asTable == m_store ? m_store : m_store + " AS " + asTable;
  EXPECT_EQ(Kyrofmdb::FMAlarmTableIO::selectCsns(from, condition, csns), Kyrofm::FM_SUCCESS)
      << condition.substr(0, 300);
  return std::set<long>(csns.begin(), csns.end());
}

}  // namespace fmtest
