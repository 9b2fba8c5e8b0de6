// CCentralCfg.h: the central configuration of the fault-management service,
// as far as the record string map uses it: where the fault-management
// information file is, and the name/value pairs of one group of such a file.
//
// The information file ("fm.xml") holds the display tables of alarm fields
// (products, categories, levels, types, statuses, identifier flags, date and
// time formats) as groups "/vela/<name>" of <param name="N" value="text"/>
// entries (see etc/fm.xml). GetRecConfigFileName looks for it, in this order:
//   1. the file set with SetRecConfigFileName (hosts and tests);
//   2. "$KYRO_ROOT/etc/fm.xml", the site's own copy;
//   3. the copy installed with the library, "<prefix>/share/fm_common/etc/fm.xml",
//      found from the location of libfm_common.so ("<prefix>/lib" or
//      "<prefix>/lib/<multiarch>").
// When none exists it answers the site path under KyroCommonUtils::getRoot(),
// and opening that fails.
//
// Threads: every function may be called from any thread.
#ifndef FM_PLATFORM_CCENTRALCFG_H
#define FM_PLATFORM_CCENTRALCFG_H

#include <map>
#include <string>

namespace Kyrofm {

class ConfigAdapter;

class CCentralCfg {
 public:
  static constexpr const char* REC_CONFIG_FILE = "fm.xml";

  // The path of the fault-management information file (see above).
  static std::string GetRecConfigFileName();
  // Overrides the search; an empty path restores it.
  static void SetRecConfigFileName(const std::string& path);
  // The installed copy next to the library, empty when not found.
  static std::string GetInstalledRecConfigFileName();

  // The name/value pairs of the group `group` ("/vela/level") of an opened
  // configuration file: 0 and the pairs (replacing `params`), or the adapter's
  // nonzero code with `params` emptied.
  static int GetParamGroups(const ConfigAdapter& file, const std::string& group,
                            std::map<std::string, std::string>& params);
};

}  // namespace Kyrofm

#endif
