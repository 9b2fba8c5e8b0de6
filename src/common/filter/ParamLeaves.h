// ParamLeaves.h: the filter leaves over the alarm key, the identifier bits
// and the numbered and extended parameters of the alarm record.
//
//   condition type  class            field of the record                 column
//   "INFO"          AlarmInfoExp     group id and alarm id (alarm key)   para6, Id
//   "IDENTIFIERS"   IdentifyExp      identifier bits of para8            para8 (bit test)
//   "PARAM"         ParamExp         numbered parameter i+1              para1 .. para10
//   "INTEXT"        IntExtParamExp   integer extended parameter (g, i)   the field property's column
//   "STREXT"        StrExtParamExp   string extended parameter (g, i)    the field property's column
//   "PARAM8BITAND"  Param8BitandExp  para8 under a bit mask              para8 (bit test)
//
// As in FieldLeaves.h: setFilter / setStringContent return false on values
// the leaf rejects and then leave it unchanged; evaluate and sqlWhereCond
// agree (the rows selected are the records accepted) except where a class
// comment names a difference. Bit tests are written in the dialect of the
// database: bitand(a, b) for client type 2, (a & b) otherwise.
//
// Threads: a leaf is filled by one thread; afterwards evaluate, sqlWhereCond
// and copy may run from several threads at once.
#ifndef FM_FILTER_PARAMLEAVES_H
#define FM_FILTER_PARAMLEAVES_H

#include <list>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/filter/LeafMatch.h"
#include "fm_common/fmcommon/FMValueTypes.h"

namespace Kyrofm {

// "INFO": alarm keys given as pairs of values (group id, alarm id). A key
// whose alarm id is -1 stands for the whole group, one whose group id is -1
// for that alarm id in every group; (-1, -1) stands for nothing. A record of a
// named group or alarm id is accepted; otherwise it is accepted when its full
// key is listed, or, under operator 2, when it is not. A leaf without keys
// accepts nothing. An odd number of values is rejected (and empties the leaf).
class AlarmInfoExp : public BasicExp {
 public:
  AlarmInfoExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  // The content split at ",", read as the value list.
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  // Group terms " para6 = g ", alarm terms " Id = a " and full-key terms
  // " (para6 = g and Id = a )" joined by " or " in key order; under operator 2
  // the full-key terms are " (para6 <> g or Id <> a )" joined by " and " into
  // one block placed after the others. Wrapped as " (" + text + ") ".
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_lstKeys.size()); }
  AlarmExp* copy() const override;

  const std::vector<AlarmInfo_t>& getKeys() const { return m_lstKeys; }

 private:
  AlarmInfoExp(const AlarmInfoExp&) = default;
  void clearKeys();

  std::vector<AlarmInfo_t> m_lstKeys;  // input order
  std::set<long> m_setGroups;          // keys (g, -1)
  std::set<long> m_setAlarmIds;        // keys (-1, a)
  std::set<std::pair<long, long>> m_setKeys;  // full keys (g, a)
};

// "IDENTIFIERS": identifier numbers n (1-based, each passing
// isAlmIdentifyValid) name the bits n-1 (modulo 32) of para8; a record is
// accepted when any of them is set, whatever the operator. A leaf without
// bits accepts nothing. The SQL is the same bit test on para8, in the
// database's dialect: a list of the para8 values below 8 (32 on other tables)
// that carry one of the bits would miss every larger or negative para8 and
// select every row for a bit beyond that width.
class IdentifyExp : public BasicExp {
 public:
  IdentifyExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override { return (record.getParam(8) & m_lMask) != 0; }
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_setBits.size()); }
  AlarmExp* copy() const override;

  const std::set<long>& getBits() const { return m_setBits; }

 private:
  IdentifyExp(const IdentifyExp&) = default;
  std::set<long> m_setBits;  // bit indexes 0..31
  long m_lMask = 0;          // the bits as a mask
};

// "PARAM": the first value is the parameter index i (0-based, 0..9), the
// others the values that parameter i+1 is tested against. Without values a
// record is accepted when that parameter is nonzero, but the SQL writes no
// condition (every row). An empty list is logged and accepted: no condition.
class ParamExp : public BasicExp {
 public:
  ParamExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  // The content split at ",", read as the value list.
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  // 1 for no values or 240 and more, else the number of values.
  long getSqlWhereCondLimitCount() const override;
  AlarmExp* copy() const override;

  long getIndex() const { return m_lIndex; }
  const std::set<long>& getValues() const { return m_setValues; }

 private:
  ParamExp(const ParamExp&) = default;
  long m_lIndex = -1;  // -1: no parameter named
  std::set<long> m_setValues;
  IntValueMatch m_match;  // the operator table over m_setValues
};

// "INTEXT": values group, index, then the values; the integer extended field
// (group, index) must have a field property (kind 6). Without values a record
// is accepted when the parameter is nonzero, and the SQL tests the column for
// <> 0. Fewer than two values or an unknown field are rejected. A leaf that
// names no field accepts nothing and writes " 0 > 1 ".
class IntExtParamExp : public BasicExp {
 public:
  IntExtParamExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override;
  AlarmExp* copy() const override;

 private:
  IntExtParamExp(const IntExtParamExp&) = default;
  long m_lGroup = -1;
  long m_lIndex = -1;
  std::set<long> m_setValues;
  IntValueMatch m_match;  // the operator table over m_setValues
};

// "STREXT": as IntExtParamExp for the string extended fields (kind 7). The
// field (1, 3) of an alarm (category 1) stands together with the field (1, 1):
// when the only value is the empty text, operator 1 accepts the alarm when
// both are empty and operator 2 when either is not; the SQL writes the pair
// rule with the category so that it holds for alarms only, on every table.
class StrExtParamExp : public BasicExp {
 public:
  StrExtParamExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override;
  AlarmExp* copy() const override;

 private:
  StrExtParamExp(const StrExtParamExp&) = default;
  bool pairsWithDevRoot() const;

  long m_lGroup = -1;
  long m_lIndex = -1;
  std::set<std::string> m_setValues;
  StrValueMatch m_match;  // the operator table over m_setValues
};

// "PARAM8BITAND": bit numbers 0..31 form a mask over para8. Operator 1
// accepts a record with none of the bits set, operator 2 one with some bit
// set (the operator table applied to para8 AND mask against {0}). An empty
// mask accepts every record and writes no SQL.
class Param8BitandExp : public BasicExp {
 public:
  Param8BitandExp(const std::string& condName, char op);
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return 1; }
  AlarmExp* copy() const override;

  long getMask() const { return m_lMask; }

 private:
  Param8BitandExp(const Param8BitandExp&) = default;
  long m_lMask = 0;
  IntValueMatch m_zero;  // the operator table over {0}
};

}  // namespace Kyrofm

#endif
