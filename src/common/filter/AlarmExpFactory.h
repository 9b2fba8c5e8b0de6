// AlarmExpFactory.h: builds one filter tree (AlarmExp) from a client's filter.
//
// A filter arrives either as a list of field conditions (FieldCond_t) or as a
// list of filter strings "name|type|content". Each condition becomes one named
// leaf; the leaves are then joined by AND in name order, or by a criterion: a
// boolean text over the condition names, for example "A AND (B OR NOT D)".
//
// Condition types (the field name of a FieldCond_t, the type part of a filter
// string), compared case-sensitively:
//
//   type            leaf class         operator: createSingle / createCommonExp
//   "CATEGORY"      CategoryExp        1 / the condition's
//   "LOG"           LogTypeExp         1 / the condition's
//   "TIME"          DateTimeExp        1, build flag / the condition's, false
//   "TIMECOND"      TimeCondExp        1, build flag / the condition's, false
//   "CLEARTIME"     ClearDateTimeExp   1, build flag / the condition's, false
//   "ACKTIME"       AckDateTimeExp     1, build flag / refused
//   "CSN"           CsnExp             1 / the condition's
//   "INFO"          AlarmInfoExp       1 / the condition's
//   "NE"            NeObjectExp        1 / the condition's
//   "FDN"           FDNExp             7 / the condition's
//   "SHIELDFDN"     ShieldFDNExp       7 / the condition's
//   "LEVEL"         LevelExp           1 / the condition's
//   "TYPE"          AlarmTypeExp       1 / the condition's
//   "NETYPE"        AlmNETypeExp       1 / the condition's
//   "SUSER"         UserExp            1 / the condition's
//   "USER"          DynamicUserExp     1 / the condition's
//   "STATUS"        StatusExp          1 / the condition's
//   "LINKFDN"       LinkObjectExp      1 / the condition's
//   "LINKTYPE"      LinkTypeExp        1 / the condition's
//   "EXTENDINFO"    ExtendInfoExp      1 / the condition's
//   "PARAM"         ParamExp           1 / the condition's
//   "IDENTIFIERS"   IdentifyExp        1 / the condition's
//   "INTEXT"        IntExtParamExp     2 with the build flag, else 1 / the condition's
//   "STREXT"        StrExtParamExp     1 / the condition's
//   "ALARMID"       AlarmIDExp         1 / the condition's
//   "DURATION"      AlarmDurationExp   1 / the condition's
//   "PARAM8BITAND"  Param8BitandExp    1 / the condition's
//   "TIMEMODE"      TimeModeExp        refused / the condition's, false
//   "DELAYDAY"      DelayDayExp        refused / the condition's
//   "CRITERION"     no leaf: the content (first value) is the criterion
//
// Criterion words: AND, OR, NOT (NOT binds tighter than AND, AND tighter than
// OR, AND and OR group from the left), TRUE, FALSE, CRITERION (true), "(" and
// ")"; every other word names a condition. Words are case-insensitive (the
// criterion is upper-cased, and so are the condition names it refers to). A
// condition may be named only once in a criterion; conditions the criterion
// does not name are dropped. An AND or OR one of whose operands is known to
// accept every alarm (AlarmExp::isMatchAll) is reduced to the operand that
// decides.
//
// Failures: every malformed input (unknown type, a value a leaf refuses, a
// criterion with an unknown or repeated name, a missing or surplus operand,
// unbalanced parentheses, no words at all, a filter string of no or more than
// three parts) gives null or false and one level-5 trace line; nothing is
// leaked and no partial tree is returned. The builder works with explicit
// stacks, so criteria of any length or nesting depth are safe.
//
// Threads: AlarmExpFactory's entry points may run on any thread at once; an
// AlarmExpFactoryImpl serves one build on one thread.
#ifndef FM_FILTER_ALARMEXPFACTORY_H
#define FM_FILTER_ALARMEXPFACTORY_H

#include <list>
#include <map>
#include <memory>
#include <string>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/fmcommon/FMValueTypes.h"
#include "fm_common/platform/AlmRecord.h"

namespace Kyrofm {

// Entry points of the factory. Stateless.
class AlarmExpFactory {
 public:
  // Builds the tree of a condition list; `selectAll` is handed to every
  // leaf's setFilter. An empty list gives ConstantExp(true). The conditions
  // are distributed first: the last "USER" condition counts; when it has a
  // value u, "USER,"+u is put in front of the values of every "FDN" and "NE"
  // condition, which then carry the user restriction instead of a USER leaf,
  // and the criterion loses its "USER AND" / "AND USER" parts (whole words,
  // any case); only the first "CRITERION" condition counts. The caller owns
  // the result; null on failure (logged).
  static AlarmExp* createCommonExp(const std::list<FieldCond_t>& conds, bool selectAll);

  // Builds the tree of a list of filter strings (see ExpStringFilter);
  // `buildFlag` is the time-window leaves' strict flag and chooses the
  // operator of "INTEXT". The long argument is not used. An empty list gives
  // ConstantExp(true). The caller owns the result; null on failure (logged).
  static AlarmExp* createByStrinFilter(const std::list<std::string>& filters, long unused, bool buildFlag);

  // The postfix words of a criterion as the factory evaluates them: the
  // criterion upper-cased and converted by PNChanger::toPostfix. True when
  // the words form one well-formed expression (every operator finds its
  // operands, exactly one result, no stray parenthesis); whether the names
  // exist is not checked. `words` is filled in both cases.
  static bool criterionWords(const std::string& criterion, std::list<std::string>& words);

  // Which condition decided `root`'s answer for `record`: the tree is
  // evaluated as evaluate() does (same order, same short cuts) and the last
  // leaf evaluated is the one whose answer, negated by the NOTs above it,
  // became the root's answer. Returns that leaf's condition name (BasicExp),
  // "TRUE" / "FALSE" for a ConstantExp, the empty text when no leaf was
  // evaluated (a combinator without children). `result` receives the root's
  // answer, equal to root.evaluate(record).
  static std::string decidingCondition(const AlarmExp& root, const AlmRecord_t& record, bool& result);
};

// The state of one build: the named leaves made so far and the criterion.
// Owns the leaves in its map until they move into a result; whatever is left
// is deleted by clearAlarmExpMap or by the destructor.
class AlarmExpFactoryImpl {
 public:
  // `selectAll` is passed as the second argument of every setFilter call.
  explicit AlarmExpFactoryImpl(bool selectAll = true);
  ~AlarmExpFactoryImpl();
  AlarmExpFactoryImpl(const AlarmExpFactoryImpl&) = delete;
  AlarmExpFactoryImpl& operator=(const AlarmExpFactoryImpl&) = delete;

  // Adds one leaf per condition (a condition without values adds
  // ConstantExp(true); a name already present keeps its first leaf, logged),
  // takes the criterion from a "CRITERION" condition, then returns
  // createByCriterion() or createByNoCriterion(). Null (map cleared) on an
  // unknown type or a value a leaf refuses.
  AlarmExp* createCommonExp(const std::list<FieldCond_t>& conds);

  // Empties the map, adds one leaf per filter string, then builds as
  // createCommonExp does. Null (map cleared) when a filter string fails.
  AlarmExp* createByStringFilter(const std::list<std::string>& filters, bool buildFlag);

  // Splits one filter string by ExpStringFilter and calls createSingle.
  bool createSingleByStringFilter(const std::string& filter, bool buildFlag);

  // Adds the leaf of one condition given by name, type and content (or sets
  // the criterion for type "CRITERION"). Empty content adds ConstantExp(true).
  // The map key is the upper-cased name, the leaf keeps the name as given; a
  // name already present keeps its first leaf. False on an unknown or refused
  // type, on content the leaf refuses and on a blank criterion (logged).
  bool createSingle(const std::string& name, const std::string& type, const std::string& content, bool buildFlag);

  // AND of every leaf in name order, left-deep; the leaves move into the
  // result. Null when the map is empty.
  AlarmExp* createByNoCriterion();

  // The tree of the criterion over the leaves; named leaves move into the
  // result, unnamed ones are deleted. Null (everything deleted) on a
  // malformed criterion.
  AlarmExp* createByCriterion();

  // Deletes every leaf still in the map.
  void clearAlarmExpMap();

  // The criterion (upper-cased), empty when there is none.
  const std::string& getCriterion() const { return m_strCriterion; }
  // Number of leaves waiting in the map.
  size_t pendingCount() const { return _expMap.size(); }

 private:
  std::map<std::string, std::unique_ptr<AlarmExp>> _expMap;
  std::string m_strCriterion;
  bool m_bSelectAll;
};

// Splits a filter string at every "|", trims blanks at both ends of each part
// and drops empty parts. One part: name = type = the part upper-cased, no
// content; two: name = type = the first upper-cased, content = the second;
// three: name, type (both upper-cased) and content. False (logged) for any
// other number of parts; the outputs are then unchanged.
bool ExpStringFilter(const std::string& filter, std::string& name, std::string& type, std::string& content);

// Infix to postfix conversion of criterion texts.
class PNChanger {
 public:
  // Appends the postfix words of `text` to `words`. Words are separated by
  // blanks, tabs and newlines; "(" and ")" are words of their own. Operators
  // (and, or, not, parentheses) are recognised in any case; words go out
  // unchanged. A ")" without its "(" goes to the output as it stands, and so
  // does a "(" never closed, so that the evaluation of the words refuses them.
  // Always true.
  static bool toPostfix(const std::string& text, std::list<std::string>& words);
};

}  // namespace Kyrofm

#endif
