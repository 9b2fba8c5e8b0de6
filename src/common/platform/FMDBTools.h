// FMDBTools.h: table tools of the fault-management database library.
//
// Small operations on whole tables that many parts of the library need:
// existence, creation, dropping, emptying, counting, running a statement
// text, filling a one-column table with integers, and listing tables. Each
// runs through the connection guard (FMDBMaintain.h) in its own transaction
// scope and answers a result code: 33000 success, 33038 no database
// connection, 33021 a table name that is not a plain identifier, 33002 any
// other failure (logged with the operation's name).
//
// getFiltSql makes a value safe for an SQL literal; it agrees with the escape
// clause of KyroCommonUtils::getEscapeString() on SQLite and PostgreSQL.
//
// Table names are case-insensitive on both databases (PostgreSQL folds
// unquoted names to lower case, so getFMDbTables answers lower-case names
// there).
//
// Thread safety: the static functions may be called from any thread; an
// instance (a table definition under construction) belongs to one thread.
#ifndef FM_PLATFORM_FMDBTOOLS_H
#define FM_PLATFORM_FMDBTOOLS_H

#include <set>
#include <string>
#include <vector>

namespace Kyrofmdb {

class CFMDBTools {
 public:
  enum FiltKind {
    FILT_LITERAL = 0,  // text placed between single quotes after =, <>, <, >, <=, >=
    FILT_LIKE = 1,     // text placed inside a LIKE pattern followed by the escape clause
  };

  // Kind 0 doubles every single quote. Kind 1 also puts the escape character
  // '\' before every '\', '%' and '_', so that they match themselves.
  static std::string getFiltSql(const std::string& value, int kind);

  // bExist tells whether table exists. 33000, 33038, 33021 or 33002.
  static long IsTableExist(const std::string& table, bool& bExist);
  // True when table exists; false also when that cannot be found out.
  static bool IsTableExist(const std::string& table);
  // Drops table when it exists (33000 also when it did not).
  static long DropTable(const std::string& table);
  // Deletes every row of table (33002 when it does not exist).
  static long truncateTable(const std::string& table);

  // Table definition: add columns, then CreateTable. The columns are
  // forgotten after CreateTable, whatever its result.
  void AddLongColumn(const std::string& column);
  void AddStringColumn(const std::string& column, int length);
  // Creates table with the added columns unless it exists. 33021 without
  // columns or with a bad name.
  long CreateTable(const std::string& table);

  // Runs one statement text. retryTimes attempts are made while no
  // connection can be had or the database is busy (the statement has then
  // changed nothing); bIgnoreError true logs a failing statement at detail
  // level only and answers 33000. 33000, 33038 or 33002.
  static long ExecuteSQL(const std::string& sql, int retryTimes = 5, bool bIgnoreError = false);

  // Makes table a one-column table "id" holding exactly ids: created when
  // missing, emptied otherwise, then filled. True on success.
  static bool initTempTable(const std::set<long>& ids, const std::string& table);
  static bool initTempTable(const std::vector<long>& ids, const std::string& table);

  // count = the rows of table under condition, an SQL text appended after the
  // table name such as " where ExpTimeStamp<=0" (may be empty).
  static long getRecordCountOfTable(const std::string& table, long& count, const std::string& condition = "");

  // The tables whose names match likePattern, a LIKE pattern with '/' as its
  // escape character ("tbl/_id/_map%"), in name order.
  static long getFMDbTables(const std::string& likePattern, std::vector<std::string>& tables);

  // Whether the rows a user may see must be checked against the user's right
  // table rightTable (one column MOid of tbl_fdn_mgr ids, see
  // CFMDBSchema::rightTableDdl): 33000 "no need" when the table grants every
  // object, that is it holds the id that tbl_fdn_mgr gives the root FDN "*";
  // 33101 when it grants only the objects it lists (possibly none). 33038
  // without a connection; 33021 for a bad name; 33002 when the table does not
  // exist or cannot be read (logged).
  static long needCheckRight(const std::string& rightTable);

  // True when name is a plain identifier usable as a table name.
  static bool isValidTableName(const std::string& name);

 private:
  std::vector<std::string> m_columns;
};

}  // namespace Kyrofmdb

#endif
