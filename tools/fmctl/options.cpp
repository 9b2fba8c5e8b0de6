// options.cpp: the command line of one fmctl command, and the database and
// root it selects.
//
// --root and --db are known to every command and take effect while the line
// is read, before the command touches any file: --root sets KYRO_ROOT for the
// process, --db re-targets the database layer. A database named with --db is
// one the operator chose on purpose; the commands that write may then use a
// default table there, while the site's own database (the default one below
// the root, or KYRO_FM_DB) is written only into a table the operator names.
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBSchema.h"
#include "fmctl.h"

namespace fmctl {
namespace {

bool g_dbNamed = false;

const std::vector<OptionDef> kCommonOptions = {{"root", nullptr, true}, {"db", nullptr, true}};

const OptionDef* findOption(const std::vector<OptionDef>& defs, const std::string& word, std::string& inlineValue,
                           bool& hasInline) {
  hasInline = false;
  std::string name;
  if (word.rfind("--", 0) == 0 && word.size() > 2) {
    name = word.substr(2);
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      hasInline = true;
      name.resize(eq);
    }
  } else if (word.size() == 2 && word[0] == '-' && word[1] != '-') {
    name = word.substr(1);
  } else {
    return nullptr;
  }
  for (const auto* list : {&defs, &kCommonOptions}) {
    for (const auto& s : *list) {
      const bool isLong = word[1] == '-';
      if ((isLong && name == s.name) || (!isLong && s.alias != nullptr && name == s.alias)) return &s;
    }
  }
  return nullptr;
}

}  // namespace

std::string ParsedArgs::get(const std::string& name, const std::string& def) const {
  auto it = values.find(name);
  return it == values.end() || it->second.empty() ? def : it->second.back();
}

const std::vector<std::string>& ParsedArgs::all(const std::string& name) const {
  static const std::vector<std::string> none;
  auto it = values.find(name);
  return it == values.end() ? none : it->second;
}

int parseArgs(const char* cmd, const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
              size_t maxWords, ParsedArgs& out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word.size() > 1 && word[0] == '-') {
      std::string value;
      bool hasInline = false;
      const OptionDef* def = findOption(defs, word, value, hasInline);
      if (def == nullptr) return badArgument(cmd, word);
      if (!def->takesValue) {
        if (hasInline) return usageError(cmd, std::string("--") + def->name + " takes no value");
        out.values[def->name].push_back(std::string());
        continue;
      }
      if (!hasInline) {
        if (i + 1 >= args.size()) return usageError(cmd, std::string("--") + def->name + " needs a value");
        value = args[++i];
      }
      const std::string name = def->name;
      if (name == "root") {
        if (value.empty()) return usageError(cmd, "--root needs a directory");
        applyRoot(value);
      } else if (name == "db") {
        if (!applyDatabase(value)) return usageError(cmd, "--db: not a database URL or file: " + value);
      }
      out.values[name].push_back(value);
      continue;
    }
    if (out.words.size() >= maxWords) return badArgument(cmd, word);
    out.words.push_back(word);
  }
  return 0;
}

void applyRoot(const std::string& dir) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(dir, ec);
  ::setenv("KYRO_ROOT", (ec ? dir : p.lexically_normal().string()).c_str(), 1);
}

bool applyDatabase(const std::string& url) {
  std::string full = url;
  if (url.find("://") == std::string::npos) {
    if (url.empty()) return false;
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(url, ec);
    full = "sqlite3://db=" + (ec ? url : p.lexically_normal().string());
  }
  if (Kyrofmdb::CDBMaintain::dbTypeOfUrl(full) == 0) return false;
  Kyrofmdb::CDBMaintain::instance()->setDBUrl(full);
  g_dbNamed = true;
  return true;
}

bool databaseNamed() { return g_dbNamed; }

std::string databaseText() {
  std::string url = Kyrofmdb::CDBMaintain::instance()->getDBUrl();
  // libpq key=value strings and URIs: hide what follows "password=" or "user:...@".
  for (size_t pos = url.find("password="); pos != std::string::npos; pos = url.find("password=", pos + 1)) {
    const size_t start = pos + 9;
    size_t end = url.find_first_of(" &", start);
    if (end == std::string::npos) end = url.size();
    url.replace(start, end - start, "***");
  }
  const size_t scheme = url.find("://");
  const size_t at = url.find('@');
  if (scheme != std::string::npos && at != std::string::npos) {
    const size_t colon = url.find(':', scheme + 3);
    if (colon != std::string::npos && colon < at) url.replace(colon + 1, at - colon - 1, "***");
  }
  return url;
}

int checkAlarmTable(const char* cmd, const std::string& table) {
  const auto& tables = Kyrofmdb::CFMDBSchema::alarmTables();
  if (std::find(tables.begin(), tables.end(), table) != tables.end()) return 0;
  std::string list;
  for (const auto& t : tables) list += (list.empty() ? "" : ", ") + t;
  return usageError(cmd, "not an alarm table: '" + table + "' (one of " + list + ")");
}

bool parseNumber(const std::string& text, long& value) {
  if (text.empty() || text.find_first_not_of("-0123456789") != std::string::npos) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno == ERANGE || end != text.c_str() + text.size()) return false;
  value = v;
  return true;
}

}  // namespace fmctl
