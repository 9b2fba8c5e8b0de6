// FmSettingsFile.h: writes settings files for the settings and system
// attribute suites.
#ifndef FM_TESTS_SUPPORT_FMSETTINGSFILE_H
#define FM_TESTS_SUPPORT_FMSETTINGSFILE_H

#include <string>
#include <utility>
#include <vector>

namespace fmtest {

// Full setting path ("/kyro/vela/group/name") -> value text.
using SettingsKV = std::vector<std::pair<std::string, std::string>>;

// Writes a settings file holding exactly `kv`, each entry in a group of the
// path before its last "/"; a failed write fails the current test.
void writeSettings(const std::string& file, const SettingsKV& kv);

}  // namespace fmtest

#endif
