// KyroSetting.h: the platform settings service.
//
// Settings are addressed by slash-separated paths ("/kyro/vela/AlmEfdThreadNum").
// The last component of a path is a parameter name, the rest is its group
// ("/kyro/vela"); a group read returns every parameter of one group. The
// service keeps them in one XML file, by default
// "$KYRO_ROOT/etc/kyro_settings.xml" (the installation copies the documented
// defaults from share/fm_common/etc/kyro_settings.xml there):
//
//   <settings>
//     <group path="/kyro/vela">
//       <param name="AlmEfdThreadNum" value="5"/>
//     </group>
//   </settings>
//
// Reads use a parsed copy of the file that is refreshed whenever the file
// changes on disk (another process may have written it). A write locks the
// file against other writers, re-reads it, changes the one parameter and
// replaces the file atomically (KyroXmlFile.h), keeping the rest of the file,
// comments included, as it was. A malformed file is reported with its path and
// line and reads treat it as absent; writes refuse to replace it so that an
// operator's hand edit is never thrown away. The root is the one of
// KyroCommonUtils::getRoot() (KYRO_ROOT, or ./var when it is unset).
//
// Ownership and threads: one process-wide object (instance/destroy); every
// operation may be called from any thread.
#ifndef FM_PLATFORM_KYROSETTING_H
#define FM_PLATFORM_KYROSETTING_H

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroXmlFile.h"

namespace Kyrofm {

// Answers of the settings service besides 0 (success) and SETTING_NO_SUCH_PATH.
constexpr int SETTING_INVALID_PATH = 1002;     // not of the form "/a/b..." (no empty component)
constexpr int SETTING_NOT_A_NUMBER = 1003;     // numeric read of a text that is not a decimal integer
constexpr int SETTING_WRITE_FAILED = 1004;     // the file could not be locked or replaced
constexpr int SETTING_STORE_MALFORMED = 1006;  // the file is malformed; it is not overwritten

class Setting {
 public:
  // The process-wide service, created on first use.
  static Setting* instance();
  // Deletes the service; later instance() calls make a new one.
  static void destroy();

  // Reads the text of `path`. 0 on success; SETTING_NO_SUCH_PATH when the path
  // (or the whole file) does not exist or the file is malformed;
  // SETTING_INVALID_PATH for a malformed path. `value` is untouched on failure.
  int getParamValue(const std::string& path, std::string& value);

  // The same for a numeric value: the text, blanks around it ignored, must be
  // a decimal integer within the range of long, else SETTING_NOT_A_NUMBER.
  int getParamValue(const std::string& path, long& value);

  // Writes `value` as the text of `path`, creating its group and parameter
  // when missing. 0 on success; SETTING_INVALID_PATH, SETTING_WRITE_FAILED or
  // SETTING_STORE_MALFORMED otherwise (the file is then unchanged).
  int setParam(const std::string& path, const std::string& value);

  // Adds every parameter of `group` (name -> text) to `params`, replacing
  // entries of the same name. 0 on success; SETTING_NO_SUCH_PATH when the group
  // does not exist (params untouched).
  int getGroupParams(const std::string& group, std::map<std::string, std::string>& params);

  // The file behind the service. An empty path restores the default under
  // KYRO_ROOT. Hosts and tests use it to point the service at another file.
  void setStorePath(const std::string& path);
  std::string getStorePath() const;
  // "<root>/etc/kyro_settings.xml" under KyroCommonUtils::getRoot().
  static std::string defaultStorePath();

  // Strict decimal parse used for numeric reads: blanks around the number are
  // ignored, an optional sign, at least one digit, nothing else, within the
  // range of long. False (and `out` untouched) otherwise.
  static bool parseLong(const std::string& text, long& out);

  Setting(const Setting&) = delete;
  Setting& operator=(const Setting&) = delete;
  ~Setting() = default;

 private:
  using GroupMap = std::map<std::string, std::map<std::string, std::string>>;

  Setting();

  // Splits "/a/b/c" into group "/a/b" and name "c"; false for a bad path.
  static bool splitPath(const std::string& path, std::string& group, std::string& name);
  // Normalises a group path (trailing '/' dropped); false for a bad path.
  static bool normaliseGroup(const std::string& in, std::string& out);
  // Re-reads the file when its stamp changed (or `force`). Caller holds m_mutex.
  void refreshLocked(bool force);
  static void fillGroups(const pugi::xml_document& doc, GroupMap& groups);

  static std::atomic<Setting*> _instance;
  static std::mutex _instanceMutex;

  mutable std::mutex m_mutex;
  std::string m_strPath;       // store file; empty: no store
  bool m_bPathSet = false;     // set by setStorePath (else the default is used)
  bool m_bLoaded = false;
  bool m_bMalformed = false;
  KyroFileStamp m_stamp;
  GroupMap m_groups;
};

}  // namespace Kyrofm

#endif
