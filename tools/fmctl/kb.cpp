// fmctl kb: the alarm explanation knowledge base (tbl_alm_exp_info) through
// the explanation operator: list its reasons, show one alarm's entry, import
// entries from a file.
//
// list and show read the operator's buffer (attributes, reasons, stamps) and,
// for show, the reasons' texts from the table. Starting the operator stamps
// rows that carry no time stamp; both commands say so on stderr first when the
// table holds such rows.
//
// import is one knowledge-base change as the service makes it:
//   1. the whole file is read and checked; one bad line refuses the file and
//      nothing is opened or written;
//   2. the exclusive ALARM_KNOWLG category is taken. Another fmctl holding it
//      (through the lock file <root>/var/fm/alarm_knowlg.lock) is mirrored into
//      this process's category map, so the refusal goes through the audit
//      manager like any other (busy code, refusal audited);
//   3. the file is compared with the table: reasons equal in every field are
//      left alone, the others go to the operator's addOrUpdate; with
//      --delete-missing, the reasons of the file's groups that the file does
//      not hold are marked deleted (del);
//   4. one audit entry "Update_Alm_Knowlg_DB" (a batch entry; a single one
//      when one reason changes) counts the reasons that succeeded and failed;
//      the entry the audit facade received is printed. A file that changes
//      nothing writes nothing, and no entry.
//
// The import file (see README.md): one line per alarm and per reason, fields
// separated by '|', each "name=value"; blank lines and lines starting with '#'
// are skipped. In values, "\|", "\\", "\n" and "\t" stand for '|', '\', a
// line end and a tab; spaces around a field are dropped.
//   alarm GROUP ALARM | name=Link down | category=1 | level=2 | type=1
//   reason 0 | explain=The link is down. | advice=Check the fibre.\nThen the SFP.
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "fm_common/audit/BatchOperAuditMgr.h"
#include "fm_common/audit/OperStatusInfoMgr.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/fmlog/AlarmExpOperator.h"
#include "fm_common/fmlog/AlarmExpQueryer.h"
#include "fm_common/fmlog/AlmExp.h"
#include "fm_common/platform/CFMAudit.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fmctl.h"

namespace fmctl {
namespace {

constexpr const char* kCmd = "kb";
constexpr const char* kTable = "tbl_alm_exp_info";

using Kyrofm::AlarmInfo_t;
using Kyrofm::AlmBasicExp_t;
using Kyrofm::AlmExp_t;
using Kyrofm::AlmExpList;
using Kyrofm::ReasonInfo;

// (group, alarm, reason): one row of the table.
using RowKey = std::tuple<long, long, long>;

RowKey rowKey(const AlarmInfo_t& k, long reason) { return RowKey(k.m_lGroupId, k.m_lAlarmId, reason); }

std::string keyText(const AlarmInfo_t& k) {
  return std::to_string(k.m_lGroupId) + "/" + std::to_string(k.m_lAlarmId);
}

std::string stampText(long stamp) {
  const time_t t = static_cast<time_t>(stamp);
  struct tm tm {};
  char buf[32];
  if (gmtime_r(&t, &tm) == nullptr || std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) == 0) {
    return std::to_string(stamp);
  }
  return buf;
}

const char* operText(int op) {
  switch (op) {
    case Kyrofm::EXP_OPER_UPDATED: return "updated";
    case Kyrofm::EXP_OPER_ADDED: return "added";
    case Kyrofm::EXP_OPER_DELETED: return "deleted";
    default: return "unset";
  }
}

// ---------------------------------------------------------------------------
// The import file.

// One alarm of the file with the lines its parts came from.
struct FileAlarm {
  AlmExp_t exp;
  int line = 0;
  std::vector<int> reasonLines;  // parallel to exp.Reasons
};

class FileParser {
 public:
  explicit FileParser(std::string file) : m_file(std::move(file)) {}

  void parseLine(const std::string& raw, int line);
  // Checks what spans lines (every alarm has a reason) and the record check.
  void finish();

  std::vector<FileAlarm> alarms;
  std::vector<std::string> errors;

 private:
  using Fields = std::vector<std::pair<std::string, std::string>>;  // name, escaped value
  void error(int line, const std::string& text) {
    errors.push_back(m_file + ":" + std::to_string(line) + ": " + text);
  }
  bool unescape(const std::string& in, std::string& out, int line, const std::string& field);
  // Reads a decimal within [lo, hi] into v; false after an error naming field.
  bool number(const std::string& text, long lo, long hi, long& v, int line, const std::string& field);
  void parseAlarm(const std::vector<std::string>& words, const Fields& fields, int line);
  void parseReason(const std::vector<std::string>& words, const Fields& fields, int line);

  std::string m_file;
  std::map<std::pair<long, long>, int> m_alarmLine;  // key -> line of its alarm line
};

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

bool FileParser::unescape(const std::string& in, std::string& out, int line, const std::string& field) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      out += in[i];
      continue;
    }
    const char c = i + 1 < in.size() ? in[++i] : '\0';
    switch (c) {
      case '\\': out += '\\'; break;
      case '|': out += '|'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      default:
        error(line, "field " + field + ": unknown escape '\\" + std::string(c ? 1 : 0, c) +
                        "' (known: \\| \\\\ \\n \\t)");
        return false;
    }
  }
  return true;
}

bool FileParser::number(const std::string& text, long lo, long hi, long& v, int line, const std::string& field) {
  if (!parseNumber(text, v) || v < lo || v > hi) {
    error(line, "field " + field + ": '" + text + "' is not a whole number from " + std::to_string(lo) + " to " +
                    std::to_string(hi));
    return false;
  }
  return true;
}

void FileParser::parseLine(const std::string& raw, int line) {
  // Split at every '|' that no backslash escapes; escapes stay for unescape().
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size()) {
      parts.back() += raw.substr(i++, 2);
    } else if (raw[i] == '|') {
      parts.emplace_back();
    } else {
      parts.back() += raw[i];
    }
  }
  const std::string head = trim(parts.front());
  if (head.empty() && parts.size() == 1) return;
  if (head[0] == '#') return;
  std::vector<std::string> words;
  std::istringstream in(head);
  for (std::string w; in >> w;) words.push_back(w);
  Fields fields;
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::string part = trim(parts[i]);
    const size_t eq = part.find('=');
    if (eq == std::string::npos || trim(part.substr(0, eq)).empty()) {
      error(line, "field " + std::to_string(i + 1) + " ('" + part + "') is not name=value");
      return;
    }
    fields.emplace_back(trim(part.substr(0, eq)), trim(part.substr(eq + 1)));
  }
  if (words.empty()) {
    error(line, "a line starts with \"alarm GROUP ALARM\" or \"reason ID\"");
  } else if (words[0] == "alarm") {
    parseAlarm(words, fields, line);
  } else if (words[0] == "reason") {
    parseReason(words, fields, line);
  } else {
    error(line, "unknown line kind '" + words[0] + "' (alarm or reason)");
  }
}

void FileParser::parseAlarm(const std::vector<std::string>& words, const Fields& fields, int line) {
  FileAlarm a;
  a.line = line;
  AlmExp_t& e = a.exp;
  long v = 0;
  if (words.size() != 3) {
    error(line, "an alarm line starts with \"alarm GROUP ALARM\"");
    return;
  }
  bool ok = number(words[1], 0, INT_MAX, v, line, "GROUP");
  e.m_lGroupId = v;
  ok = number(words[2], INT_MIN, INT_MAX, v, line, "ALARM") && ok;
  e.m_lAlarmId = v;
  if (!ok) return;
  const auto key = std::make_pair(e.m_lGroupId, e.m_lAlarmId);
  if (m_alarmLine.count(key) != 0) {
    error(line, "alarm " + keyText(e) + " is given again (first on line " + std::to_string(m_alarmLine[key]) + ")");
    return;
  }
  std::set<std::string> seen;
  Kyrofm::CRecStringMap* strings = Kyrofm::CRecStringMap::Instance();
  for (const auto& [name, escaped] : fields) {
    if (!seen.insert(name).second) {
      error(line, "field " + name + " is given twice");
      ok = false;
      continue;
    }
    std::string value;
    if (!unescape(escaped, value, line, name)) {
      ok = false;
    } else if (name == "name") {
      if (value.empty() || value.size() > Kyrofm::ALARM_NAME_MAX) {
        error(line, "field name: must hold 1 to " + std::to_string(Kyrofm::ALARM_NAME_MAX) + " bytes, has " +
                        std::to_string(value.size()));
        ok = false;
      }
      e.AlarmName = value;
    } else if (name == "level" || name == "type") {
      const bool level = name == "level";
      const auto valid = [&](long x) {
        return level ? strings->isAlmLevelValid(static_cast<char>(x)) : strings->isAlmTypeValid(static_cast<char>(x));
      };
      if (!parseNumber(value, v) || v < 0 || v > 127 || !valid(v)) {
        std::string known;
        for (long x = 0; x <= 127; ++x) {
          if (valid(x)) known += (known.empty() ? "" : ",") + std::to_string(x);
        }
        error(line, "field " + name + ": '" + value + "' is not an alarm " + name + " (" +
                        (known.empty() ? "none is known: the display tables, fm.xml, were not found" : known) + ")");
        ok = false;
      }
      (level ? e.AlarmLevel : e.AlarmType) = static_cast<char>(v);
    } else if (name == "category" || name == "clear-category") {
      ok = number(value, 0, 127, v, line, name) && ok;
      (name == "category" ? e.Category : e.ClearCategory) = static_cast<char>(v);
    } else if (name == "link-type" || name == "relative-alarm" || name == "clear-strategy" || name == "reason-type") {
      ok = number(value, INT_MIN, INT_MAX, v, line, name) && ok;
      (name == "link-type"        ? e.LinkType
       : name == "relative-alarm" ? e.RelativeAlmID
       : name == "clear-strategy" ? e.ClearStrategy
                                  : e.ReasonType) = static_cast<std::int32_t>(v);
    } else {
      error(line, "unknown field '" + name +
                      "' of an alarm line (name, category, level, type, clear-category, link-type, relative-alarm, "
                      "clear-strategy, reason-type)");
      ok = false;
    }
  }
  for (const char* required : {"name", "category", "level", "type"}) {
    if (seen.count(required) == 0) {
      error(line, std::string("field ") + required + " is missing");
      ok = false;
    }
  }
  m_alarmLine[key] = line;  // also when bad: its reason lines are not orphans
  alarms.push_back(std::move(a));
  if (!ok) alarms.back().line = -line;  // refused; finish() skips it
}

void FileParser::parseReason(const std::vector<std::string>& words, const Fields& fields, int line) {
  if (alarms.empty()) {
    error(line, "a reason line comes after the alarm line it belongs to");
    return;
  }
  FileAlarm& a = alarms.back();
  ReasonInfo r;
  long v = 0;
  if (words.size() != 2) {
    error(line, "a reason line starts with \"reason ID\"");
    return;
  }
  if (!number(words[1], INT_MIN, INT_MAX, v, line, "ID")) return;
  r.ReasonID = static_cast<std::int32_t>(v);
  for (size_t i = 0; i < a.exp.Reasons.size(); ++i) {
    if (a.exp.Reasons[i].ReasonID == r.ReasonID) {
      error(line, "reason " + words[1] + " of alarm " + keyText(a.exp) + " is given again (first on line " +
                      std::to_string(a.reasonLines[i]) + ")");
      return;
    }
  }
  std::set<std::string> seen;
  bool ok = true;
  for (const auto& [name, escaped] : fields) {
    std::string value;
    if (!seen.insert(name).second) {
      error(line, "field " + name + " is given twice");
      ok = false;
    } else if (!unescape(escaped, value, line, name)) {
      ok = false;
    } else if (name == "explain" || name == "advice" || name == "format" || name == "label") {
      const size_t max = name == "explain" || name == "advice" ? Kyrofm::ALARM_EXP_MAX : Kyrofm::ALARM_EXP_FORMAT_MAX;
      if (value.size() > max) {
        error(line, "field " + name + ": " + std::to_string(value.size()) + " bytes, at most " +
                        std::to_string(max));
        ok = false;
      }
      (name == "explain" ? r.Explain : name == "advice" ? r.ClearAdvice : name == "format" ? r.ExpFormat
                                                                                          : r.AlarmGroupLabel) = value;
    } else if (name == "meaning") {
      r.Meaning = value;
    } else if (name == "merge-strategy") {
      ok = number(value, INT_MIN, INT_MAX, v, line, name) && ok;
      r.MergeStrategy = static_cast<std::int32_t>(v);
    } else if (name == "define-field") {
      ok = number(value, 0, 255, v, line, name) && ok;
      r.DefineField = static_cast<std::uint8_t>(v);
    } else {
      error(line, "unknown field '" + name +
                      "' of a reason line (explain, advice, format, label, meaning, merge-strategy, define-field)");
      ok = false;
    }
  }
  if (!ok) return;
  a.exp.Reasons.push_back(r);
  a.reasonLines.push_back(line);
}

void FileParser::finish() {
  std::vector<FileAlarm> good;
  for (auto& a : alarms) {
    if (a.line < 0) continue;
    if (a.exp.Reasons.empty()) {
      error(a.line, "alarm " + keyText(a.exp) + " has no reason line");
      continue;
    }
    if (long rc = Kyrofm::checkAlmExp(a.exp); rc != Kyrofm::FM_SUCCESS) {
      error(a.line, "alarm " + keyText(a.exp) + " refused by the record check: " + Kyrofm::FMResultText(rc));
      continue;
    }
    good.push_back(std::move(a));
  }
  alarms.swap(good);
}

// ---------------------------------------------------------------------------
// The table and the operator.

// The rows of the table under condition (an SQL text after "where", built
// from numbers only), each as an entry with one reason.
long readRows(const std::string& condition, std::vector<AlmExp_t>& rows) {
  rows.clear();
  return Kyrofmdb::CFMDBGuard::run(
      __FILE__, __LINE__, "fmctl kb readRows", Kyrofm::FM_FAILURE, [&](Kyrofmdb::SAConnection& conn) -> long {
        Kyrofmdb::SACommand cmd(&conn,
                                std::string("select GroupID, AlarmID, ReasonID, Category, AlarmLevel, AlarmType, "
                                            "AlarmName, Explain, ClearAdvice, ExpFormat, LinkType, ExpTimeStamp, "
                                            "OperationType, ReasonType, AlarmGroupLabel, Meaning, DefineField, "
                                            "RelativeAlmID, ClearStrategy, MergeStrategy, ClearCategory from ") +
                                    kTable + " where " + condition + " order by GroupID, AlarmID, ReasonID");
        cmd.setOption("PreFetchRows", "200");
        cmd.Execute();
        while (cmd.FetchNext()) rows.push_back(Kyrofm::expFromRow(cmd));
        return Kyrofm::FM_SUCCESS;
      });
}

// True when the stored row holds what the file asks for: every attribute and
// text, and a reason not marked deleted.
bool sameRow(const AlmExp_t& file, const ReasonInfo& fr, const AlmExp_t& row) {
  const ReasonInfo& r = row.Reasons.front();
  return r.OperationType != Kyrofm::EXP_OPER_DELETED && file.Category == row.Category &&
         file.AlarmLevel == row.AlarmLevel && file.AlarmType == row.AlarmType &&
         file.ClearCategory == row.ClearCategory && file.AlarmName == row.AlarmName && file.LinkType == row.LinkType &&
         file.RelativeAlmID == row.RelativeAlmID && file.ClearStrategy == row.ClearStrategy &&
         file.ReasonType == row.ReasonType && fr.Explain == r.Explain && fr.ClearAdvice == r.ClearAdvice &&
         fr.ExpFormat == r.ExpFormat && fr.AlarmGroupLabel == r.AlarmGroupLabel && fr.Meaning == r.Meaning &&
         fr.MergeStrategy == r.MergeStrategy && fr.DefineField == r.DefineField;
}

// Says on stderr that starting the operator will stamp rows, when some lack
// a time stamp (the operator's start-up writes them).
void announceStamping(const char* sub) {
  long count = 0;
  if (Kyrofmdb::CFMDBTools::getRecordCountOfTable(kTable, count, " where ExpTimeStamp<=0") == Kyrofm::FM_SUCCESS &&
      count > 0) {
    std::fprintf(stderr, "fmctl kb %s: %ld rows of table %s of database %s have no time stamp; the explanation "
                         "operator writes the current time into them\n",
                 sub, count, kTable, databaseText().c_str());
  }
}

// The operator, started and ready: 33000 or the failure code (reported).
long startOperator(const char* sub, Kyrofm::CAlarmExpOperator*& op) {
  op = Kyrofm::CAlarmExpOperator::instance();
  if (op == nullptr) return reportFailure(kCmd, std::string(sub) + ": the explanation operator did not start", 33002);
  const int status = op->getInitStatus();
  if (status == Kyrofm::EXP_INIT_FAILED) {
    reportFailure(kCmd, std::string(sub) + ": cannot load the knowledge base from database " + databaseText(),
                  Kyrofm::FM_FAILURE);
    return Kyrofm::FM_FAILURE;
  }
  if (status != Kyrofm::EXP_INIT_READY) {
    // No user-defined names here: the call only marks the loaded buffer ready.
    op->mergeRedefinedName(std::list<Kyrofm::CAlarmRedefineAttr>());
  }
  if (long rc = op->waitForInit(); rc != Kyrofm::FM_SUCCESS) {
    reportFailure(kCmd, std::string(sub) + ": cannot load the knowledge base from database " + databaseText(), rc);
    return rc;
  }
  return Kyrofm::FM_SUCCESS;
}

// ---------------------------------------------------------------------------
// list and show

int runList(const std::vector<std::string>& args) {
  ParsedArgs a;
  if (int rc = parseArgs(kCmd, args, {{"group", "g", true}}, 0, a)) return rc;
  long group = -1;
  if (a.has("group") && (!parseNumber(a.get("group"), group) || group < 0)) {
    return usageError(kCmd, "--group needs a group id of 0 or more: " + a.get("group"));
  }
  announceStamping("list");
  Kyrofm::CAlarmExpOperator* op = nullptr;
  if (startOperator("list", op) != Kyrofm::FM_SUCCESS) return 1;
  std::list<AlmBasicExp_t> all;
  if (long rc = op->getAlarmExpBasicInfo(all); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "list: cannot read the knowledge base", rc);
  }
  std::map<RowKey, std::pair<const AlmBasicExp_t*, const Kyrofm::BasicReasonInfo*>> rows;
  std::set<std::pair<long, long>> alarms;
  for (const auto& e : all) {
    if (group >= 0 && e.m_lGroupId != group) continue;
    alarms.insert({e.m_lGroupId, e.m_lAlarmId});
    for (const auto& r : e.Reasons) rows[rowKey(e, r.ReasonID)] = {&e, &r};
  }
  std::printf("%-6s %-10s %-7s %-8s %-5s %-4s %-7s %-19s %s\n", "GROUP", "ALARM", "REASON", "CATEGORY", "LEVEL",
              "TYPE", "OP-TYPE", "STAMP (UTC)", "NAME");
  size_t deleted = 0;
  for (const auto& [key, row] : rows) {
    const AlmBasicExp_t& e = *row.first;
    const Kyrofm::BasicReasonInfo& r = *row.second;
    deleted += r.OperationType == Kyrofm::EXP_OPER_DELETED;
    std::printf("%-6ld %-10ld %-7d %-8d %-5d %-4d %-7s %-19s %s\n", e.m_lGroupId, e.m_lAlarmId, r.ReasonID,
                e.Category, e.AlarmLevel, e.AlarmType, operText(r.OperationType), stampText(r.ExpTimeStamp).c_str(),
                e.AlarmName.c_str());
  }
  std::printf("%zu reasons of %zu alarms (%zu marked deleted)\n", rows.size(), alarms.size(), deleted);
  return 0;
}

// A text, its later lines indented under the first.
void printText(const char* label, const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\n") + std::string(14, ' ') : std::string(1, c);
  std::printf("    %-9s %s\n", label, out.empty() ? "(empty)" : out.c_str());
}

int runShow(const std::vector<std::string>& args) {
  ParsedArgs a;
  if (int rc = parseArgs(kCmd, args, {}, 2, a)) return rc;
  long group = 0, alarm = 0;
  if (a.words.size() != 2 || !parseNumber(a.words[0], group) || !parseNumber(a.words[1], alarm)) {
    return usageError(kCmd, "show needs a group id and an alarm id");
  }
  announceStamping("show");
  Kyrofm::CAlarmExpOperator* op = nullptr;
  if (startOperator("show", op) != Kyrofm::FM_SUCCESS) return 1;
  AlarmInfo_t key(group, alarm);
  AlmExp_t attrs;
  if (long rc = op->getAlmStaticInfo(key, attrs); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "show: no explanation entry for alarm " + keyText(key), rc);
  }
  std::vector<AlmExp_t> rows;
  if (long rc = readRows("GroupID = " + std::to_string(group) + " and AlarmID = " + std::to_string(alarm), rows);
      rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "show: cannot read " + std::string(kTable) + " of database " + databaseText(), rc);
  }
  std::printf("alarm %s: %s\n  category %d, level %d, type %d, clear category %d, link type %d, reason type %d, "
              "relative alarm %d, clear strategy %d\n",
              keyText(key).c_str(), attrs.AlarmName.c_str(), attrs.Category, attrs.AlarmLevel, attrs.AlarmType,
              attrs.ClearCategory, attrs.LinkType, attrs.ReasonType, attrs.RelativeAlmID, attrs.ClearStrategy);
  for (const auto& row : rows) {
    const ReasonInfo& r = row.Reasons.front();
    std::printf("  reason %d: %s at %s UTC (stamp %d), merge strategy %d, define field %d\n", r.ReasonID,
                operText(r.OperationType), stampText(r.ExpTimeStamp).c_str(), r.ExpTimeStamp, r.MergeStrategy,
                r.DefineField);
    AlmExp_t mine = attrs;
    mine.Reasons = row.Reasons;
    if (!sameRow(mine, r, row) && r.OperationType != Kyrofm::EXP_OPER_DELETED) {
      std::printf("    this row's attributes: name \"%s\", category %d, level %d, type %d\n", row.AlarmName.c_str(),
                  row.Category, row.AlarmLevel, row.AlarmType);
    }
    printText("explain:", r.Explain);
    printText("advice:", r.ClearAdvice);
    printText("format:", r.ExpFormat);
    printText("label:", r.AlarmGroupLabel);
    printText("meaning:", r.Meaning);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// import

// Holds the knowledge-base category against other fmctl processes: an
// exclusive flock on <root>/var/fm/alarm_knowlg.lock, released on close.
class CategoryFileLock {
 public:
  ~CategoryFileLock() {
    if (m_fd >= 0) ::close(m_fd);  // releases the lock
  }
  // 0 taken, 1 held by another process, -1 the file cannot be used.
  int take() {
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::path(Kyrofm::KyroCommonUtils::getRoot()) / "var" / "fm";
    std::filesystem::create_directories(dir, ec);
    m_path = (dir / "alarm_knowlg.lock").string();
    m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) return -1;
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) return 0;
    return errno == EWOULDBLOCK ? 1 : -1;
  }
  const std::string& path() const { return m_path; }

 private:
  int m_fd = -1;
  std::string m_path;
};

// The last entry the audit facade received, as one line.
void printAudit() {
  const std::vector<Kyrofm::CFMAuditEntry> entries = Kyrofm::CFMAudit::getEntries();
  if (entries.empty()) return;
  const Kyrofm::CFMAuditEntry& e = entries.back();
  const std::string result = Kyrofm::FMResultText(e.m_lCode);
  if (e.m_kind == Kyrofm::CFMAuditEntry::SINGLE) {
    std::printf("audit: Update_Alm_Knowlg_DB, one object, result %s\n", result.c_str());
  } else {
    std::printf("audit: Update_Alm_Knowlg_DB, %u objects: %u succeeded, %u failed, result %s\n", e.m_uTotal,
                e.m_uSucceeded, e.m_uFailed, result.c_str());
  }
}

// Reasons (as row keys) of a list of entries.
void collectRows(const AlmExpList& list, std::set<RowKey>& out) {
  for (const auto& e : list) {
    for (const auto& r : e.Reasons) out.insert(rowKey(e, r.ReasonID));
  }
}

int runImport(const std::vector<std::string>& args) {
  ParsedArgs a;
  if (int rc = parseArgs(kCmd, args, {{"delete-missing", nullptr, false}}, 1, a)) return rc;
  if (a.words.size() != 1) return usageError(kCmd, "import needs one FILE");
  const std::string file = a.words.front();

  // 1. The whole file, before anything is opened.
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) return reportFailure(kCmd, "import: cannot open " + file, Kyrofm::FM_INVALID_ARG);
  FileParser parser(file);
  int lineNo = 0;
  for (std::string line; std::getline(in, line);) {
    if (lineNo == 0 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a UTF-8 byte order mark
    parser.parseLine(line, ++lineNo);
  }
  parser.finish();
  if (!parser.errors.empty()) {
    const size_t shown = std::min<size_t>(parser.errors.size(), 20);
    for (size_t i = 0; i < shown; ++i) std::fprintf(stderr, "%s\n", parser.errors[i].c_str());
    if (shown < parser.errors.size()) std::fprintf(stderr, "... and %zu more\n", parser.errors.size() - shown);
    std::fprintf(stderr, "fmctl kb import: %s refused: %zu errors (nothing written)\n", file.c_str(),
                 parser.errors.size());
    return 1;
  }
  std::set<long> groups;
  std::set<RowKey> inFile;
  for (const auto& fa : parser.alarms) {
    groups.insert(fa.exp.m_lGroupId);
    for (const auto& r : fa.exp.Reasons) inFile.insert(rowKey(fa.exp, r.ReasonID));
  }

  // 2. The category. Another fmctl's hold (the lock file) is mirrored into
  // this process's category map, so the audit manager refuses and audits.
  const unsigned long session = static_cast<unsigned long>(::getpid());
  const char* user = std::getenv("USER");
  const std::string token = std::string("fmctl:") + (user ? user : "unknown");
  CategoryFileLock fileLock;
  const int taken = fileLock.take();
  if (taken < 0) {
    return reportFailure(kCmd, "import: cannot use the lock file " + fileLock.path() + ": " + std::strerror(errno),
                         Kyrofm::FM_FAILURE);
  }
  auto* audit = Kyrofm::CBatchOperAuditMgr::Instance();
  if (audit == nullptr) return reportFailure(kCmd, "import: the audit manager did not start", Kyrofm::FM_FAILURE);
  const auto openAudit = [&](size_t total) {
    return audit->initAuditInfo(session, token, Kyrofm::OPER_UPDATE_ALM_KNOWLG_DB, 300, static_cast<unsigned>(total));
  };
  const auto refuse = [&](long code) {
    if (code == Kyrofm::FM_BUSY_ALARM_KNOWLG) {
      std::fprintf(stderr, "fmctl kb import: the alarm knowledge base is busy: another ALARM_KNOWLG operation has "
                           "not ended%s (nothing written)\n",
                   taken == 1 ? (" (" + fileLock.path() + " is locked)").c_str() : "");
    }
    printAudit();
    return reportFailure(kCmd, "import refused (nothing written)", code);
  };
  if (taken == 1) {
    Kyrofm::COperStatusInfoMgr::getStatus(Kyrofm::OPER_CATEGORY_ALARM_KNOWLG, Kyrofm::FM_BUSY_ALARM_KNOWLG);
    const long code = openAudit(inFile.size());
    Kyrofm::COperStatusInfoMgr::setStatusIdle(Kyrofm::OPER_CATEGORY_ALARM_KNOWLG);
    if (code == Kyrofm::FM_SUCCESS) {  // not expected: the mirrored hold was not seen
      audit->delAuditInfo(session, Kyrofm::OPER_UPDATE_ALM_KNOWLG_DB, Kyrofm::FM_BUSY_ALARM_KNOWLG);
      return refuse(Kyrofm::FM_BUSY_ALARM_KNOWLG);
    }
    return refuse(code);
  }

  // 3. What changes: the table's rows of the file's groups against the file.
  std::string groupList;
  for (long g : groups) groupList += (groupList.empty() ? "" : ",") + std::to_string(g);
  std::vector<AlmExp_t> stored;
  if (long rc = readRows("GroupID in (" + groupList + ")", stored); rc != Kyrofm::FM_SUCCESS) {
    return reportFailure(kCmd, "import: cannot read " + std::string(kTable) + " of database " + databaseText(), rc);
  }
  std::map<RowKey, const AlmExp_t*> storedRows;
  for (const auto& row : stored) storedRows[rowKey(row, row.Reasons.front().ReasonID)] = &row;
  AlmExpList toWrite, toDelete;
  size_t unchanged = 0;
  for (const auto& fa : parser.alarms) {
    AlmExp_t changed = fa.exp;
    changed.Reasons.clear();
    for (const auto& r : fa.exp.Reasons) {
      auto it = storedRows.find(rowKey(fa.exp, r.ReasonID));
      if (it != storedRows.end() && sameRow(fa.exp, r, *it->second)) {
        ++unchanged;
      } else {
        changed.Reasons.push_back(r);
      }
    }
    if (!changed.Reasons.empty()) toWrite.push_back(std::move(changed));
  }
  if (a.has("delete-missing")) {
    for (const auto& row : stored) {
      const ReasonInfo& r = row.Reasons.front();
      if (r.OperationType != Kyrofm::EXP_OPER_DELETED && inFile.count(rowKey(row, r.ReasonID)) == 0) {
        toDelete.push_back(row);
      }
    }
  }
  std::set<RowKey> writeRows, deleteRows;
  collectRows(toWrite, writeRows);
  collectRows(toDelete, deleteRows);
  const size_t total = writeRows.size() + deleteRows.size();
  if (total == 0) {
    std::printf("nothing to change: the %zu reasons of %s are in the knowledge base as they stand\n", unchanged,
                file.c_str());
    return 0;
  }
  if (long code = openAudit(total); code != Kyrofm::FM_SUCCESS) return refuse(code);
  long result = Kyrofm::FM_FAILURE;
  size_t succeeded = 0, failed = 0;
  const auto closeAudit = [&]() {
    audit->setOperateAuditInfo(session, Kyrofm::OPER_UPDATE_ALM_KNOWLG_DB, result, static_cast<unsigned>(succeeded),
                               static_cast<unsigned>(failed), std::wstring(), std::string());
    audit->delAuditInfo(session, Kyrofm::OPER_UPDATE_ALM_KNOWLG_DB, result);
    printAudit();
  };
  std::fprintf(stderr,
               "fmctl kb import: writing table %s of database %s: %zu reasons to add or update, %zu to mark "
               "deleted (groups %s), %zu unchanged\n",
               kTable, databaseText().c_str(), writeRows.size(), deleteRows.size(), groupList.c_str(), unchanged);

  // 4. The operator's work, then the audit entry.
  Kyrofm::CAlarmExpOperator* op = nullptr;
  if (startOperator("import", op) != Kyrofm::FM_SUCCESS) {
    failed = total;
    closeAudit();
    return 1;
  }
  std::set<RowKey> done, doneDeleted;
  if (!toWrite.empty()) {
    std::list<AlarmInfo_t> keys;
    AlmExpList added, updated;
    op->addOrUpdate(toWrite, keys, added, updated);
    collectRows(added, done);
    collectRows(updated, done);
    std::printf("added %zu reasons, updated %zu\n",
                [&] { std::set<RowKey> s; collectRows(added, s); return s.size(); }(),
                [&] { std::set<RowKey> s; collectRows(updated, s); return s.size(); }());
  }
  if (!toDelete.empty()) {
    std::list<AlarmInfo_t> keys;
    Kyrofm::AlmExpErrorMap errors;
    AlmExpList deleted;
    op->del(toDelete, keys, errors, deleted);
    collectRows(deleted, doneDeleted);
    std::printf("marked %zu reasons deleted\n", doneDeleted.size());
  }
  std::printf("%zu reasons unchanged\n", unchanged);
  for (const auto* part : {&writeRows, &deleteRows}) {
    const std::set<RowKey>& ok = part == &writeRows ? done : doneDeleted;
    for (const RowKey& k : *part) {
      if (ok.count(k) != 0) {
        ++succeeded;
      } else if (++failed <= 20) {
        std::fprintf(stderr, "fmctl kb import: failed: alarm %ld/%ld reason %ld (%s)\n", std::get<0>(k),
                     std::get<1>(k), std::get<2>(k), part == &writeRows ? "add or update" : "mark deleted");
      }
    }
  }
  result = failed == 0 ? Kyrofm::FM_SUCCESS : succeeded == 0 ? Kyrofm::FM_FAILURE : Kyrofm::FM_PARTIAL_SUCCESS;
  closeAudit();
  if (failed > 0) return reportFailure(kCmd, "import: " + std::to_string(failed) + " reasons failed", result);
  return 0;
}

}  // namespace

int runKb(const std::vector<std::string>& args) {
  if (args.empty()) return usageError(kCmd, "give list, show or import");
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  int (*run)(const std::vector<std::string>&) = args[0] == "list"     ? runList
                                                : args[0] == "show"   ? runShow
                                                : args[0] == "import" ? runImport
                                                                      : nullptr;
  if (run == nullptr) return usageError(kCmd, "unknown kb command '" + args[0] + "' (list, show or import)");
  const int rc = run(rest);
  // The audit manager's timer thread ends before the process does.
  Kyrofm::CBatchOperAuditMgr::Destroy();
  Kyrofm::CAlarmExpOperator::destroy();
  return rc;
}

}  // namespace fmctl
