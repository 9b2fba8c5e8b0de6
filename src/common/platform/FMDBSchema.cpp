// FMDBSchema.cpp: the DDL of the fault-management tables, per database.
//
// The fixed tables are written out below; the alarm tables are made from the
// column map of FMAlarmTableIO so that table and record cannot drift apart.
// Integer columns are BIGINT on both databases (a record field is a 64-bit
// long), single-character fields SMALLINT, texts TEXT, except where a table's
// users bind 32- and 16-bit integers (tbl_alm_exp_info).
#include "fm_common/platform/FMDBSchema.h"

#include <soci/soci.h>

#include <sstream>

#include "fm_common/platform/FMAlarmTableIO.h"
#include "fm_common/platform/FMDBBackend.h"
#include "fm_common/platform/FMDBMaintain.h"

namespace Kyrofmdb {
namespace {

const char* kFixedTables = R"sql(CREATE TABLE IF NOT EXISTS tbl_fdn_mgr (
  fdnid BIGINT NOT NULL PRIMARY KEY,
  fdnname TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS idx_fdn_mgr_name ON tbl_fdn_mgr (fdnname);

CREATE TABLE IF NOT EXISTS tbl_fm_id (
  IdType INTEGER NOT NULL PRIMARY KEY,
  IdName VARCHAR(128) NOT NULL,
  MemMax INTEGER NOT NULL,
  DBMax INTEGER NOT NULL,
  DBTimer INTEGER NOT NULL
);
-- Kind 3 of the identifier allocator names temporary tables.
INSERT INTO tbl_fm_id (IdType, IdName, MemMax, DBMax, DBTimer) VALUES (3, 'TmpTableID', 0, 0, 0) ON CONFLICT DO NOTHING;

CREATE TABLE IF NOT EXISTS tbl_alarm_shield_rule (
  ID INTEGER NOT NULL PRIMARY KEY,
  RuleName VARCHAR(256),
  Enabled SMALLINT DEFAULT 1,
  Filter TEXT,
  Creator VARCHAR(128),
  CreateTime BIGINT DEFAULT 0,
  ModifyTime BIGINT DEFAULT 0
);

CREATE TABLE IF NOT EXISTS tbl_alm_exp_info (
  GroupID INTEGER NOT NULL,
  AlarmID INTEGER NOT NULL,
  ReasonID INTEGER NOT NULL,
  LinkType INTEGER DEFAULT 0,
  ExpTimeStamp INTEGER DEFAULT 0,
  OperationType INTEGER DEFAULT 0,
  ReasonType INTEGER DEFAULT 0,
  RelativeAlmID INTEGER DEFAULT 0,
  ClearStrategy INTEGER DEFAULT 0,
  MergeStrategy INTEGER DEFAULT 0,
  Category SMALLINT DEFAULT 0,
  AlarmLevel SMALLINT DEFAULT 0,
  AlarmType SMALLINT DEFAULT 0,
  DefineField SMALLINT DEFAULT 0,
  ClearCategory SMALLINT DEFAULT 0,
  AlarmName TEXT,
  Explain TEXT,
  ClearAdvice TEXT,
  ExpFormat TEXT,
  AlarmGroupLabel TEXT,
  Meaning TEXT,
  PRIMARY KEY (GroupID, AlarmID, ReasonID)
);
CREATE INDEX IF NOT EXISTS idx_alm_exp_info_ts ON tbl_alm_exp_info (ExpTimeStamp);

CREATE TABLE IF NOT EXISTS tbl_alm_exp_reason (
  GroupID INTEGER NOT NULL,
  ReasonID INTEGER NOT NULL,
  Explain TEXT,
  ClearAdvice TEXT,
  PRIMARY KEY (GroupID, ReasonID)
);
)sql";

const char* sqlType(FMAlarmColumn::Type type) {
  switch (type) {
    case FMAlarmColumn::LONG: return "BIGINT";
    case FMAlarmColumn::SHORT: return "SMALLINT";
    default: return "TEXT";
  }
}

}  // namespace

const std::vector<std::string>& CFMDBSchema::alarmTables() {
  static const std::vector<std::string> tables = {"tbl_cur_alm", "tbl_alm_log", "tbl_event_log", "tbl_mask_alm",
                                                  "tbl_his_alm"};
  return tables;
}

std::string CFMDBSchema::alarmTableDdl(const std::string& table, int /*dbType*/) {
  std::ostringstream os;
  os << "CREATE TABLE IF NOT EXISTS " << table << " (\n";
  const auto& cols = FMAlarmTableIO::columns();
  for (size_t i = 0; i < cols.size(); ++i) {
    os << "  " << cols[i].name << ' ' << sqlType(cols[i].type) << (i + 1 < cols.size() ? ",\n" : "\n");
  }
  os << ");\n";
  os << "CREATE INDEX IF NOT EXISTS idx_" << table << "_csn ON " << table << " (Csn);\n";
  return os.str();
}

std::string CFMDBSchema::idMapTableDdl(const std::string& field, int /*dbType*/) {
  return "CREATE TABLE IF NOT EXISTS tbl_id_map_" + field +
         " (\n  Name VARCHAR(256) NOT NULL,\n  ID INTEGER NOT NULL PRIMARY KEY\n);\n";
}

std::string CFMDBSchema::rightTableDdl(const std::string& table, int /*dbType*/) {
  return "CREATE TABLE IF NOT EXISTS " + table + " (\n  MOid BIGINT NOT NULL PRIMARY KEY\n);\n";
}

std::string CFMDBSchema::getSchemaScript(int dbType) {
  std::ostringstream os;
  os << "-- Tables of the fault-management library ("
     << (dbType == FM_DBTYPE_POSTGRESQL ? "PostgreSQL" : "SQLite") << ").\n"
     << "-- Applied by the library on first use; statements end with ';' at the end of a line.\n"
     << "-- The alarm tables have one column per field of the alarm record.\n\n";
  os << kFixedTables << '\n';
  os << "-- Id map tables, one per field, made when a field needs one:\n"
     << "-- CREATE TABLE IF NOT EXISTS tbl_id_map_<field> (Name VARCHAR(256) NOT NULL, ID INTEGER NOT NULL PRIMARY KEY);\n\n";
  os << "-- Right tables, one per user, named by the client registry; they list the\n"
     << "-- tbl_fdn_mgr ids of the objects the user may see (the id of '*': all of them):\n"
     << "-- CREATE TABLE IF NOT EXISTS <right table> (MOid BIGINT NOT NULL PRIMARY KEY);\n\n";
  for (const auto& t : alarmTables()) os << alarmTableDdl(t, dbType) << '\n';
  return os.str();
}

std::vector<std::string> CFMDBSchema::splitStatements(const std::string& script) {
  std::vector<std::string> out;
  std::istringstream is(script);
  std::string line;
  std::string current;
  while (std::getline(is, line)) {
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line.compare(first, 2, "--") == 0) continue;
    size_t last = line.find_last_not_of(" \t\r");
    if (line[last] == ';') {
      current += line.substr(0, last);
      out.push_back(current);
      current.clear();
    } else {
      current += line + '\n';
    }
  }
  if (current.find_first_not_of(" \t\n") != std::string::npos) out.push_back(current);
  return out;
}

void CFMDBSchema::apply(soci::session& session, int dbType) {
  for (const auto& stmt : splitStatements(getSchemaScript(dbType))) {
    try {
      session << stmt;
    } catch (...) {
      fmdbRethrow("CFMDBSchema::apply");
    }
  }
}

}  // namespace Kyrofmdb
