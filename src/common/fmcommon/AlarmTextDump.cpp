// AlarmTextDump.cpp: the alarm dump writers and the reader of their layout.
//
// One table, alarmDumpColumns(), drives both directions: the writers walk it
// to print a record, the reader walks it to fill one, so the two cannot drift
// apart. Numbers are formatted here (std::to_string) and written as bytes, so
// the text does not depend on the flags, width or locale a caller left on the
// stream.
#include "fm_common/fmcommon/AlarmTextDump.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <istream>
#include <ostream>

#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

const char* const ALARM_DUMP_SEPARATOR = "||";

namespace {

#define FM_DUMP_LONG(Name)                                                                              \
  AlarmDumpColumn {                                                                                     \
    #Name, AlarmDumpColumn::LONG, [](const AlmRecord_t& r) -> long { return r.get##Name(); },           \
        [](AlmRecord_t& r, long v) { r.set##Name(v); }, nullptr, nullptr                                \
  }
#define FM_DUMP_CHAR(Name)                                                                              \
  AlarmDumpColumn {                                                                                     \
    #Name, AlarmDumpColumn::CHAR,                                                                       \
        [](const AlmRecord_t& r) -> long { return static_cast<signed char>(r.get##Name()); },           \
        [](AlmRecord_t& r, long v) { r.set##Name(static_cast<char>(v)); }, nullptr, nullptr             \
  }
#define FM_DUMP_TEXT(Name)                                                                              \
  AlarmDumpColumn {                                                                                     \
    #Name, AlarmDumpColumn::TEXT, nullptr, nullptr,                                                     \
        [](const AlmRecord_t& r) -> std::string { return std::string(r.get##Name()); },                 \
        [](AlmRecord_t& r, const std::string& v) { r.set##Name(v); }                                    \
  }
#define FM_DUMP_INTEXT(Header, Group, Index)                                                            \
  AlarmDumpColumn {                                                                                     \
    Header, AlarmDumpColumn::LONG, [](const AlmRecord_t& r) -> long { return r.getIntExtParam(Group, Index); }, \
        [](AlmRecord_t& r, long v) {                                                                    \
          if (v != 0) r.setIntExtParam(Group, Index, v);                                                \
        },                                                                                              \
        nullptr, nullptr                                                                                \
  }

const std::vector<AlarmDumpColumn>& columnTable() {
  static const std::vector<AlarmDumpColumn> table = {
      FM_DUMP_LONG(LogId),
      FM_DUMP_LONG(ListId),
      FM_DUMP_LONG(RelatedLogId),
      FM_DUMP_LONG(AlarmEventFlag),
      FM_DUMP_CHAR(EventSubType),
      FM_DUMP_CHAR(Severity),
      FM_DUMP_CHAR(ClearStatus),
      FM_DUMP_LONG(ClearCategory),
      FM_DUMP_CHAR(ClearMatchStrategy),
      FM_DUMP_LONG(ClearType),
      FM_DUMP_LONG(ClearOperator),
      FM_DUMP_LONG(ClearNeTime),
      FM_DUMP_LONG(ClearUtcTime),
      FM_DUMP_LONG(ClearDst),
      FM_DUMP_CHAR(AckStatus),
      FM_DUMP_LONG(AckUtcTime),
      FM_DUMP_LONG(AckDst),
      FM_DUMP_LONG(AckOperator),
      FM_DUMP_LONG(AgentCsn),
      FM_DUMP_LONG(AlarmId),
      FM_DUMP_LONG(StatsticStamp),
      FM_DUMP_LONG(AlmOperateTimes),
      FM_DUMP_CHAR(ProcessMode),
      FM_DUMP_LONG(FormNumber),
      FM_DUMP_LONG(GroupId),
      FM_DUMP_LONG(BackupedOnSource),
      FM_DUMP_LONG(Flag),
      FM_DUMP_LONG(FlashAlarmLogId),
      FM_DUMP_LONG(OriginalSeverity),
      FM_DUMP_CHAR(FunctionType),
      FM_DUMP_TEXT(MoDn),
      AlarmDumpColumn{"NE.strNEFDN", AlarmDumpColumn::TEXT, nullptr, nullptr,
                      [](const AlmRecord_t& r) -> std::string { return r.getNE().strNEFDN; },
                      [](AlmRecord_t& r, const std::string& v) {
                        NEInfo_t ne = r.getNE();
                        ne.strNEFDN = v;
                        r.setNE(ne);
                      }},
      FM_DUMP_TEXT(LinkDn),
      FM_DUMP_LONG(LinkType),
      FM_DUMP_TEXT(Location),
      FM_DUMP_LONG(ReasonId),
      FM_DUMP_LONG(OccurNeTime),
      FM_DUMP_LONG(OccurUtcTime),
      FM_DUMP_LONG(OccurDst),
      FM_DUMP_LONG(ArrivedUtcTime),
      FM_DUMP_TEXT(ShortComment),
      FM_DUMP_LONG(BusinessAffected),
      FM_DUMP_TEXT(AddtionalText),
      FM_DUMP_TEXT(AgentId),
      FM_DUMP_TEXT(RootId),
      FM_DUMP_TEXT(HostIP),
      FM_DUMP_TEXT(MOType),
      FM_DUMP_TEXT(DevRootID),
      FM_DUMP_LONG(SpecialAlmStatus),
      FM_DUMP_LONG(PreLogId),
      FM_DUMP_LONG(MbscLable),
      FM_DUMP_LONG(FirstOccurNeTime),
      FM_DUMP_LONG(FirstOccurUtcTime),
      FM_DUMP_LONG(FirstOccurDst),
      FM_DUMP_LONG(OccurCount),
      FM_DUMP_LONG(LastOccurLogId),
      FM_DUMP_INTEXT("FdnId", 0, 16),
      FM_DUMP_INTEXT("NeFdnId", 0, 15),
  };
  return table;
}

#undef FM_DUMP_LONG
#undef FM_DUMP_CHAR
#undef FM_DUMP_TEXT
#undef FM_DUMP_INTEXT

void put(std::ostream& out, const std::string& s) { out.write(s.data(), static_cast<std::streamsize>(s.size())); }

// The text of one field as the writers print it.
std::string fieldText(const AlarmDumpColumn& c, const AlmRecord_t& r) {
  return c.kind == AlarmDumpColumn::TEXT ? c.getText(r) : std::to_string(c.getNumber(r));
}

// Why the dump does not carry text unchanged, or null when it does.
const char* textFault(const std::string& text) {
  if (text.find(ALARM_DUMP_SEPARATOR) != std::string::npos) return "holds the separator \"||\"";
  if (text.find('\n') != std::string::npos) return "holds a line feed";
  if (text.find('\r') != std::string::npos) return "holds a carriage return";
  if (!text.empty() && text.back() == '|') return "ends with '|', which would merge into the separator";
  return nullptr;
}

// Strict decimal: optional sign, one or more digits, nothing else, in range.
bool parseLong(const std::string& text, long& value) {
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (i == text.size()) return false;
  for (size_t j = i; j < text.size(); ++j) {
    if (text[j] < '0' || text[j] > '9') return false;
  }
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno == ERANGE || end != text.c_str() + text.size()) return false;
  value = v;
  return true;
}

// Splits line at each "||", leftmost first.
std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t pos = line.find(ALARM_DUMP_SEPARATOR, start);
    if (pos == std::string::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, pos - start));
    start = pos + 2;
  }
}

std::string headerText() {
  std::string s;
  for (const auto& c : columnTable()) s += (s.empty() ? "" : ALARM_DUMP_SEPARATOR) + std::string(c.name);
  return s;
}

}  // namespace

const std::vector<AlarmDumpColumn>& alarmDumpColumns() { return columnTable(); }

bool writeAlarmColumns(std::ostream& out) {
  put(out, headerText());
  return out.good();
}

bool writeAlarmRecord(std::ostream& out, const AlmRecord_t& record) {
  bool first = true;
  for (const auto& c : columnTable()) {
    if (!first) put(out, ALARM_DUMP_SEPARATOR);
    first = false;
    put(out, fieldText(c, record));
  }
  return out.good();
}

long outPutAlarmColumn(std::ofstream& out) {
  if (!out.is_open()) {
    FM_TRACE(TRACE_ERROR, "outPutAlarmColumn: the output file is not open");
    return FM_FAILURE;
  }
  if (!writeAlarmColumns(out)) {
    FM_TRACE(TRACE_ERROR, "outPutAlarmColumn: writing the header failed");
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

long outPutAlarmRecord(std::ofstream& out, const AlmRecord_t& record) {
  if (!out.is_open()) {
    FM_TRACE(TRACE_ERROR, "outPutAlarmRecord: the output file is not open");
    return FM_FAILURE;
  }
  if (!writeAlarmRecord(out, record)) {
    FM_TRACE(TRACE_ERROR, "outPutAlarmRecord: writing the record of LogId %ld failed", record.getLogId());
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

long checkAlarmDumpRecord(const AlmRecord_t& record, std::string& why) {
  for (const auto& c : columnTable()) {
    if (c.kind != AlarmDumpColumn::TEXT) continue;
    if (const char* fault = textFault(c.getText(record))) {
      why = "alarm " + std::to_string(record.getLogId()) + ": field " + c.name + " " + fault;
      return FM_INVALID_ARG;
    }
  }
  return FM_SUCCESS;
}

long parseAlarmColumn(const std::string& line, std::string& why) {
  if (line == headerText()) return FM_SUCCESS;
  why = "not the alarm dump header (expected \"LogId||ListId||...||NeFdnId\", 58 names)";
  return FM_INVALID_ARG;
}

long parseAlarmRecord(const std::string& line, AlmRecord_t& record, std::string& why) {
  record = AlmRecord_t();
  const std::vector<std::string> fields = splitFields(line);
  const auto& cols = columnTable();
  if (fields.size() != cols.size()) {
    why = std::to_string(fields.size()) + " fields instead of " + std::to_string(cols.size());
    return FM_INVALID_ARG;
  }
  for (size_t i = 0; i < cols.size(); ++i) {
    const AlarmDumpColumn& c = cols[i];
    const std::string& f = fields[i];
    if (c.kind == AlarmDumpColumn::TEXT) {
      if (const char* fault = textFault(f)) {
        why = std::string("field ") + c.name + " " + fault;
        return FM_INVALID_ARG;
      }
      c.setText(record, f);
      continue;
    }
    long v = 0;
    if (!parseLong(f, v) || (c.kind == AlarmDumpColumn::CHAR && (v < SCHAR_MIN || v > SCHAR_MAX))) {
      why = std::string("field ") + c.name + " is not " +
            (c.kind == AlarmDumpColumn::CHAR ? "an integer in -128..127" : "a decimal integer") + ": \"" + f + "\"";
      return FM_INVALID_ARG;
    }
    c.setNumber(record, v);
  }
  return FM_SUCCESS;
}

long readAlarmDump(std::istream& in, std::vector<AlmRecord_t>& records, std::string& why) {
  records.clear();
  std::string line;
  long lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // "\r\n" line end
    std::string fault;
    long rc = FM_SUCCESS;
    if (lineNo == 1) {
      rc = parseAlarmColumn(line, fault);
    } else {
      records.emplace_back();
      rc = parseAlarmRecord(line, records.back(), fault);
    }
    if (rc != FM_SUCCESS) {
      why = "line " + std::to_string(lineNo) + ": " + fault;
      records.clear();
      return rc;
    }
  }
  if (in.bad()) {
    why = "reading failed after line " + std::to_string(lineNo);
    records.clear();
    return FM_FAILURE;
  }
  if (lineNo == 0) {
    why = "empty input: no header line";
    return FM_INVALID_ARG;
  }
  return FM_SUCCESS;
}

}  // namespace Kyrofm
