// KyroMsg.h: the platform message and resource-string service, as far as the
// library uses it: the language in which texts are shown to users, and the
// localised resource strings addressed by a key and a field (audit operation
// descriptions, labels).
//
// An in-process registry: the language is "en_US" unless the environment
// variable KYRO_LANGUAGE names another when the object is made, or the host
// sets one. Resource strings are registered by the host (or a test); a string
// that is not registered reads as the last component of its key (the text
// after the last '/'), or as the field name when the key ends with '/'.
//
// Ownership and threads: one process-wide object (instance/destroy); every
// operation may be called from any thread.
#ifndef FM_PLATFORM_KYROMSG_H
#define FM_PLATFORM_KYROMSG_H

#include <atomic>
#include <mutex>
#include <map>
#include <string>
#include <utility>

namespace Kyrofm {

class KyroMsg {
 public:
  static KyroMsg* instance();
  static void destroy();

  // The language of the service's texts, e.g. "en_US" or "zh_CN".
  std::string getLanguage() const;
  // Sets the language; an empty text is ignored.
  void setLanguage(const std::string& language);

  // The localised text of (key, field), see above for unregistered strings.
  std::wstring getResString(const std::string& key, const std::string& field) const;
  void setResString(const std::string& key, const std::string& field, const std::wstring& text);
  void clearResStrings();

  KyroMsg(const KyroMsg&) = delete;
  KyroMsg& operator=(const KyroMsg&) = delete;
  ~KyroMsg() = default;

 private:
  KyroMsg();

  static std::atomic<KyroMsg*> _instance;
  static std::mutex _instanceMutex;

  mutable std::mutex m_mutex;
  std::string m_strLanguage;
  std::map<std::pair<std::string, std::string>, std::wstring> m_resStrings;
};

}  // namespace Kyrofm

#endif
