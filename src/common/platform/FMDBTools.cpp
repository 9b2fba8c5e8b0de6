// FMDBTools.cpp: the table tools of the database library.
//
// Each tool is one guarded database use (CFMDBGuard::run) with the tool's name
// in its messages. Statements that depend on the product (catalog queries,
// emptying a table) are chosen by the pool's database type.
#include "fm_common/platform/FMDBTools.h"

#include <cctype>
#include <chrono>
#include <thread>

#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofmdb {
namespace {

constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;

bool checkName(const char* op, const std::string& table) {
  if (CFMDBTools::isValidTableName(table)) return true;
  FM_TRACE(Kyrofm::TRACE_ERROR, "%s: invalid table name [%s]", op, table.c_str());
  return false;
}

bool tableExists(SAConnection& conn, const std::string& table) {
  SACommand cmd(&conn);
  if (conn.getDBType() == FM_DBTYPE_POSTGRESQL) {
    cmd.setCommandText(
        "select count(*) from information_schema.tables where table_schema = current_schema() "
        "and table_name = lower(:t)");
  } else {
    cmd.setCommandText("select count(*) from sqlite_master where type = 'table' and lower(name) = lower(:t)");
  }
  cmd.Param("t").setAsString() = table;
  cmd.Execute();
  return cmd.FetchNext() && cmd.Field(1).asLong() > 0;
}

template <typename Container>
bool fillTempTable(const Container& ids, const std::string& table) {
  if (!checkName("CFMDBTools::initTempTable", table)) return false;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFMDBTools::initTempTable", Kyrofm::FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn);
                              if (tableExists(conn, table)) {
                                cmd.setCommandText("delete from " + table);
                              } else {
                                cmd.setCommandText("create table " + table + " (id BIGINT)");
                              }
                              cmd.Execute();
                              if (ids.empty()) return Kyrofm::FM_SUCCESS;
                              cmd.SetExecBatch(true);
                              cmd.SetTable(table);
                              cmd.SetBatchMaxRowCount(static_cast<int>(ids.size()));
                              for (long id : ids) {
                                cmd.Param("id").setAsLong() = id;
                                cmd.EndRow();
                              }
                              cmd.Execute(static_cast<int>(ids.size()));
                              cmd.SetExecBatch(false);
                              return cmd.RowsAffected() > 0 ? Kyrofm::FM_SUCCESS : Kyrofm::FM_FAILURE;
                            });
  if (rc != Kyrofm::FM_SUCCESS) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBTools::initTempTable %s fail, return %ld", table.c_str(), rc);
  }
  return rc == Kyrofm::FM_SUCCESS;
}

}  // namespace

std::string CFMDBTools::getFiltSql(const std::string& value, int kind) {
  std::string out;
  out.reserve(value.size() + 8);
  for (char c : value) {
    if (c == '\'') {
      out += "''";
      continue;
    }
    if (kind == FILT_LIKE &&
        (c == Kyrofm::KyroCommonUtils::LIKE_ESCAPE_CHAR || c == '%' || c == '_')) {
      out += Kyrofm::KyroCommonUtils::LIKE_ESCAPE_CHAR;
    }
    out += c;
  }
  return out;
}

bool CFMDBTools::isValidTableName(const std::string& name) {
  if (name.empty() || name.size() > 128) return false;
  if (!(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) return false;
  for (char c : name) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.')) return false;
  }
  return true;
}

long CFMDBTools::IsTableExist(const std::string& table, bool& bExist) {
  bExist = false;
  if (!checkName("CFMDBTools::IsTableExist", table)) return Kyrofm::FM_INVALID_ARG;
  bool exists = false;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFMDBTools::IsTableExist", Kyrofm::FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              exists = tableExists(conn, table);
                              return Kyrofm::FM_SUCCESS;
                            });
  if (rc == Kyrofm::FM_SUCCESS) bExist = exists;
  return rc;
}

bool CFMDBTools::IsTableExist(const std::string& table) {
  bool exists = false;
  return IsTableExist(table, exists) == Kyrofm::FM_SUCCESS && exists;
}

long CFMDBTools::DropTable(const std::string& table) {
  if (!checkName("CFMDBTools::DropTable", table)) return Kyrofm::FM_INVALID_ARG;
  return CFMDBGuard::run(__FILE__, __LINE__, "CFMDBTools::DropTable", Kyrofm::FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           SACommand cmd(&conn, "drop table if exists " + table);
                           cmd.Execute();
                           return Kyrofm::FM_SUCCESS;
                         });
}

long CFMDBTools::truncateTable(const std::string& table) {
  if (!checkName("CFMDBTools::truncateTable", table)) return Kyrofm::FM_INVALID_ARG;
  return CFMDBGuard::run(__FILE__, __LINE__, "CFMDBTools::truncateTable", Kyrofm::FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           SACommand cmd(&conn, conn.getDBType() == FM_DBTYPE_POSTGRESQL
                                                    ? "truncate table " + table
                                                    : "delete from " + table);
                           cmd.Execute();
                           return Kyrofm::FM_SUCCESS;
                         });
}

void CFMDBTools::AddLongColumn(const std::string& column) { m_columns.push_back(column + " BIGINT"); }

void CFMDBTools::AddStringColumn(const std::string& column, int length) {
  m_columns.push_back(column + " VARCHAR(" + std::to_string(length > 0 ? length : 255) + ")");
}

long CFMDBTools::CreateTable(const std::string& table) {
  std::vector<std::string> columns;
  columns.swap(m_columns);
  if (!checkName("CFMDBTools::CreateTable", table)) return Kyrofm::FM_INVALID_ARG;
  if (columns.empty()) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBTools::CreateTable %s: no columns", table.c_str());
    return Kyrofm::FM_INVALID_ARG;
  }
  for (const auto& c : columns) {
    if (!isValidTableName(c.substr(0, c.find(' ')))) {
      FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBTools::CreateTable %s: invalid column [%s]", table.c_str(), c.c_str());
      return Kyrofm::FM_INVALID_ARG;
    }
  }
  std::string sql = "create table if not exists " + table + " (";
  for (size_t i = 0; i < columns.size(); ++i) sql += (i ? ", " : "") + columns[i];
  sql += ")";
  return CFMDBGuard::run(__FILE__, __LINE__, "CFMDBTools::CreateTable", Kyrofm::FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           SACommand cmd(&conn, sql);
                           cmd.Execute();
                           return Kyrofm::FM_SUCCESS;
                         });
}

long CFMDBTools::ExecuteSQL(const std::string& sql, int retryTimes, bool bIgnoreError) {
  if (retryTimes < 1) retryTimes = 1;
  long rc = Kyrofm::FM_FAILURE;
  for (int attempt = 0; attempt < retryTimes; ++attempt) {
    bool busy = false;
    std::string error;
    rc = CFMDBGuard::run(__FILE__, __LINE__, "CFMDBTools::ExecuteSQL", Kyrofm::FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           SACommand cmd(&conn, sql);
                           try {
                             cmd.Execute();
                           } catch (const SAException& e) {
                             busy = e.ErrNativeCode() == kSqliteBusy || e.ErrNativeCode() == kSqliteLocked;
                             error = e.what();
                             return Kyrofm::FM_FAILURE;
                           }
                           return Kyrofm::FM_SUCCESS;
                         });
    if (rc == Kyrofm::FM_SUCCESS) return rc;
    if (rc == Kyrofm::FM_FAILURE && !busy) {
      if (bIgnoreError) {
        FM_TRACE(Kyrofm::TRACE_DETAIL, "CFMDBTools::ExecuteSQL, ignored error of [%s]: %s", sql.c_str(),
                 error.c_str());
        return Kyrofm::FM_SUCCESS;
      }
      FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBTools::ExecuteSQL fail, sql is: %s, error: %s", sql.c_str(),
               error.c_str());
      return rc;
    }
    if (busy) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBTools::ExecuteSQL fail after %d attempts, return %ld, sql is: %s",
           retryTimes, rc, sql.c_str());
  return rc;
}

bool CFMDBTools::initTempTable(const std::set<long>& ids, const std::string& table) {
  return fillTempTable(ids, table);
}

bool CFMDBTools::initTempTable(const std::vector<long>& ids, const std::string& table) {
  return fillTempTable(ids, table);
}

long CFMDBTools::getRecordCountOfTable(const std::string& table, long& count, const std::string& condition) {
  count = 0;
  if (!checkName("CFMDBTools::getRecordCountOfTable", table)) return Kyrofm::FM_INVALID_ARG;
  long n = 0;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFMDBTools::getRecordCountOfTable", Kyrofm::FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn, "select count(*) from " + table + condition);
                              cmd.Execute();
                              if (cmd.FetchNext()) n = cmd.Field(1).asLong();
                              return Kyrofm::FM_SUCCESS;
                            });
  if (rc == Kyrofm::FM_SUCCESS) count = n;
  return rc;
}

long CFMDBTools::needCheckRight(const std::string& rightTable) {
  if (!checkName("CFMDBTools::needCheckRight", rightTable)) return Kyrofm::FM_INVALID_ARG;
  return CFMDBGuard::run(__FILE__, __LINE__, "CFMDBTools::needCheckRight", Kyrofm::FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           if (!tableExists(conn, rightTable)) {
                             FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBTools::needCheckRight: no right table %s",
                                      rightTable.c_str());
                             return Kyrofm::FM_FAILURE;
                           }
                           SACommand cmd(&conn, "select count(*) from " + rightTable +
                                                    " r, tbl_fdn_mgr f where r.MOid = f.fdnid and "
                                                    "f.fdnname = '*'");
                           cmd.Execute();
                           const bool all = cmd.FetchNext() && cmd.Field(1).asLong() > 0;
                           return all ? Kyrofm::FM_SUCCESS : Kyrofm::FM_NO_RIGHT;
                         });
}

long CFMDBTools::getFMDbTables(const std::string& likePattern, std::vector<std::string>& tables) {
  tables.clear();
  std::vector<std::string> out;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFMDBTools::getFMDbTables", Kyrofm::FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn);
                              if (conn.getDBType() == FM_DBTYPE_POSTGRESQL) {
                                cmd.setCommandText(
                                    "select table_name from information_schema.tables where table_schema = "
                                    "current_schema() and table_name like lower(:p) escape '/' order by 1");
                              } else {
                                cmd.setCommandText(
                                    "select name from sqlite_master where type = 'table' and name like :p "
                                    "escape '/' order by 1");
                              }
                              cmd.Param("p").setAsString() = likePattern;
                              cmd.Execute();
                              while (cmd.FetchNext()) out.push_back(cmd.Field(1).asString());
                              return Kyrofm::FM_SUCCESS;
                            });
  if (rc == Kyrofm::FM_SUCCESS) tables.swap(out);
  return rc;
}

}  // namespace Kyrofmdb
