// fmctl.h: what the commands of fmctl share: the table of commands, argument
// parsing and errors, the database a command works on, failure reports, and
// the helpers behind load, dump, query and explain.
//
// Conventions of every command: "--help" (or "-h") prints the command's usage
// on stdout and exits 0; an unknown argument or a bad value prints the cause
// and the usage on stderr and exits 2; a failure prints its cause on stderr
// and exits 1. A command that writes to a database first prints one line on
// stderr naming the database and the table.
#ifndef FM_TOOLS_FMCTL_FMCTL_H
#define FM_TOOLS_FMCTL_FMCTL_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fm_common/platform/AlmRecord.h"

namespace Kyrofm {
class AlarmExp;
}

namespace fmctl {

struct Command {
  const char* name;
  const char* usage;  // the arguments and a description, printed after "usage: fmctl <name>"
  int (*run)(const std::vector<std::string>& args);
};

// For an argument that command `cmd` does not know: names it and prints the
// command's usage on stderr. Returns 2, the exit status.
int badArgument(const char* cmd, const std::string& arg);

// For arguments that are wrong together or a value that does not parse:
// "fmctl <cmd>: <message>" and the command's usage on stderr. Returns 2.
int usageError(const char* cmd, const std::string& message);

// Reports a failed step on stderr: "fmctl <cmd>: <what>: <code text>", then
// the last error the library logged and where its log is. Returns 1, the exit
// status.
int reportFailure(const char* cmd, const std::string& what, long code);

// ---- arguments

// One option a command accepts: "--name" (and "-alias" when not null); an
// option with a value takes it as the next word or after "=".
struct OptionDef {
  const char* name;   // without the leading dashes
  const char* alias;  // one letter, or null
  bool takesValue;
};

// The options and plain words of a command line.
struct ParsedArgs {
  std::map<std::string, std::vector<std::string>> values;  // by option name; "" for a flag
  std::vector<std::string> words;                          // arguments that are not options

  bool has(const std::string& name) const { return values.count(name) != 0; }
  // The last value given to name, or def.
  std::string get(const std::string& name, const std::string& def = std::string()) const;
  const std::vector<std::string>& all(const std::string& name) const;
};

// Parses args by defs plus the options every command knows, --root DIR and
// --db URL, which are applied at once (applyRoot, applyDatabase). More than
// maxWords plain words is an error. 0, or 2 after a usage error on stderr.
int parseArgs(const char* cmd, const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
              size_t maxWords, ParsedArgs& out);

// Makes dir (absolute) the root of every file: KYRO_ROOT.
void applyRoot(const std::string& dir);
// Points the database layer at url: a SOCI URL ("sqlite3://db=...",
// "postgresql://...") or the path of an SQLite file. False (and a message on
// stderr) for a URL of an unknown kind.
bool applyDatabase(const std::string& url);
// True when the operator named the database (--db) on this command line.
bool databaseNamed();
// The database in use, for messages: its URL with any password hidden.
std::string databaseText();
// 0 when table is one of the alarm tables, else a usage error (2).
int checkAlarmTable(const char* cmd, const std::string& table);
// Parses a decimal integer option value; false when it is not one.
bool parseNumber(const std::string& text, long& value);

// ---- alarms

// n alarms made from seed, the same for the same (n, seed, firstCsn): Csns
// firstCsn, firstCsn + 1, ...; every field a filter can select on is filled,
// and every text is one the text dump carries.
std::vector<Kyrofm::AlmRecord_t> generateAlarms(long n, unsigned long seed, long firstCsn);

// Gives each record the ids of its object, NE and link FDNs in this
// database's FDN table (extended parameters (0,16), (0,15), (0,18)), making
// ids for new FDNs; the FDN leaves' SQL selects by these ids. An empty FDN
// gets no id. Returns 33000, or the failure code with the FDN in `failed`;
// `changed` counts records whose ids differed from what they carried.
long assignFdnIds(std::vector<Kyrofm::AlmRecord_t>& records, long& changed, std::string& failed);

// Prints alarms as an aligned table (Csn, alarm id, group, level, category,
// cleared, acknowledged, occurrence UTC, object FDN) on stdout.
void printAlarmTable(const std::vector<Kyrofm::AlmRecord_t>& alarms);
// One alarm as a JSON object whose members are the text dump's columns.
std::string alarmJson(const Kyrofm::AlmRecord_t& alarm);
// text as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);

// ---- filters

// The filter of a command line: filter strings ("NAME|TYPE|CONTENT", -f) and
// a criterion over their names (-c).
struct FilterArgs {
  std::vector<std::string> filters;
  std::string criterion;
};
// The options of a filter, for parseArgs: -f, -c, --build-flag.
extern const std::vector<OptionDef> kFilterOptions;
// Takes -f and -c from a parsed line; 0, or 2 after a usage error (a filter
// string that does not split, a criterion holding '|').
int readFilterArgs(const char* cmd, const ParsedArgs& a, FilterArgs& filter);
// Builds the tree of the filter with AlarmExpFactory::createByStrinFilter
// (buildFlag: the factory's build flag). Null after a usage error on stderr
// naming what the factory logged.
std::unique_ptr<Kyrofm::AlarmExp> buildFilter(const char* cmd, const FilterArgs& filter, bool buildFlag);
// The class of a node without namespace ("LevelExp", "AndAlarmExp").
std::string leafClass(const Kyrofm::AlarmExp& e);
// The leaves of a tree in evaluation order.
void collectLeaves(const Kyrofm::AlarmExp* e, std::vector<const Kyrofm::AlarmExp*>& leaves);
// The leaves of tree whose SQL selects, by design, other rows of table than
// evaluate() accepts; one text per such leaf, empty when there is none.
std::vector<std::string> documentedDifferences(const Kyrofm::AlarmExp& tree, const std::string& table);
// True when the tree has FDN or NE leaves: their SQL starts the FDN manager,
// which tidies tbl_fdn_mgr, and may create temporary id tables.
bool hasFdnTempTables(const Kyrofm::AlarmExp& tree);
// Says so on stderr, naming the database.
void announceFdnWrites(const char* cmd);

// The first and the last error the library logged while this command ran
// ("" if none).
std::string loggedErrors();

int runDemo(const std::vector<std::string>& args);
int runDump(const std::vector<std::string>& args);
int runLoad(const std::vector<std::string>& args);
int runQuery(const std::vector<std::string>& args);
int runExplain(const std::vector<std::string>& args);
int runKb(const std::vector<std::string>& args);

}  // namespace fmctl

#endif
