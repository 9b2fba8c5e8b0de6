// KyroMsg.h: the platform message and resource-string service, as far as the
// library uses it: the language in which texts are shown to users.
//
// An in-process registry: the language is "en_US" unless the environment
// variable KYRO_LANGUAGE names another when the object is made, or the host
// sets one.
//
// Ownership and threads: one process-wide object (instance/destroy); every
// operation may be called from any thread.
#ifndef FM_PLATFORM_KYROMSG_H
#define FM_PLATFORM_KYROMSG_H

#include <atomic>
#include <mutex>
#include <string>

namespace Kyrofm {

class KyroMsg {
 public:
  static KyroMsg* instance();
  static void destroy();

  // The language of the service's texts, e.g. "en_US" or "zh_CN".
  std::string getLanguage() const;
  // Sets the language; an empty text is ignored.
  void setLanguage(const std::string& language);

  KyroMsg(const KyroMsg&) = delete;
  KyroMsg& operator=(const KyroMsg&) = delete;
  ~KyroMsg() = default;

 private:
  KyroMsg();

  static std::atomic<KyroMsg*> _instance;
  static std::mutex _instanceMutex;

  mutable std::mutex m_mutex;
  std::string m_strLanguage;
};

}  // namespace Kyrofm

#endif
