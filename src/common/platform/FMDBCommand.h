// FMDBCommand.h: SQL commands of the fault-management database library.
//
// SACommand runs one SQL text on a leased connection (FMDBMaintain.h):
//
//   SACommand cmd(conn, "select fdnid, fdnname from tbl_fdn_mgr where fdnid > :low");
//   cmd.setOption("PreFetchRows", "200");
//   cmd.Param("low").setAsLong() = 10;
//   cmd.Execute();
//   while (cmd.FetchNext()) { long id = cmd.Field("fdnid").asLong(); ... }
//
// Parameters are named in the text as ":name"; Param(name) and
// ParamByIndex(i) (0-based, in order of first appearance in the text) address
// them. Result columns are found by name (case-insensitively: PostgreSQL folds
// unquoted names to lower case) or by 1-based index. A NULL reads as 0 or "".
//
// Batch insert:
//   cmd.SetExecBatch(true); cmd.SetTable("tbl_fdn_mgr"); cmd.SetBatchMaxRowCount(n);
//   for each row: cmd.Param("fdnid").setAsLong() = id; cmd.Param("fdnname").setAsString() = s; cmd.EndRow();
//   cmd.Execute(n);  // RowsAffected() > 0 on success
//   cmd.SetExecBatch(false);
// The parameter names are the column names; a column missing from a row is NULL.
//
// Every failure throws SAException, and a failed statement marks the
// transaction scope of its connection: the scope rolls back and refuses
// further statements. A command is used by one thread at a time and must not
// outlive the transaction scope of its connection.
#ifndef FM_PLATFORM_FMDBCOMMAND_H
#define FM_PLATFORM_FMDBCOMMAND_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fm_common/platform/FMDBMaintain.h"

namespace Kyrofmdb {

// A value to bind: NULL, an integer or a text.
class SAParam {
 public:
  enum Type { TYPE_NULL, TYPE_LONG, TYPE_SHORT, TYPE_STRING };

  // Typed access for assignment: cmd.Param("x").setAsLong() = 5.
  long& setAsLong();
  short& setAsShort();
  std::string& setAsString();
  void setAsNull() { m_eType = TYPE_NULL; }

  Type type() const { return m_eType; }
  bool isNull() const { return m_eType == TYPE_NULL; }
  long long asLongLong() const;
  std::string asString() const;

 private:
  Type m_eType = TYPE_NULL;
  long m_lValue = 0;
  short m_sValue = 0;
  std::string m_strValue;
};

// One column value of the current row.
class SAField {
 public:
  SAField() = default;
  SAField(std::string name, bool isNull, bool isText, long long number, std::string text)
      : m_strName(std::move(name)), m_bNull(isNull), m_bText(isText), m_llNumber(number),
        m_strText(std::move(text)) {}

  const std::string& Name() const { return m_strName; }
  bool isNull() const { return m_bNull; }
  // The value as an integer: numbers as they are (reals truncated), texts read
  // as decimal (0 when not a number), NULL as 0.
  long asLong() const;
  short asShort() const { return static_cast<short>(asLong()); }
  long long asLongLong() const;
  // The value as text: numbers in decimal, NULL as "".
  std::string asString() const;

 private:
  std::string m_strName;
  bool m_bNull = true;
  bool m_bText = false;
  long long m_llNumber = 0;
  std::string m_strText;
};

class SACommand {
 public:
  SACommand();
  explicit SACommand(SAConnection* conn, const std::string& sql = std::string());
  ~SACommand();
  SACommand(const SACommand&) = delete;
  SACommand& operator=(const SACommand&) = delete;

  void setConnection(SAConnection* conn);
  // Sets the SQL text; forgets parameters and any open result.
  void setCommandText(const std::string& sql);
  const std::string& CommandText() const { return m_strSql; }
  // Options: "PreFetchRows" (rows fetched per round trip, advisory).
  void setOption(const std::string& name, const std::string& value);
  std::string Option(const std::string& name) const;

  // The parameter named name (":name" in the text; with batch mode the column).
  SAParam& Param(const std::string& name);
  // The i-th parameter of the text (0-based). Throws SAException when out of range.
  SAParam& ParamByIndex(int i);
  int ParamCount() const { return static_cast<int>(m_params.size()); }

  // Runs the text (batch mode: the collected rows). Throws SAException, also
  // for a text of several statements (only one runs per command).
  void Execute();
  // True when the executed text returns rows (select, with, values, pragma).
  bool isResultSet() const { return m_bResultSet; }
  // Moves to the next row; false after the last.
  bool FetchNext();
  const SAField& Field(const std::string& name) const;
  const SAField& Field(int index) const;  // 1-based
  int FieldCount() const { return static_cast<int>(m_fields.size()); }
  // Rows changed by the last Execute (batch: rows inserted).
  long RowsAffected() const { return m_lRowsAffected; }
  // Ends the result set and releases the statement.
  void Close();

  // Batch insert (see the top of this file).
  void SetExecBatch(bool batch);
  void SetTable(const std::string& table) { m_strTable = table; }
  void SetBatchMaxRowCount(int n);
  void EndRow();
  // Inserts the collected rows (rows is the number the caller collected; a
  // different count is logged and every collected row is inserted).
  void Execute(int rows);

 private:
  struct Statement;
  void requireConnection() const;
  void parsePlaceholders();
  void executeBatch(int rows);
  void loadRow();

  SAConnection* m_pConn = nullptr;
  std::string m_strSql;
  std::map<std::string, std::string> m_options;
  std::vector<std::string> m_paramNames;  // in order of appearance
  std::vector<std::unique_ptr<SAParam>> m_params;
  bool m_bMultiStatement = false;  // the text holds more than one statement
  std::unique_ptr<Statement> m_pStmt;
  bool m_bResultSet = false;
  bool m_bFirstFetched = false;
  bool m_bHaveRow = false;
  std::vector<SAField> m_fields;
  long m_lRowsAffected = 0;

  bool m_bBatch = false;
  std::string m_strTable;
  size_t m_nMaxRows = 0;
  std::vector<std::vector<std::pair<std::string, SAParam>>> m_rows;
};

// Bulk reader: a read of one table made of columns, a condition and ORDER BY
// entries, run through an SACommand with "PreFetchRows" 1000. The sort order
// helpers add their entries with AddOrderBy before the caller opens it.
class CFMBulkReader {
 public:
  enum OrderType { ORDER_ASC = 0, ORDER_DESC = 1 };

  void SetTable(const std::string& table) { m_strTable = table; }
  // Columns to read, in order; none reads "*".
  void AddColumn(const std::string& column) { m_columns.push_back(column); }
  // Condition text placed after "where" (empty: every row).
  void SetCondition(const std::string& condition) { m_strCondition = condition; }
  // One ORDER BY entry: columns is one column or a comma-separated list
  // ("IsConfirmed,IsCleared "), each of which is ordered by orderType.
  void AddOrderBy(const std::string& columns, int orderType);
  // The entries in the order they were added.
  const std::vector<std::pair<std::string, int>>& getOrderBy() const { return m_orderBy; }
  // " order by a asc, b desc", or "" without entries.
  std::string getOrderByText() const;
  std::string getSql() const;

  // Runs the read on conn. Throws SAException.
  void Open(SAConnection* conn);
  bool FetchNext() { return m_cmd.FetchNext(); }
  const SAField& Field(const std::string& name) const { return m_cmd.Field(name); }
  const SAField& Field(int index) const { return m_cmd.Field(index); }
  void Close() { m_cmd.Close(); }

 private:
  std::string m_strTable;
  std::vector<std::string> m_columns;
  std::string m_strCondition;
  std::vector<std::pair<std::string, int>> m_orderBy;
  SACommand m_cmd;
};

}  // namespace Kyrofmdb

#endif
