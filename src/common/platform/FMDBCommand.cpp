// FMDBCommand.cpp: SQL commands over SOCI statements.
//
// Each Execute prepares a fresh SOCI statement, binds the parameters by name
// (values live in the command, so they stay valid while the statement runs),
// and for a result set binds a dynamic soci::row whose values are copied into
// SAField objects one row at a time. Batch mode prepares one INSERT and runs
// it once per collected row inside the caller's transaction.
#include "fm_common/platform/FMDBCommand.h"

#include <soci/soci.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <deque>

#include "fm_common/platform/FMDBBackend.h"

namespace Kyrofmdb {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// True when the text returns rows: it starts with one of these keywords.
bool returnsRows(const std::string& sql) {
  size_t i = 0;
  while (i < sql.size()) {
    if (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '(') {
      ++i;
    } else if (sql.compare(i, 2, "--") == 0) {
      size_t e = sql.find('\n', i);
      i = e == std::string::npos ? sql.size() : e + 1;
    } else {
      break;
    }
  }
  size_t j = i;
  while (j < sql.size() && isIdentChar(sql[j])) ++j;
  std::string word = lower(sql.substr(i, j - i));
  return word == "select" || word == "with" || word == "values" || word == "pragma" ||
         word == "show" || word == "explain";
}

}  // namespace

// ---------------------------------------------------------------------------
// SAParam

long& SAParam::setAsLong() {
  m_eType = TYPE_LONG;
  return m_lValue;
}

short& SAParam::setAsShort() {
  m_eType = TYPE_SHORT;
  return m_sValue;
}

std::string& SAParam::setAsString() {
  m_eType = TYPE_STRING;
  return m_strValue;
}

long long SAParam::asLongLong() const {
  switch (m_eType) {
    case TYPE_LONG: return m_lValue;
    case TYPE_SHORT: return m_sValue;
    case TYPE_STRING: return std::strtoll(m_strValue.c_str(), nullptr, 10);
    default: return 0;
  }
}

std::string SAParam::asString() const {
  switch (m_eType) {
    case TYPE_LONG: return std::to_string(m_lValue);
    case TYPE_SHORT: return std::to_string(m_sValue);
    case TYPE_STRING: return m_strValue;
    default: return std::string();
  }
}

// ---------------------------------------------------------------------------
// SAField

long long SAField::asLongLong() const {
  if (m_bNull) return 0;
  if (m_bText) return std::strtoll(m_strText.c_str(), nullptr, 10);
  return m_llNumber;
}

long SAField::asLong() const { return static_cast<long>(asLongLong()); }

std::string SAField::asString() const {
  if (m_bNull) return std::string();
  if (m_bText) return m_strText;
  return std::to_string(m_llNumber);
}

// ---------------------------------------------------------------------------
// SACommand

// The SOCI statement of one Execute and the storage its bindings point to.
struct SACommand::Statement {
  explicit Statement(soci::session& s) : stmt(s) {}
  soci::statement stmt;
  soci::row row;
  std::deque<long long> numbers;
  std::deque<std::string> texts;
  std::deque<soci::indicator> indicators;
  std::map<std::string, int> columnIndex;  // lower-cased name -> 0-based column
};

SACommand::SACommand() = default;

SACommand::SACommand(SAConnection* conn, const std::string& sql) : m_pConn(conn) {
  setCommandText(sql);
}

SACommand::~SACommand() { Close(); }

void SACommand::setConnection(SAConnection* conn) {
  Close();
  m_pConn = conn;
}

void SACommand::setCommandText(const std::string& sql) {
  Close();
  m_strSql = sql;
  m_bMultiStatement = false;
  m_paramNames.clear();
  m_params.clear();
  parsePlaceholders();
}

void SACommand::setOption(const std::string& name, const std::string& value) { m_options[name] = value; }

std::string SACommand::Option(const std::string& name) const {
  auto it = m_options.find(name);
  return it == m_options.end() ? std::string() : it->second;
}

void SACommand::parsePlaceholders() {
  const std::string& s = m_strSql;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '\'' || c == '"') {  // quoted literal or identifier; doubled quotes stay inside
      size_t j = i + 1;
      while (j < s.size()) {
        if (s[j] == c) {
          if (j + 1 < s.size() && s[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      i = j + 1;
    } else if (c == ';') {
      // A second statement after ';' would be ignored silently by SQLite and
      // refused by PostgreSQL: refuse it on both (see Execute).
      size_t next = s.find_first_not_of(" \t\r\n;", i + 1);
      if (next != std::string::npos) m_bMultiStatement = true;
      ++i;
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      size_t e = s.find('\n', i);
      i = e == std::string::npos ? s.size() : e + 1;
    } else if (c == ':' && i + 1 < s.size() && s[i + 1] == ':') {
      i += 2;  // PostgreSQL cast
    } else if (c == ':' && i + 1 < s.size() &&
               (std::isalpha(static_cast<unsigned char>(s[i + 1])) || s[i + 1] == '_')) {
      size_t j = i + 1;
      while (j < s.size() && isIdentChar(s[j])) ++j;
      std::string name = s.substr(i + 1, j - i - 1);
      if (std::find(m_paramNames.begin(), m_paramNames.end(), name) == m_paramNames.end()) {
        m_paramNames.push_back(name);
        m_params.push_back(std::make_unique<SAParam>());
      }
      i = j;
    } else {
      ++i;
    }
  }
}

SAParam& SACommand::Param(const std::string& name) {
  for (size_t i = 0; i < m_paramNames.size(); ++i) {
    if (m_paramNames[i] == name) return *m_params[i];
  }
  if (!m_bBatch) throw SAException("SACommand::Param, no parameter :" + name + " in: " + m_strSql);
  m_paramNames.push_back(name);  // batch mode: a new column
  m_params.push_back(std::make_unique<SAParam>());
  return *m_params.back();
}

SAParam& SACommand::ParamByIndex(int i) {
  if (i < 0 || static_cast<size_t>(i) >= m_params.size()) {
    throw SAException("SACommand::ParamByIndex, no parameter " + std::to_string(i) + " in: " + m_strSql);
  }
  return *m_params[static_cast<size_t>(i)];
}

void SACommand::requireConnection() const {
  if (m_pConn == nullptr || !m_pConn->isConnected()) throw SAException("SACommand: no connection");
  if (m_pConn->hasFailed()) {
    throw SAException("SACommand: an earlier statement of this transaction failed; statement refused");
  }
}

void SACommand::Close() {
  m_pStmt.reset();
  m_bResultSet = false;
  m_bHaveRow = false;
  m_bFirstFetched = false;
  m_fields.clear();
}

void SACommand::Execute() {
  if (m_bBatch) {
    executeBatch(static_cast<int>(m_rows.size()));
    return;
  }
  requireConnection();
  Close();
  m_lRowsAffected = 0;
  if (m_bMultiStatement) throw SAException("SACommand::Execute, one statement per command: " + m_strSql);
  m_bResultSet = returnsRows(m_strSql);
  m_pConn->prepareStatement(!m_bResultSet);
  try {
    m_pStmt = std::make_unique<Statement>(m_pConn->session());
    Statement& st = *m_pStmt;
    if (m_bResultSet) st.stmt.exchange(soci::into(st.row));
    for (size_t i = 0; i < m_params.size(); ++i) {
      const SAParam& p = *m_params[i];
      st.indicators.push_back(p.isNull() ? soci::i_null : soci::i_ok);
      if (p.type() == SAParam::TYPE_STRING) {
        st.texts.push_back(p.asString());
        st.stmt.exchange(soci::use(st.texts.back(), st.indicators.back(), m_paramNames[i]));
      } else {
        st.numbers.push_back(p.asLongLong());
        st.stmt.exchange(soci::use(st.numbers.back(), st.indicators.back(), m_paramNames[i]));
      }
    }
    st.stmt.alloc();
    st.stmt.prepare(m_strSql, soci::details::st_one_time_query);
    st.stmt.define_and_bind();
    bool got = st.stmt.execute(true);
    if (m_bResultSet) {
      m_bHaveRow = got;
      for (std::size_t c = 0; c < st.row.size(); ++c) {
        st.columnIndex.emplace(lower(st.row.get_properties(c).get_name()), static_cast<int>(c));
      }
    } else {
      m_lRowsAffected = static_cast<long>(st.stmt.get_affected_rows());
    }
  } catch (...) {
    m_pStmt.reset();
    m_bResultSet = false;
    m_pConn->markFailed();
    fmdbRethrow(("SACommand::Execute [" + m_strSql + "]").c_str());
  }
}

void SACommand::loadRow() {
  Statement& st = *m_pStmt;
  m_fields.clear();
  m_fields.reserve(st.row.size());
  for (std::size_t c = 0; c < st.row.size(); ++c) {
    const soci::column_properties& props = st.row.get_properties(c);
    const std::string& name = props.get_name();
    if (st.row.get_indicator(c) == soci::i_null) {
      m_fields.emplace_back(name, true, false, 0, std::string());
      continue;
    }
    switch (props.get_data_type()) {
      case soci::dt_integer:
        m_fields.emplace_back(name, false, false, st.row.get<int>(c), std::string());
        break;
      case soci::dt_long_long:
        m_fields.emplace_back(name, false, false, st.row.get<long long>(c), std::string());
        break;
      case soci::dt_unsigned_long_long:
        m_fields.emplace_back(name, false, false,
                              static_cast<long long>(st.row.get<unsigned long long>(c)), std::string());
        break;
      case soci::dt_double: {
        double d = st.row.get<double>(c);
        m_fields.emplace_back(name, false, false, static_cast<long long>(d), std::string());
        break;
      }
      case soci::dt_date: {
        std::tm tm = st.row.get<std::tm>(c);
        char buf[32];
        std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
        m_fields.emplace_back(name, false, true, 0, buf);
        break;
      }
      default:
        m_fields.emplace_back(name, false, true, 0, st.row.get<std::string>(c));
        break;
    }
  }
}

bool SACommand::FetchNext() {
  if (!m_bResultSet || !m_pStmt) return false;
  try {
    if (!m_bFirstFetched) {
      m_bFirstFetched = true;
    } else if (m_bHaveRow) {
      m_bHaveRow = m_pStmt->stmt.fetch();
    }
    if (!m_bHaveRow) {
      m_fields.clear();
      return false;
    }
    loadRow();
    return true;
  } catch (...) {
    m_bHaveRow = false;
    if (m_pConn) m_pConn->markFailed();
    fmdbRethrow(("SACommand::FetchNext [" + m_strSql + "]").c_str());
  }
}

const SAField& SACommand::Field(const std::string& name) const {
  if (m_pStmt) {
    auto it = m_pStmt->columnIndex.find(lower(name));
    if (it != m_pStmt->columnIndex.end() && static_cast<size_t>(it->second) < m_fields.size()) {
      return m_fields[static_cast<size_t>(it->second)];
    }
  }
  throw SAException("SACommand::Field, no column " + name + " in the current row of: " + m_strSql);
}

const SAField& SACommand::Field(int index) const {
  if (index < 1 || static_cast<size_t>(index) > m_fields.size()) {
    throw SAException("SACommand::Field, no column " + std::to_string(index) + " in the current row of: " +
                      m_strSql);
  }
  return m_fields[static_cast<size_t>(index - 1)];
}

// ---------------------------------------------------------------------------
// Batch insert

void SACommand::SetExecBatch(bool batch) {
  Close();
  m_bBatch = batch;
  m_rows.clear();
  m_paramNames.clear();
  m_params.clear();
  if (!batch) parsePlaceholders();
}

void SACommand::SetBatchMaxRowCount(int n) {
  m_nMaxRows = n > 0 ? static_cast<size_t>(n) : 0;
  m_rows.reserve(m_nMaxRows);
}

void SACommand::EndRow() {
  if (!m_bBatch) throw SAException("SACommand::EndRow outside batch mode");
  std::vector<std::pair<std::string, SAParam>> row;
  row.reserve(m_params.size());
  for (size_t i = 0; i < m_params.size(); ++i) {
    row.emplace_back(m_paramNames[i], *m_params[i]);
    m_params[i]->setAsNull();
  }
  m_rows.push_back(std::move(row));
}

void SACommand::Execute(int rows) {
  if (!m_bBatch) {
    Execute();
    return;
  }
  executeBatch(rows);
}

void SACommand::executeBatch(int rows) {
  requireConnection();
  Close();
  m_lRowsAffected = 0;
  if (m_strTable.empty()) throw SAException("SACommand: batch insert without a table");
  if (rows != static_cast<int>(m_rows.size())) {
    FM_TRACE(Kyrofm::TRACE_WARNING, "SACommand::Execute, batch on %s: %d rows announced, %d collected",
             m_strTable.c_str(), rows, static_cast<int>(m_rows.size()));
  }
  if (m_rows.empty()) return;
  // Columns in order of first appearance; a column is bound as text when any
  // row gives it a text.
  std::vector<std::string> columns;
  std::map<std::string, bool> isText;
  for (const auto& row : m_rows) {
    for (const auto& cell : row) {
      if (isText.find(cell.first) == isText.end()) {
        columns.push_back(cell.first);
        isText[cell.first] = false;
      }
      if (cell.second.type() == SAParam::TYPE_STRING) isText[cell.first] = true;
    }
  }
  const size_t ncols = columns.size();
  std::string head = "insert into " + m_strTable + " (";
  for (size_t i = 0; i < ncols; ++i) head += (i ? ", " : "") + columns[i];
  head += ") values ";
  // The column index of each cell, found once.
  std::vector<std::vector<std::pair<size_t, const SAParam*>>> cells;
  cells.reserve(m_rows.size());
  for (const auto& row : m_rows) {
    std::vector<std::pair<size_t, const SAParam*>> c;
    for (const auto& cell : row) {
      size_t i = static_cast<size_t>(std::find(columns.begin(), columns.end(), cell.first) - columns.begin());
      c.emplace_back(i, &cell.second);
    }
    cells.push_back(std::move(c));
  }
  // PostgreSQL: several rows per statement (one round trip each); SQLite runs
  // in process and takes one row per statement.
  const size_t perStmt =
      m_pConn->getDBType() == FM_DBTYPE_POSTGRESQL ? std::max<size_t>(1, std::min<size_t>(100, 20000 / ncols)) : 1;
  m_pConn->prepareStatement(true);
  std::string sql;
  try {
    std::unique_ptr<Statement> st;
    size_t stRows = 0;
    std::vector<long long*> num;
    std::vector<std::string*> txt;
    std::vector<soci::indicator*> ind;
    long total = 0;
    for (size_t r = 0; r < cells.size();) {
      size_t n = std::min(perStmt, cells.size() - r);
      if (!st || stRows != n) {
        st = std::make_unique<Statement>(m_pConn->session());
        stRows = n;
        num.assign(n * ncols, nullptr);
        txt.assign(n * ncols, nullptr);
        ind.assign(n * ncols, nullptr);
        sql = head;
        for (size_t k = 0; k < n; ++k) {
          sql += k ? ", (" : "(";
          for (size_t i = 0; i < ncols; ++i) {
            size_t slot = k * ncols + i;
            std::string name = "p" + std::to_string(slot);
            sql += (i ? ", :" : ":") + name;
            st->indicators.push_back(soci::i_null);
            ind[slot] = &st->indicators.back();
            if (isText[columns[i]]) {
              st->texts.emplace_back();
              txt[slot] = &st->texts.back();
              st->stmt.exchange(soci::use(*txt[slot], *ind[slot], name));
            } else {
              st->numbers.push_back(0);
              num[slot] = &st->numbers.back();
              st->stmt.exchange(soci::use(*num[slot], *ind[slot], name));
            }
          }
          sql += ")";
        }
        st->stmt.alloc();
        st->stmt.prepare(sql, soci::details::st_repeatable_query);
        st->stmt.define_and_bind();
      }
      for (size_t k = 0; k < n; ++k) {
        size_t base = k * ncols;
        for (size_t i = 0; i < ncols; ++i) *ind[base + i] = soci::i_null;
        for (const auto& cell : cells[r + k]) {
          if (cell.second->isNull()) continue;
          size_t slot = base + cell.first;
          *ind[slot] = soci::i_ok;
          if (txt[slot]) {
            *txt[slot] = cell.second->asString();
          } else {
            *num[slot] = cell.second->asLongLong();
          }
        }
      }
      st->stmt.execute(true);
      total += static_cast<long>(st->stmt.get_affected_rows());
      r += n;
    }
    m_lRowsAffected = total;
    m_rows.clear();
  } catch (...) {
    m_rows.clear();
    m_pConn->markFailed();
    fmdbRethrow(("SACommand::Execute batch [" + sql.substr(0, 200) + "]").c_str());
  }
}

// ---------------------------------------------------------------------------
// CFMBulkReader

void CFMBulkReader::AddOrderBy(const std::string& columns, int orderType) {
  m_orderBy.emplace_back(columns, orderType);
}

std::string CFMBulkReader::getOrderByText() const {
  std::string out;
  for (const auto& entry : m_orderBy) {
    size_t start = 0;
    while (start <= entry.first.size()) {
      size_t comma = entry.first.find(',', start);
      std::string col = entry.first.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      size_t b = col.find_first_not_of(" \t");
      size_t e = col.find_last_not_of(" \t");
      if (b != std::string::npos) {
        out += (out.empty() ? " order by " : ", ") + col.substr(b, e - b + 1) +
               (entry.second == ORDER_DESC ? " desc" : " asc");
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return out;
}

std::string CFMBulkReader::getSql() const {
  std::string sql = "select ";
  if (m_columns.empty()) sql += "*";
  for (size_t i = 0; i < m_columns.size(); ++i) sql += (i ? ", " : "") + m_columns[i];
  sql += " from " + m_strTable;
  if (!m_strCondition.empty()) sql += " where " + m_strCondition;
  return sql + getOrderByText();
}

void CFMBulkReader::Open(SAConnection* conn) {
  m_cmd.setConnection(conn);
  m_cmd.setCommandText(getSql());
  m_cmd.setOption("PreFetchRows", "1000");
  m_cmd.Execute();
}

}  // namespace Kyrofmdb
