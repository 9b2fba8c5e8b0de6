// AlarmTextDump.h: alarm records as delimited text, and back.
//
// Fault-management processes dump alarms to files with two functions: the
// caller opens the file, writes the header once with outPutAlarmColumn, then
// one record per alarm with outPutAlarmRecord, and writes the line ends itself
// (neither function writes one).
//
// Layout. A header line and record lines of 58 fields each, separated by the
// two characters "||", with no separator after the last field. The columns,
// in order, are those of alarmDumpColumns(): LogId, ListId, ... NeFdnId (the
// header names). Numbers are written in plain decimal (a leading '-' when
// negative; the stream's formatting flags, width and locale play no part);
// fields the record holds as single characters are written as their signed
// integer value (severity 3 is the digit "3"); texts are written as they are,
// without quoting or escaping.
//
// What the layout cannot carry. Since nothing is escaped, a text field that
//  - contains "||" (it would split into two fields),
//  - contains a line feed or a carriage return (it would split the line),
//  - or ends with '|' (its last bar and the separator after it read as "|||",
//    whose first two bars the reader takes for the separator)
// does not come back as written. The writers write such a record anyway, as
// the dump functions always have; checkAlarmDumpRecord tells a caller that
// wants a dump it can read back which field is at fault. A text may begin
// with '|' or hold single bars inside. Only the 58 columns are carried: the
// numbered parameters, the alarm type, the device serial number, the extend
// information, the NE type, the parameter flag word and the extended
// parameters other than (0,16) and (0,15) are not in the dump and read back
// as 0 or "".
//
// Reading. readAlarmDump reads a dump back: the first line must be the header
// exactly, every further line a record of exactly 58 fields; a carriage
// return just before a line feed is taken as part of the line end (dumps
// written on hosts with "\r\n" line ends); the last line may lack its line
// end. Number fields must be decimal integers (optional sign, digits, nothing
// else) within the range of long, character fields within -128..127. The
// reader refuses the whole dump at the first line that breaks these rules and
// says which line and field. Integer extended parameters (0,16) and (0,15)
// are set in the record only when the field is not 0.
//
// Thread safety: all functions may be called from any thread; a stream is
// used by one thread at a time.
#ifndef FM_FMCOMMON_ALARMTEXTDUMP_H
#define FM_FMCOMMON_ALARMTEXTDUMP_H

#include <fstream>
#include <iosfwd>
#include <string>
#include <vector>

#include "fm_common/platform/AlmRecord.h"

namespace Kyrofm {

// One column of the dump and how its value moves between a record and text.
struct AlarmDumpColumn {
  enum Kind { LONG, CHAR, TEXT };
  const char* name;  // the header name
  Kind kind;
  long (*getNumber)(const AlmRecord_t&);  // LONG, CHAR (signed value)
  void (*setNumber)(AlmRecord_t&, long);
  std::string (*getText)(const AlmRecord_t&);  // TEXT
  void (*setText)(AlmRecord_t&, const std::string&);
};

// The 58 columns in dump order.
const std::vector<AlarmDumpColumn>& alarmDumpColumns();

// The field separator "||".
extern const char* const ALARM_DUMP_SEPARATOR;

// Writes the header: the column names, each but the last followed by "||".
// 33000; 33002 when out is not open (nothing written) or the write failed.
long outPutAlarmColumn(std::ofstream& out);

// Writes the 58 fields of record. 33000; 33002 when out is not open (nothing
// written) or the write failed.
long outPutAlarmRecord(std::ofstream& out, const AlmRecord_t& record);

// The same writers on any output stream (a tool writing to its standard
// output). True when the stream is still good afterwards.
bool writeAlarmColumns(std::ostream& out);
bool writeAlarmRecord(std::ostream& out, const AlmRecord_t& record);

// 33000 when every text field of record comes back unchanged from a dump;
// else 33021 and why names the record's LogId, the field and the reason.
long checkAlarmDumpRecord(const AlmRecord_t& record, std::string& why);

// 33000 when line (its line end removed) is the header; else 33021 and why.
long parseAlarmColumn(const std::string& line, std::string& why);

// Parses one record line (its line end removed) into record, which is reset
// first. 33000; 33021 with why naming the field when the line breaks the
// layout (record is then unspecified).
long parseAlarmRecord(const std::string& line, AlmRecord_t& record, std::string& why);

// Reads a whole dump (header, then records) from in into records (cleared
// first). 33000; 33021 with why ("line <n>: ...") at the first bad line, and
// records left empty; 33002 when the stream fails while reading.
long readAlarmDump(std::istream& in, std::vector<AlmRecord_t>& records, std::string& why);

}  // namespace Kyrofm

#endif
