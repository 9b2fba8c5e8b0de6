// FMDBSchema.h: the tables of the fault-management database.
//
// The DDL of every table the library reads or writes lives here, per
// database product: the FDN table tbl_fdn_mgr, the identifier table tbl_fm_id,
// the shield rules tbl_alarm_shield_rule, the id map tables tbl_id_map_<field>
// (a template), the users' right tables (a template, named per user by the
// client registry), the explanation tables tbl_alm_exp_info and
// tbl_alm_exp_reason, and the alarm tables tbl_cur_alm, tbl_alm_log,
// tbl_event_log, tbl_mask_alm and tbl_his_alm, whose columns map one to one to
// the fields of AlmRecord_t (FMAlarmTableIO.h). The same text is shipped in
// sql/sqlite/fm_schema.sql and sql/postgresql/fm_schema.sql; a test keeps the
// files equal to what this code applies.
//
// Thread safety: all functions may be called from any thread; apply() uses
// the session it is given.
#ifndef FM_PLATFORM_FMDBSCHEMA_H
#define FM_PLATFORM_FMDBSCHEMA_H

#include <string>
#include <vector>

namespace soci {
class session;
}

namespace Kyrofmdb {

class CFMDBSchema {
 public:
  // The whole schema script of one database (1 SQLite, 3 PostgreSQL):
  // statements separated by ";" at the end of a line, "--" comment lines.
  static std::string getSchemaScript(int dbType);
  // The statements of a script, without comments and terminators.
  static std::vector<std::string> splitStatements(const std::string& script);
  // Creates the missing tables on session. Throws SAException.
  static void apply(soci::session& session, int dbType);

  // The names of the alarm tables.
  static const std::vector<std::string>& alarmTables();
  // CREATE TABLE IF NOT EXISTS of one alarm table with the columns of
  // FMAlarmTableIO, under any name (tests make private copies).
  static std::string alarmTableDdl(const std::string& table, int dbType);
  // CREATE TABLE IF NOT EXISTS of the id map table of one field:
  // tbl_id_map_<field> (Name text, ID integer).
  static std::string idMapTableDdl(const std::string& field, int dbType);
  // CREATE TABLE IF NOT EXISTS of a user's right table: the tbl_fdn_mgr ids
  // of the objects the user may see (MOid BIGINT, the key). The client
  // registry names one per user (CFMClientMgr::getTableName).
  static std::string rightTableDdl(const std::string& table, int dbType);
};

}  // namespace Kyrofmdb

#endif
