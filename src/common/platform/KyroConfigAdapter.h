// KyroConfigAdapter.h: the platform XML configuration adapter.
//
// Some components keep their configuration in XML files of their own
// ("alarm_conf.xml", "fm_cfg.xml", "KYRO_velasvc.xml", "MBTSFilter.xml").
// A value is addressed by the path of its node (element names from the
// document element down, "/vela/correlate" or "vela/fmdb/tables/TBL_FM_ID";
// the leading '/' is optional; each step takes the first child element of
// that name) and a key. Within the node a key is found as, in this order:
//   <param name="KEY" value="VALUE"/>     (the form written by this adapter;
//                                          without a value attribute, its text)
//   <KEY>VALUE</KEY>                      (a leaf child element)
//   KEY="VALUE"                           (an attribute of the node)
// and within a form the first occurrence counts. A <param> element is always
// an entry, never the leaf of a key "param"; an element with element children
// is a node, never a value. getSysParam, getAllSysParam and modifySysParam
// all apply this one rule, so a value written is the value every read sees.
// Names and values containing a NUL character are refused (CONFIG_INVALID_ARG).
// File names without a '/' are taken from the configuration directory
// "$KYRO_ROOT/etc"; other names are used as given.
//
// A write (modifySysParam) locks the file against other writers, re-reads it,
// applies the change and replaces the file atomically (KyroXmlFile.h). A
// malformed file is reported with its path and line and is not overwritten.
//
// Ownership and threads: a ConfigAdapter object belongs to its caller; its
// operations are serialised by an internal mutex, so it may be shared. The
// static readValue may be called from any thread.
#ifndef FM_PLATFORM_KYROCONFIGADAPTER_H
#define FM_PLATFORM_KYROCONFIGADAPTER_H

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace pugi {
class xml_document;
}

namespace Kyrofm {

// Results of the adapter (0 is success).
constexpr int CONFIG_NO_SUCH_PARAM = 1005;  // node or key absent (as the settings service)
constexpr int CONFIG_NO_FILE = 1010;        // the file does not exist
constexpr int CONFIG_MALFORMED = 1011;      // the file is not well-formed XML
constexpr int CONFIG_IO_ERROR = 1012;       // the file could not be read, locked or replaced
constexpr int CONFIG_NOT_INIT = 1013;       // init has not succeeded
constexpr int CONFIG_INVALID_ARG = 1014;    // empty node path or key

class ConfigAdapter {
 public:
  ConfigAdapter();
  ~ConfigAdapter();
  ConfigAdapter(const ConfigAdapter&) = delete;
  ConfigAdapter& operator=(const ConfigAdapter&) = delete;

  // Opens `file` (resolved as described above) and parses it. A missing file
  // gives CONFIG_NO_FILE unless `createIfMissing`, which starts an empty
  // document that the first modifySysParam writes. CONFIG_MALFORMED (logged
  // with path and line) for a malformed file.
  int init(const std::string& file, bool createIfMissing = false);

  // The file this adapter works on (after init).
  const std::string& fileName() const { return m_strFile; }

  // The text of `key` in the node `section`. 0, CONFIG_NO_SUCH_PARAM,
  // CONFIG_NOT_INIT or CONFIG_INVALID_ARG. `value` is untouched on failure.
  int getSysParam(const std::string& section, const std::string& key, std::string& value) const;

  // Adds every key of the node `section` (all three forms) to `params`.
  // CONFIG_NO_SUCH_PARAM when the node does not exist.
  int getAllSysParam(const std::string& section, std::map<std::string, std::string>& params) const;

  // Sets `key` of `section` to `value` and writes the file. Without `create`
  // an absent node or key gives CONFIG_NO_SUCH_PARAM and nothing is written;
  // with it the missing elements are made. On a write failure the file and
  // this adapter's view of it stay as they were.
  int modifySysParam(const std::string& section, const std::string& key, const std::string& value,
                     bool create);

  // Reads one value from a configuration file: opens `file`, finds `key` in
  // the node `nodePath`. 0 or a CONFIG_ code.
  static int readValue(const std::string& file, const std::string& nodePath, const std::string& key,
                       std::string& value);

  // "<root>/etc" under KyroCommonUtils::getRoot().
  static std::string configDir();
  // `file` as this adapter resolves it (empty when it cannot be resolved).
  static std::string resolve(const std::string& file);

 private:
  mutable std::mutex m_mutex;
  std::string m_strFile;
  bool m_bInit = false;
  std::unique_ptr<pugi::xml_document> m_pDoc;  // never null
};

}  // namespace Kyrofm

#endif
