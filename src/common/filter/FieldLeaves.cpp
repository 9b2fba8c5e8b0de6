// FieldLeaves.cpp: the filter leaves over one plain field of the alarm record.
//
// The integer leaves share IntFieldExp: value reading, the validity checks of
// CAlmValidCheck, the count rule and the all-or-nothing update of the value
// set. The classes here differ only in the field, the column and the checks,
// except for the category, log-type and status leaves, whose evaluate and SQL
// follow their own rules.
#include "fm_common/filter/FieldLeaves.h"

#include <cctype>
#include <exception>
#include <vector>

#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/KyroOS.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

namespace filterdetail {

std::string lowered(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool tableContains(const std::string& table, const char* name) {
  return lowered(table).find(name) != std::string::npos;
}

bool tableEquals(const std::string& table, const char* name) { return lowered(table) == name; }

AlarmExp* guardedCopy(const char* what, const std::function<AlarmExp*()>& make) {
  try {
    return make();
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "%s, exception: %s", what, e.what());
    return nullptr;
  }
}

std::vector<std::string> contentPieces(const std::string& content) {
  std::vector<std::string> pieces;
  for (auto& p : KyroUtils::split(content, ',')) {
    FMTrim(p, " \t");
    if (!p.empty()) pieces.push_back(p);
  }
  return pieces;
}

}  // namespace filterdetail

// ---------------------------------------------------------------------------
// IntFieldExp

bool IntFieldExp::readValue(const std::string& text, const char* operation, long& value) const {
  if (KyroUtils::parseLong(text, value)) return true;
  FM_TRACE(TRACE_ERROR, "%s::%s, invalid value: %s", className(), operation, text.c_str());
  return false;
}

void IntFieldExp::install(std::set<long>& values) {
  const long count = countRule();
  const bool all = count > 0 && static_cast<long>(values.size()) == count;
  if (all) values.clear();
  IntValueMatch match(getOperator(), values);
  m_setValues.swap(values);
  m_match = std::move(match);
  setMatchAll(all);
}

bool IntFieldExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  setSelectAll(selectAll);
  std::set<long> built;
  for (const auto& text : values) {
    long v = 0;
    if (!readValue(text, "setFilter", v) || !checkFilterValue(v)) return false;
    built.insert(v);
  }
  install(built);
  return true;
}

bool IntFieldExp::setStringContent(const std::string& content) {
  std::set<long> built;
  for (const auto& piece : filterdetail::contentPieces(content)) {
    long v = 0;
    if (!readValue(piece, "setStringContent", v) || !checkContentValue(v)) return false;
    built.insert(v);
  }
  if (built.empty()) return false;
  setSelectAll(false);
  install(built);
  return true;
}

// ---------------------------------------------------------------------------
// The checks. The record's level, type and category are one byte: a value
// outside a byte is rejected before the check sees it truncated.

namespace {
bool fitsChar(long v, const char* cls) {
  if (v >= -128 && v <= 127) return true;
  FM_TRACE(TRACE_ERROR, "%s, value out of range: %ld", cls, v);
  return false;
}
}  // namespace

bool CategoryExp::checkContentValue(long v) const {
  return fitsChar(v, "CategoryExp") && CAlmValidCheck::isCategoryValid(static_cast<char>(v));
}
bool LevelExp::checkFilterValue(long v) const {
  return fitsChar(v, "LevelExp") && CAlmValidCheck::isAlmLevelValid(static_cast<char>(v));
}
long LevelExp::countRule() const { return CRecStringMap::Instance()->getAlmLevelCount(); }
bool AlarmTypeExp::checkFilterValue(long v) const {
  return fitsChar(v, "AlarmTypeExp") && CAlmValidCheck::isAlmTypeValid(static_cast<char>(v));
}
long AlarmTypeExp::countRule() const { return CRecStringMap::Instance()->getAlmTypeCount(); }
bool AlmNETypeExp::checkFilterValue(long v) const { return CAlmValidCheck::isAlmIDValid(v); }
bool CsnExp::checkFilterValue(long v) const { return CAlmValidCheck::isAlmCsnValid(v); }
bool AlarmIDExp::checkFilterValue(long v) const { return CAlmValidCheck::isAlmIDValid(v); }

// ---------------------------------------------------------------------------
// CategoryExp

bool CategoryExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  if (!IntFieldExp::setFilter(values, selectAll)) return false;
  setMatchAll(selectAll);
  return true;
}

bool CategoryExp::evaluate(const AlmRecord_t& record) const {
  return isSelectAll() || m_match(record.getCategory());
}

std::string CategoryExp::sqlWhereCond(const std::string& table) const {
  if (isSelectAll() || filterdetail::tableContains(table, "tbl_event_log")) return std::string();
  return createIntSqlCond(table, "Cat", m_setValues);
}

// ---------------------------------------------------------------------------
// LogTypeExp

long LogTypeExp::derivedLogType(const AlmRecord_t& record) {
  if (record.getCategory() == 3) return 2;
  if (record.getClearStatus() == 1 && record.getAckStatus() == 1) return 3;
  return 1;
}

std::string LogTypeExp::sqlWhereCond(const std::string& table) const {
  int logType = getLogType();
  if (logType != 1 && logType != 2 && logType != 3 && logType != 5) {
    FM_TRACE(TRACE_ERROR, "LogTypeExp sqlWhereCond iLogType:%d", logType);
    logType = filterdetail::tableContains(table, "tbl_event_log") ? 2 : 3;
  }
  return logType == 2 ? std::string() : std::string(" Cat= 1");
}

// ---------------------------------------------------------------------------
// StatusExp

namespace {

struct StatusWord {
  const char* word;
  long code;
};
const StatusWord kStatusWords[] = {{"NANR", 1}, {"NAYR", 2}, {"YANR", 3}, {"YAYR", 4}, {"YA", 6}, {"NA", 7}};

// The SQL term of a status code on the current and log tables; null for a
// value that is no status code.
const char* statusTerm(long code) {
  switch (code) {
    case 1:
      return " ( IsConfirmed = 0 and IsCleared = 0) ";
    case 2:
      return " ( IsConfirmed = 0 and IsCleared = 1) ";
    case 3:
      return " ( IsConfirmed = 1 and IsCleared = 0) ";
    case 4:
      return " ( IsConfirmed = 1 and IsCleared = 1) ";
    case 6:
      return " ( IsConfirmed = 1 and Cat = 3) ";
    case 7:
      return " ( IsConfirmed = 0 and Cat = 3) ";
    default:
      return nullptr;
  }
}

const long kStatusCodes[] = {1, 2, 3, 4, 6, 7};
constexpr size_t kAllStatuses = 4;

}  // namespace

StatusExp::StatusExp(const std::string& condName, char op) : IntFieldExp(condName, op) { setPriority(2); }

long StatusExp::derivedStatus(const AlmRecord_t& record) {
  const char ack = record.getAckStatus();
  if (record.getCategory() == 3) {
    if (ack == 0) return 7;
    if (ack == 1) return 6;
    return 0;
  }
  return AlmRecord_t::getStatus(ack, record.getClearStatus());
}

bool StatusExp::setStringContent(const std::string& content) {
  std::set<long> built;
  for (const auto& piece : filterdetail::contentPieces(content)) {
    for (const auto& w : kStatusWords) {
      if (piece == w.word) built.insert(w.code);
    }
  }
  if (built.empty()) return false;
  setSelectAll(false);
  install(built);
  return true;
}

bool StatusExp::evaluate(const AlmRecord_t& record) const {
  if (m_setValues.empty() || m_setValues.size() == kAllStatuses) return true;
  const long code = derivedStatus(record);
  return code != 0 && m_match(code);
}

std::string StatusExp::sqlWhereCond(const std::string& table) const {
  if (filterdetail::tableContains(table, "tbl_event_log")) return " ( 1 > 0 ) ";
  if (!filterdetail::tableContains(table, "tbl_cur_alm") && !filterdetail::tableContains(table, "tbl_alm_log")) {
    return " ( 0 > 1 ) ";
  }
  if (m_setValues.empty() || m_setValues.size() == kAllStatuses) return std::string();
  // One term per code the operator accepts, so that operators other than
  // "is one of" select what evaluate accepts.
  std::string terms;
  for (long code : kStatusCodes) {
    if (!evaluateInt(code, m_setValues)) continue;
    if (!terms.empty()) terms += " or ";
    terms += statusTerm(code);
  }
  if (terms.empty()) return " ( 0 > 1 ) ";
  return " (" + terms + ") ";
}

// ---------------------------------------------------------------------------
// ExtendInfoExp

bool ExtendInfoExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  std::set<std::string> built(values.begin(), values.end());
  StrValueMatch match(getOperator(), built);
  setSelectAll(selectAll);
  m_setValues.swap(built);
  m_match = std::move(match);
  return true;
}

bool ExtendInfoExp::setStringContent(const std::string& content) {
  std::set<std::string> built{content};
  StrValueMatch match(getOperator(), built);
  setSelectAll(false);
  m_setValues.swap(built);
  m_match = std::move(match);
  return true;
}

bool ExtendInfoExp::evaluate(const AlmRecord_t& record) const {
  return m_match(record.getExtendInfoView());
}

std::string ExtendInfoExp::sqlWhereCond(const std::string& table) const {
  return createStrSqlCond(table, "ExtendInfo", m_setValues);
}

// ---------------------------------------------------------------------------
// copy

AlarmExp* CategoryExp::copy() const {
  return filterdetail::guardedCopy("CategoryExp::copy", [this] { return new CategoryExp(*this); });
}
AlarmExp* LogTypeExp::copy() const {
  return filterdetail::guardedCopy("LogTypeExp::copy", [this] { return new LogTypeExp(*this); });
}
AlarmExp* LevelExp::copy() const {
  return filterdetail::guardedCopy("LevelExp::copy", [this] { return new LevelExp(*this); });
}
AlarmExp* AlarmTypeExp::copy() const {
  return filterdetail::guardedCopy("AlarmTypeExp::copy", [this] { return new AlarmTypeExp(*this); });
}
AlarmExp* StatusExp::copy() const {
  return filterdetail::guardedCopy("StatusExp::copy", [this] { return new StatusExp(*this); });
}
AlarmExp* LinkTypeExp::copy() const {
  return filterdetail::guardedCopy("LinkTypeExp::copy", [this] { return new LinkTypeExp(*this); });
}
AlarmExp* AlmNETypeExp::copy() const {
  return filterdetail::guardedCopy("AlmNETypeExp::copy", [this] { return new AlmNETypeExp(*this); });
}
AlarmExp* CsnExp::copy() const {
  return filterdetail::guardedCopy("CsnExp::copy", [this] { return new CsnExp(*this); });
}
AlarmExp* AlarmIDExp::copy() const {
  return filterdetail::guardedCopy("AlarmIDExp::copy", [this] { return new AlarmIDExp(*this); });
}
AlarmExp* ExtendInfoExp::copy() const {
  return filterdetail::guardedCopy("ExtendInfoExp::copy", [this] { return new ExtendInfoExp(*this); });
}

}  // namespace Kyrofm
