// FieldLeaves.h: the filter leaves over one plain field of the alarm record.
//
//   condition type  class          field of the record            column
//   "CATEGORY"      CategoryExp    category (alarm/event flag)    Cat
//   "LOG"           LogTypeExp     log type derived from record   (Cat, from the tree's log type)
//   "LEVEL"         LevelExp       level (severity)               AlmLevel
//   "TYPE"          AlarmTypeExp   alarm type                     Type
//   "STATUS"        StatusExp      status code derived from flags IsConfirmed, IsCleared, Cat
//   "LINKTYPE"      LinkTypeExp    link type                      LinkType
//   "NETYPE"        AlmNETypeExp   NE type                        NEType
//   "CSN"           CsnExp         CSN (the record's log id)      Csn
//   "ALARMID"       AlarmIDExp     alarm id                       Id
//   "EXTENDINFO"    ExtendInfoExp  extend information text        ExtendInfo
//
// Each leaf takes its values either from a value list (setFilter) or from one
// content string split at "," (setStringContent); both return false on a value
// the leaf rejects and then leave the leaf exactly as it was (the new values
// are built aside and swapped in on success). evaluate() applies the leaf's
// operator code to the record's field (see AlarmExp.h); sqlWhereCond() writes
// the same condition on the column for the given alarm table, so that the
// rows it selects are the records evaluate() accepts, except where a class
// comment names a difference.
//
// Threads: a leaf is filled by one thread; afterwards evaluate, sqlWhereCond
// and copy may run from several threads at once.
#ifndef FM_FILTER_FIELDLEAVES_H
#define FM_FILTER_FIELDLEAVES_H

#include <functional>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/filter/LeafMatch.h"

namespace Kyrofm {

// Common body of the leaves over one integer field: an ascending set of
// values, read as whole decimal integers (a value that is not one is rejected
// and logged as "<class>::setFilter, invalid value: <text>").
class IntFieldExp : public BasicExp {
 public:
  // Stores selectAll; then reads every value and applies the class's check.
  // With the count rule of the class (countRule() > 0) a list of that many
  // distinct valid values covers every possible value: the leaf becomes
  // match-all and keeps no values.
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  // The content split at ","; empty pieces are skipped. Each piece must pass
  // the class's content check. True when values were stored (or the count
  // rule applied). A content leaf restricts by its values: the select-all
  // flag is cleared.
  bool setStringContent(const std::string& content) override;

  bool evaluate(const AlmRecord_t& record) const override { return m_match(fieldOf(record)); }
  std::string sqlWhereCond(const std::string& table) const override {
    return createIntSqlCond(table, column(), m_setValues);
  }
  // 0 unless a class counts its values.
  long getSqlWhereCondLimitCount() const override { return 0; }

  const std::set<long>& getValues() const { return m_setValues; }

 protected:
  IntFieldExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  IntFieldExp(const IntFieldExp&) = default;

  virtual const char* className() const = 0;
  virtual long fieldOf(const AlmRecord_t& record) const = 0;
  virtual const char* column() const = 0;
  // Validity check of a value of the value list / of the content (logged by
  // the check when it fails). Both accept every value by default.
  virtual bool checkFilterValue(long) const { return true; }
  virtual bool checkContentValue(long v) const { return checkFilterValue(v); }
  // Number of distinct values that cover every possible value; 0: no rule.
  virtual long countRule() const { return 0; }

  // Reads `text` as a whole decimal integer; logs and false when it is not.
  bool readValue(const std::string& text, const char* operation, long& value) const;
  // Installs a successfully built value set, applying the count rule, and
  // compiles the operator table for it.
  void install(std::set<long>& values);

  std::set<long> m_setValues;
  IntValueMatch m_match;  // the operator table over m_setValues
};

// "CATEGORY": the alarm's category (1 alarm, 3 event, ...). The value list is
// taken without checks and its select-all flag makes the leaf match-all; the
// content is checked with CAlmValidCheck::isCategoryValid. With the select-all
// flag set the leaf accepts every record and writes no SQL. On an event-log
// table it writes no SQL either (that table holds events only): there the rows
// selected are a superset of the records accepted.
class CategoryExp : public IntFieldExp {
 public:
  CategoryExp(const std::string& condName, char op) : IntFieldExp(condName, op) {}
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  AlarmExp* copy() const override;

 protected:
  const char* className() const override { return "CategoryExp"; }
  long fieldOf(const AlmRecord_t& r) const override { return r.getCategory(); }
  const char* column() const override { return "Cat"; }
  bool checkContentValue(long v) const override;
};

// "LOG": the log type of a record, 2 (event) for category 3, else 3 (history)
// when it is both cleared and acknowledged, else 1 (active). evaluate tests it
// against the values (an empty set accepts every record). The SQL does not use
// the values: it follows the tree's log type (setLogType): 2 writes no
// condition, 1, 3 and 5 write " Cat= 1"; any other log type is logged and
// taken as 2 on a table whose name contains "tbl_event_log", else 3. The SQL
// thus selects the rows of the log the caller reads, not the records evaluate
// accepts.
class LogTypeExp : public IntFieldExp {
 public:
  LogTypeExp(const std::string& condName, char op) : IntFieldExp(condName, op) {}
  std::string sqlWhereCond(const std::string& table) const override;
  AlarmExp* copy() const override;

  static long derivedLogType(const AlmRecord_t& record);

 protected:
  const char* className() const override { return "LogTypeExp"; }
  long fieldOf(const AlmRecord_t& r) const override { return derivedLogType(r); }
  const char* column() const override { return "Cat"; }
};

// "LEVEL": the alarm level, each value checked by isAlmLevelValid; as many
// distinct levels as CRecStringMap::getAlmLevelCount() make it match-all.
class LevelExp : public IntFieldExp {
 public:
  LevelExp(const std::string& condName, char op) : IntFieldExp(condName, op) {}
  // The field read directly (no call through fieldOf).
  bool evaluate(const AlmRecord_t& r) const override { return m_match(r.getLevel()); }
  AlarmExp* copy() const override;

 protected:
  LeafFieldTest fieldTest() const override { return {LeafFieldTest::LEVEL, &m_match}; }
  const char* className() const override { return "LevelExp"; }
  long fieldOf(const AlmRecord_t& r) const override { return r.getLevel(); }
  const char* column() const override { return "AlmLevel"; }
  bool checkFilterValue(long v) const override;
  long countRule() const override;
};

// "TYPE": the alarm type, each value checked by isAlmTypeValid; as many
// distinct types as CRecStringMap::getAlmTypeCount() make it match-all.
class AlarmTypeExp : public IntFieldExp {
 public:
  AlarmTypeExp(const std::string& condName, char op) : IntFieldExp(condName, op) {}
  bool evaluate(const AlmRecord_t& r) const override { return m_match(r.getAlarmType()); }
  AlarmExp* copy() const override;

 protected:
  LeafFieldTest fieldTest() const override { return {LeafFieldTest::ALARM_TYPE, &m_match}; }
  const char* className() const override { return "AlarmTypeExp"; }
  long fieldOf(const AlmRecord_t& r) const override { return r.getAlarmType(); }
  const char* column() const override { return "Type"; }
  bool checkFilterValue(long v) const override;
  long countRule() const override;
};

// "STATUS": the status code of a record: events (category 3) 7 when not
// acknowledged, 6 when acknowledged; alarms 1 (not acknowledged, not cleared),
// 2 (not acknowledged, cleared), 3 (acknowledged, not cleared), 4
// (acknowledged, cleared). A record with another flag value has no code and is
// rejected, unless the leaf has no values (accepts every record) or four
// values (taken as every status: accepts every record, writes no SQL).
// Content: the status words "NANR" 1, "NAYR" 2, "YANR" 3, "YAYR" 4, "YA" 6,
// "NA" 7, split at ","; other words are ignored.
// SQL: on the event log " ( 1 > 0 ) " (every row, whatever the values); on a
// table neither current, log nor event log " ( 0 > 1 ) "; on the current and
// log tables one term per status code that the leaf's operator accepts, joined
// by " or ". The alarm terms test the two flags, the event terms also the
// category: those tables hold alarms, and an event row in them is judged as an
// alarm by the alarm terms.
class StatusExp : public IntFieldExp {
 public:
  StatusExp(const std::string& condName, char op);
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_setValues.size()); }
  AlarmExp* copy() const override;

  // The status code of the record, 0 when its flags have no code.
  static long derivedStatus(const AlmRecord_t& record);

 protected:
  const char* className() const override { return "StatusExp"; }
  long fieldOf(const AlmRecord_t& r) const override { return derivedStatus(r); }
  const char* column() const override { return "IsConfirmed"; }
};

// "LINKTYPE": the link type; values taken unchecked.
class LinkTypeExp : public IntFieldExp {
 public:
  LinkTypeExp(const std::string& condName, char op) : IntFieldExp(condName, op) {}
  bool evaluate(const AlmRecord_t& r) const override { return m_match(r.getLinkType()); }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_setValues.size()); }
  AlarmExp* copy() const override;

 protected:
  LeafFieldTest fieldTest() const override { return {LeafFieldTest::LINK_TYPE, &m_match}; }
  const char* className() const override { return "LinkTypeExp"; }
  long fieldOf(const AlmRecord_t& r) const override { return r.getLinkType(); }
  const char* column() const override { return "LinkType"; }
};

// "NETYPE": the NE type; values pass isAlmIDValid (every value).
class AlmNETypeExp : public IntFieldExp {
 public:
  AlmNETypeExp(const std::string& condName, char op) : IntFieldExp(condName, op) {}
  bool evaluate(const AlmRecord_t& r) const override { return m_match(r.getNEType()); }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_setValues.size()); }
  AlarmExp* copy() const override;

 protected:
  LeafFieldTest fieldTest() const override { return {LeafFieldTest::NE_TYPE, &m_match}; }
  const char* className() const override { return "AlmNETypeExp"; }
  long fieldOf(const AlmRecord_t& r) const override { return r.getNEType(); }
  const char* column() const override { return "NEType"; }
  bool checkFilterValue(long v) const override;
};

// "CSN": the alarm's CSN (the record's log id); values pass isAlmCsnValid.
class CsnExp : public IntFieldExp {
 public:
  CsnExp(const std::string& condName, char op) : IntFieldExp(condName, op) {}
  bool evaluate(const AlmRecord_t& r) const override { return m_match(r.getLogId()); }
  long getSqlWhereCondLimitCount() const override { return 1; }
  AlarmExp* copy() const override;

 protected:
  LeafFieldTest fieldTest() const override { return {LeafFieldTest::LOG_ID, &m_match}; }
  const char* className() const override { return "CsnExp"; }
  long fieldOf(const AlmRecord_t& r) const override { return r.getLogId(); }
  const char* column() const override { return "Csn"; }
  bool checkFilterValue(long v) const override;
};

// "ALARMID": the alarm id; values pass isAlmIDValid (every value).
class AlarmIDExp : public IntFieldExp {
 public:
  AlarmIDExp(const std::string& condName, char op) : IntFieldExp(condName, op) {}
  bool evaluate(const AlmRecord_t& r) const override { return m_match(r.getAlarmId()); }
  long getSqlWhereCondLimitCount() const override { return 1; }
  AlarmExp* copy() const override;

 protected:
  LeafFieldTest fieldTest() const override { return {LeafFieldTest::ALARM_ID, &m_match}; }
  const char* className() const override { return "AlarmIDExp"; }
  long fieldOf(const AlmRecord_t& r) const override { return r.getAlarmId(); }
  const char* column() const override { return "Id"; }
  bool checkFilterValue(long v) const override;
};

// "EXTENDINFO": the extend information text. The value list is stored
// unchanged; the whole content is one value. An empty value stands for an
// empty text (a NULL column).
class ExtendInfoExp : public BasicExp {
 public:
  ExtendInfoExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return 0; }
  AlarmExp* copy() const override;

  const std::set<std::string>& getValues() const { return m_setValues; }

 private:
  ExtendInfoExp(const ExtendInfoExp&) = default;
  LeafFieldTest fieldTest() const override { return {LeafFieldTest::EXTEND_INFO, &m_match}; }
  std::set<std::string> m_setValues;
  StrValueMatch m_match;  // the operator table over m_setValues
};

namespace filterdetail {
// `s` in lower case (ASCII), for the case-insensitive table-name tests.
std::string lowered(const std::string& s);
// True when the lower-cased `table` contains / equals `name` (lower case).
bool tableContains(const std::string& table, const char* name);
bool tableEquals(const std::string& table, const char* name);
// make() with every exception logged under `what` and turned into null.
AlarmExp* guardedCopy(const char* what, const std::function<AlarmExp*()>& make);
// The pieces of a content string split at ",", trimmed, empty ones skipped.
std::vector<std::string> contentPieces(const std::string& content);
}  // namespace filterdetail

}  // namespace Kyrofm

#endif
